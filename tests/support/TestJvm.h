// The test rig: one embedded JVM per test process, a scratch installation
// root shared by the process's tests, a watch on the JVM's output and a
// reader of the plug-in's log.
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
std::string LogFolder();           // InstallRoot() + "/Plugin/Azure/Log"

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

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_TESTJVM_H_
