// Reads the plug-in's log back: the messages, as UTF-8, of the records in the
// process's JNIWrapper0.log (UTF-16LE; "\r\n", a stamp, " :", the message).
#ifndef KQ_TESTS_SUPPORT_LOGREADER_H_
#define KQ_TESTS_SUPPORT_LOGREADER_H_

#include <algorithm>
#include <string>
#include <vector>

namespace kq {
namespace test {

using Lines = std::vector<std::string>;

// The lines of a text written "a\nb" (none for ""): keeps tables of expected
// log lines one row a case.
inline Lines Split(const std::string& text) {
  Lines lines;
  for (size_t start = 0; !text.empty() && start <= text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class LogReader {
 public:
  // Remembers where the log ends; Since() gives the records written after
  // it (a stamp out of shape fails the test).
  void Mark();
  Lines Since() const;

 private:
  size_t mark_ = 0;  // in UTF-16 code units
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_LOGREADER_H_
