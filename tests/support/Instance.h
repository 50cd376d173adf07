// A plug-in instance made through CreateInstance under InstallRoot(),
// released at scope end; the fixture of the JVM tests.
#ifndef KQ_TESTS_SUPPORT_INSTANCE_H_
#define KQ_TESTS_SUPPORT_INSTANCE_H_

#include <gtest/gtest.h>
#include <jni.h>

#include "kq/CloudPluginInterface.h"
#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

class Instance {
 public:
  // With the test JVM, or with this VM pointer (a fake one, or null) behind a
  // jvmHandle that stops short at `level`: 0 = the handle itself is null,
  // 1 = it points at a null pointer.
  static Instance WithTestVm() { return WithVm(TestVm()); }
  static Instance WithVm(JavaVM* vm, int level = 2) {
    JavaVM** inner = level >= 2 ? &vm : nullptr;
    return Instance(CreateInstance(W(InstallRoot()), level >= 1 ? &inner : nullptr));
  }

  Instance(Instance&& other) noexcept : plugin_(other.plugin_) { other.plugin_ = nullptr; }
  ~Instance() { Release(); }
  ICloudPluginInterface* get() const { return plugin_; }
  ICloudPluginInterface* operator->() const { return plugin_; }
  void Release() {  // now; the destructor then does nothing
    if (plugin_ != nullptr) plugin_->Release();
    plugin_ = nullptr;
  }

 private:
  explicit Instance(ICloudPluginInterface* plugin) : plugin_(plugin) { EXPECT_NE(plugin, nullptr); }
  ICloudPluginInterface* plugin_;
};

// A test of the JVM programs: a log mark at its start, and no Java exception
// left on its thread at its end.
class JvmTest : public ::testing::Test {
 protected:
  void SetUp() override { log.Mark(); }
  void TearDown() override { EXPECT_FALSE(CurrentEnv()->ExceptionCheck()) << "a Java exception was left pending"; }
  LogReader log;
};

// One whose program has the test library on its class path: its script starts clean.
class ScriptedTest : public JvmTest {
 protected:
  void SetUp() override {
    Script::Reset();
    JvmTest::SetUp();
  }
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_INSTANCE_H_
