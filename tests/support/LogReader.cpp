#include "tests/support/LogReader.h"

#include <gtest/gtest.h>

#include "tests/platform/test_support.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

std::string LogBytes() { return kq::testing::ReadBytes(LogFolder() + "/JNIWrapper0.log"); }

}  // namespace

void LogReader::Mark() { mark_ = LogBytes().size() / 2; }

std::vector<std::string> LogReader::Since() const {
  std::string bytes = LogBytes();
  bytes.erase(0, bytes.size() >= 2 * mark_ ? 2 * mark_ : 0);  // all of it if the log rotated
  std::vector<std::string> messages;
  for (const kq::testing::LogRecord& record : kq::testing::LogRecords(bytes)) {
    if (record.text == KQ_W("<torn>")) {
      ADD_FAILURE() << "the log does not go on with a record: " << U8(record.raw.substr(0, 60));
      break;
    }
    messages.push_back(U8(record.text));
  }
  return messages;
}

}  // namespace test
}  // namespace kq
