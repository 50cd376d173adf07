// What the spine tests share: each starts with a log mark (and, where the
// test library is on the class path, a clean script) and ends with no Java
// exception left on its thread.
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

class SpineTest : public JvmTest {
 protected:
  void SetUp() override {
    Script::Reset();
    log.Mark();
  }
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SPINE_SPINE_TEST_UTIL_H_
