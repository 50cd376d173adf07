// The test rig: one embedded JVM per test process, a scratch installation
// root shared by the process's tests, and a watch on the JVM's output.
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

#include <jni.h>

#include <string>

#include "kq/CloudPluginInterface.h"

namespace kq {
namespace test {

const char* TestClassPath();  // defined per test program by kq_add_jvm_test

JavaVM* TestVm();
JNIEnv* CurrentEnv();  // null if the calling thread is not attached (the main thread is)

const std::string& InstallRoot();  // <tmp>/kq-<program>-XXXXXX, with Plugin/Azure below it
std::string LogFolder();           // InstallRoot() + "/Plugin/Azure/Log"

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

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_TESTJVM_H_
