#include "tests/support/LogReader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

// What starts a record: d is a digit, h a hexadecimal digit or a space.
constexpr char kStart[] = "\r\ndddd-dd-dd dd:dd:dd.ddd  [hhhhhhhh] [hhhhhhhh] :";
constexpr size_t kStartLength = sizeof kStart - 1;

bool RecordStartsAt(const std::u16string& text, size_t at) {
  for (size_t i = 0; i < kStartLength; ++i) {
    const char16_t c = at + i < text.size() ? text[at + i] : u'\0';
    const bool digit = c >= u'0' && c <= u'9', hex = digit || (c >= u'a' && c <= u'f') || c == u' ';
    if (kStart[i] == 'd' ? !digit : kStart[i] == 'h' ? !hex : c != static_cast<char16_t>(kStart[i])) return false;
  }
  return true;
}

std::u16string Content() {
  std::ifstream in(LogFolder() + "/JNIWrapper0.log", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

}  // namespace

void LogReader::Mark() { mark_ = Content().size(); }

std::vector<std::string> LogReader::Since() const {
  std::u16string content = Content();
  content.erase(0, content.size() >= mark_ ? mark_ : 0);  // all of it if the log rotated
  std::vector<std::string> messages;
  if (!content.empty() && !RecordStartsAt(content, 0)) {
    ADD_FAILURE() << "the log does not go on with a record: " << U8(content.substr(0, 60));
    return messages;
  }
  for (size_t start = 0; start < content.size();) {
    size_t next = content.find(u"\r\n", start + 2);
    while (next != std::u16string::npos && !RecordStartsAt(content, next)) next = content.find(u"\r\n", next + 1);
    const size_t end = next == std::u16string::npos ? content.size() : next;
    messages.push_back(U8(content.substr(start + kStartLength, end - start - kStartLength)));
    start = end;
  }
  return messages;
}

}  // namespace test
}  // namespace kq
