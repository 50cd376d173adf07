// The JVM holder: the class path it composes, the traces it prints, and that
// acquiring a VM through it never hands one out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/JniWrapper.h"
#include "bridge/JvmHost.h"
#include "platform/Platform.h"

namespace {

using kq::platform::kPathSeparator;
using kq::platform::WideToAnsi;

const std::vector<std::u16string> kJarNames = {
    u"KQAzurePlugIn.jar;",         u"log4j-1.2.15.jar;",   u"commons-logging-1.1.1.jar;",
    u"KQ-AWSSDK.jar;",             u"httpclient-4.1.1.jar;", u"commons-codec-1.4.jar;",
    u"jackson-core-asl-1.9.2.jar;", u"stax-1.2.0.jar;",      u"stax-api-1.0.1.jar;",
};

WString W(const std::u16string& text) { return WString(text.begin(), text.end()); }

WString JarFolder(const WString& root) {
  WString folder = root;
  for (const char16_t* part : {u"Plugin", u"Azure"}) {
    folder += kPathSeparator;
    folder += W(part);
  }
  folder += kPathSeparator;
  return folder;
}

// What one acquisition with `root` must leave: the class path, and the traces
// printed on the way (one per jar, with the path so far, then the attempt).
struct Expected {
  WString classPath;
  std::string traces;
};

Expected ExpectedFor(const WString& root) {
  Expected e;
  e.classPath = W(u"-Djava.class.path=.;");
  for (const auto& jar : kJarNames) {
    e.traces += "path " + WideToAnsi(e.classPath);
    e.classPath += JarFolder(root) + W(jar);
  }
  e.traces += "Attempting to create JVM.";
  return e;
}

struct Acquisition {
  uint32_t code;
  JavaVM* out;
  std::string stdoutText;
};

JavaVM* const kUntouched = reinterpret_cast<JavaVM*>(0x5a5a);

Acquisition Acquire(CJVMHost& host, const WString& root) {
  Acquisition a{0, kUntouched, {}};
  testing::internal::CaptureStdout();
  a.code = host.AcquireJVM(root, &a.out);
  a.stdoutText = testing::internal::GetCapturedStdout();
  return a;
}

TEST(JvmHost, StartsEmpty) {
  CJVMHost host;
  EXPECT_TRUE(host.ClassPath().empty());
  EXPECT_TRUE(host.InstallDir().empty());
  EXPECT_EQ(host.RefCount(), 0);
  EXPECT_EQ(host.RegisteredVM(), nullptr);
}

// Each acquisition rebuilds the class path from the root it is given, prints
// its traces without line breaks, and hands nothing out, with or without a
// registered VM.
TEST(JvmHost, AcquisitionBuildsClassPathAndHandsNothingOut) {
  struct Row {
    const char* what;
    std::u16string root;
    bool registerVm;
  };
  const Row rows[] = {
      {"plain root", u"/opt/host", false},
      {"root with a registered VM", u"/opt/host", true},
      {"another root rebuilds, never appends", u"C:\\Program Files\\Host", true},
      {"non-ASCII root traced as narrow text", u"/srv/h\u00f4te \u6570\u636e", false},
      {"empty root", u"", false},
  };
  CJVMHost host;  // one holder through all rows: later rows are later acquisitions
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.registerVm) host.RegisterVM(reinterpret_cast<JavaVM*>(0x1234));
    const WString root = W(row.root);
    const Expected expected = ExpectedFor(root);
    const Acquisition a = Acquire(host, root);
    EXPECT_EQ(a.code, KQ_BRIDGE_FAILURE);
    EXPECT_EQ(a.out, kUntouched);
    EXPECT_EQ(host.RefCount(), 0);
    EXPECT_TRUE(host.ClassPath() == expected.classPath) << WideToAnsi(host.ClassPath());
    EXPECT_TRUE(host.InstallDir() == JarFolder(root));
    EXPECT_EQ(a.stdoutText, expected.traces);
  }
}

// The root is the host's text up to its first zero.
TEST(JvmHost, RootStopsAtFirstZero) {
  CJVMHost host;
  WString root = W(u"/opt/a");
  root.push_back(0);
  root += W(u"hidden");
  Acquire(host, root);
  EXPECT_TRUE(host.ClassPath() == ExpectedFor(W(u"/opt/a")).classPath);
}

TEST(JvmHost, CreateJvmStartsNothing) {
  CJVMHost host;
  testing::internal::CaptureStdout();
  JNIEnv* env = host.CreateJVM(W(u"-Djava.class.path=.;x.jar;"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Attempting to create JVM.");
  EXPECT_EQ(env, nullptr);
}

// Every bridge registers the host's VM with the process-wide holder as it is
// made; the last one made wins, a bridge without a VM included.
TEST(JvmHost, EveryBridgeRegistersItsVm) {
  JavaVM* first = reinterpret_cast<JavaVM*>(0x1000);
  JavaVM* second = reinterpret_cast<JavaVM*>(0x2000);
  JavaVM** firstHandle = &first;
  JavaVM** secondHandle = &second;
  {
    CJNIWrapper a(W(u"/opt/host"), &firstHandle);
    EXPECT_EQ(CJVMHost::Instance().RegisteredVM(), first);
    CJNIWrapper b(W(u"/opt/host"), &secondHandle);
    EXPECT_EQ(CJVMHost::Instance().RegisteredVM(), second);
  }
  // Destroying a bridge does not unregister.
  EXPECT_EQ(CJVMHost::Instance().RegisteredVM(), second);
  CJNIWrapper none(W(u"/opt/host"), nullptr);
  EXPECT_EQ(CJVMHost::Instance().RegisteredVM(), nullptr);
}

// The bridge asks the process-wide holder and is never told the VM is
// ready; its own VM stays as it was.
TEST(JvmHost, InitialiseCommunicationAnswersNotReady) {
  JavaVM* vm = reinterpret_cast<JavaVM*>(0x3000);
  JavaVM** handle = &vm;
  for (JavaVM*** h : {&handle, static_cast<JavaVM***>(nullptr)}) {
    CJNIWrapper bridge(W(u"/opt/host"), h);
    JavaVM* before = bridge.vm();
    testing::internal::CaptureStdout();
    EXPECT_EQ(bridge.InitialiseCommunication(W(u"/opt/host")), 0);
    const std::string traces = testing::internal::GetCapturedStdout();
    EXPECT_EQ(bridge.vm(), before);
    EXPECT_EQ(traces, ExpectedFor(W(u"/opt/host")).traces);
    EXPECT_TRUE(CJVMHost::Instance().ClassPath() == ExpectedFor(W(u"/opt/host")).classPath);
  }
}

}  // namespace
