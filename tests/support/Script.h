// The native side of com.kq.testdouble.Script: scripts the test library and
// reads its journal (see Script.java for keys, value forms and the journal's
// format).  Called on the main thread (or another attached one).  A Java
// exception (a bad value, an unknown class) fails the current test with its text.
#ifndef KQ_TESTS_SUPPORT_SCRIPT_H_
#define KQ_TESTS_SUPPORT_SCRIPT_H_

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

struct Script {
  static void Reset();  // forgets every answer and the journal
  // The method of `key` answers the value written as text: "ord:3",
  // "noid:0", "s:text", "null", "j:42" (for GetObjectActualSize), ...
  static void Returns(const std::string& key, const std::string& value);
  // The method of `key` answers a record: ReturnsBuilt("CreateObject/1",
  // "CCreateFnValue", {"errorValue=ord:0", "objHandle=s:h"}).
  static void ReturnsBuilt(const std::string& key, const std::string& className,
                           const std::vector<std::string>& assignments);
  static void Throws(const std::string& key, const std::string& message);  // a RuntimeException(message)
  static void SetReadCount(const std::string& key, int64_t count);

  static std::vector<std::string> Journal();
  static void ClearJournal();
  // How the journal shows a byte array: "bytes(len=N,crc=xxxxxxxx)".
  static std::string Bytes(const void* data, size_t size);

  // A value in the text forms above, and a record of a model class built of
  // "field=VALUE" assignments in modified UTF-8, as a local reference of the
  // caller's frame; Describe shows a value as the journal does.
  static jobject Parse(const std::string& value);
  static jobject Build(const std::string& className, const std::vector<std::string>& modifiedUtf8);
  static std::string Describe(jobject value);
};

// A JVM test whose program has the test library on its class path: its
// script starts clean.
class ScriptedTest : public JvmTest {
 protected:
  void SetUp() override {
    Script::Reset();
    JvmTest::SetUp();
  }
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_SCRIPT_H_
