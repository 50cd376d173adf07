#include "tests/support/LogReader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

// "YYYY-MM-DD HH:MM:SS.mmm  [pppppppp] [tttttttt] :"
constexpr size_t kStampLength = 48;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexOrSpace(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || c == u' '; }

// Whether a record starts at `at` (its "\r\n").
bool RecordStartsAt(const std::u16string& text, size_t at) {
  if (text.compare(at, 2, u"\r\n") != 0 || at + 2 + kStampLength > text.size()) return false;
  const char16_t* s = text.data() + at + 2;
  static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd  [hhhhhhhh] [hhhhhhhh] :";
  for (size_t i = 0; i < kStampLength; ++i) {
    const char want = kShape[i];
    if (want == 'd' ? !IsDigit(s[i]) : want == 'h' ? !IsHexOrSpace(s[i]) : s[i] != static_cast<char16_t>(want)) {
      return false;
    }
  }
  return true;
}

}  // namespace

LogReader::LogReader() : LogReader(LogFolder()) {}

LogReader::LogReader(std::string folder) : file_(std::move(folder) + "/JNIWrapper0.log") {}

std::u16string LogReader::Content() const {
  std::ifstream in(file_, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

void LogReader::Mark() { mark_ = Content().size(); }

std::vector<std::string> LogReader::Since() const {
  const std::u16string content = Content();
  return Messages(content.size() >= mark_ ? content.substr(mark_) : content);
}

std::vector<std::string> LogReader::All() const { return Messages(Content()); }

std::vector<std::string> LogReader::Messages(const std::u16string& content) {
  std::vector<std::string> messages;
  if (content.empty()) return messages;
  if (!RecordStartsAt(content, 0)) {
    ADD_FAILURE() << "the log does not start with a record: " << U8(content.substr(0, 60));
    return messages;
  }
  size_t start = 0;
  while (start < content.size()) {
    size_t next = content.find(u"\r\n", start + 2);
    while (next != std::u16string::npos && !RecordStartsAt(content, next)) next = content.find(u"\r\n", next + 1);
    const size_t textStart = start + 2 + kStampLength;
    const size_t end = next == std::u16string::npos ? content.size() : next;
    messages.push_back(U8(content.substr(textStart, end - textStart)));
    start = end;
  }
  return messages;
}

}  // namespace test
}  // namespace kq
