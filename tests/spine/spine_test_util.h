// Small helpers shared by the spine tests.
#ifndef KQ_TESTS_SPINE_SPINE_TEST_UTIL_H_
#define KQ_TESTS_SPINE_SPINE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Instance.h"
#include "tests/support/LogReader.h"
#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

using Lines = std::vector<std::string>;

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Every test starts with a log mark and ends with no Java exception left on
// its thread.
class LoggedTest : public ::testing::Test {
 protected:
  void SetUp() override { log.Mark(); }
  void TearDown() override {
    JNIEnv* env = CurrentEnv();
    ASSERT_NE(env, nullptr);
    EXPECT_FALSE(env->ExceptionCheck()) << "a Java exception was left pending";
  }

  LogReader log;
};

// ... and with a clean script of the test library.
class SpineTest : public LoggedTest {
 protected:
  void SetUp() override {
    Script::Reset();
    LoggedTest::SetUp();
  }
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SPINE_SPINE_TEST_UTIL_H_
