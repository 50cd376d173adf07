// Reads the plug-in's log back: the messages of the records in
// JNIWrapper0.log (UTF-16LE, each record "\r\n" + a 48-character stamp
// ending in " :" + the message), as UTF-8.
#ifndef KQ_TESTS_SUPPORT_LOGREADER_H_
#define KQ_TESTS_SUPPORT_LOGREADER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kq {
namespace test {

class LogReader {
 public:
  // The process's log folder (LogFolder()) unless told otherwise.
  LogReader();
  explicit LogReader(std::string folder);

  // Remembers where the log ends now; Since() returns what follows.
  void Mark();
  std::vector<std::string> Since() const;
  std::vector<std::string> All() const;

  // The messages of a file's content; a stamp that does not have the
  // record's shape is a test failure.
  static std::vector<std::string> Messages(const std::u16string& content);

 private:
  std::u16string Content() const;

  std::string file_;
  size_t mark_ = 0;  // in UTF-16 code units
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_LOGREADER_H_
