// The test rig: one embedded JVM per test process, a scratch installation
// root shared by the process's tests, a watch on the JVM's output, a reader
// of the plug-in's log, plug-in instances and the fixture of the JVM tests.
//
// The JVM runs with -Xcheck:jni and the test jars on its class path (chosen
// per test program by kq_add_jvm_test).  Its output passes through a hook;
// "WARNING in native method" or "JNI local refs" in it fails the run and
// names the test that was running.
//
// The log writer is process-wide and keeps the first folder it is given, so
// every test of a process works under InstallRoot(); the rig creates the log
// folder there before the first test.  A test that needs a log of its own
// runs as a ctest entry of its own (kq_add_jvm_test ISOLATED).
#ifndef KQ_TESTS_SUPPORT_TESTJVM_H_
#define KQ_TESTS_SUPPORT_TESTJVM_H_

#include <gtest/gtest.h>
#include <jni.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kq/CloudPluginInterface.h"

namespace kq {
namespace test {

const char* TestClassPath();  // defined per test program by kq_add_jvm_test

JavaVM* TestVm();
JNIEnv* CurrentEnv();  // null if the calling thread is not attached (the main thread is)

const std::string& InstallRoot();  // <tmp>/kq-<program>-XXXXXX, with Plugin/Azure below it

using Lines = std::vector<std::string>;

// The lines of a text written "a\nb" (none for ""), or its parts between
// another separator: keeps tables of expected log lines one row a case.
inline Lines Split(const std::string& text, char separator = '\n') {
  Lines lines;
  for (size_t start = 0; !text.empty() && start <= text.size();) {
    const size_t end = std::min(text.find(separator, start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Reads the plug-in's log back: the messages, as UTF-8, of the records in the
// process's JNIWrapper0.log (UTF-16LE; "\r\n", a stamp, " :", the message).
class LogReader {
 public:
  // Remembers where the log ends; Since() gives the records written after
  // it (a stamp out of shape fails the test).
  void Mark();
  Lines Since() const;

 private:
  size_t mark_ = 0;  // in UTF-16 code units
};

// For a test that makes the JVM warn on purpose: the warnings printed so far
// (e.g. "WARNING in native method", or ""); they no longer fail the run.
std::string TakeJniWarnings();

WString W(const std::string& utf8);
std::string U8(const WString& text);
std::string Utf8(JNIEnv* env, jstring text);  // a Java string's text, "null" for none
// Host values as the tables write them: maps "k=v,k2=v2", sub-lists
// "f1{k=v};f2{}" (a file without a map "f<null>"), lists "a,b", account
// records "reserved,identity,type,name,mail,used,remained".
std::string Show(const MetaDataMap& map);
std::string Show(const ObjectSubList& list);
std::string Show(const WStringList& list);
std::string Show(const AccountInfoRecord& info);

// A plug-in instance made through CreateInstance under InstallRoot(),
// released at scope end.
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

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_TESTJVM_H_
