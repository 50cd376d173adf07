// Reads the plug-in's log back: the messages, as UTF-8, of the records in the
// process's JNIWrapper0.log (UTF-16LE; "\r\n", a stamp, " :", the message).
#ifndef KQ_TESTS_SUPPORT_LOGREADER_H_
#define KQ_TESTS_SUPPORT_LOGREADER_H_

#include <string>
#include <vector>

namespace kq {
namespace test {

class LogReader {
 public:
  // Remembers where the log ends; Since() gives the records written after
  // it (a stamp out of shape fails the test).
  void Mark();
  std::vector<std::string> Since() const;

 private:
  size_t mark_ = 0;  // in UTF-16 code units
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_LOGREADER_H_
