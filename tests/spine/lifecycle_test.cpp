// An instance's life with and without a JVM, the bridge's thread scope
// (through a fake JavaVM), how Java's answers become the host's codes, and
// the rig's watch for JNI warnings.
#include <string>
#include <tuple>
#include <vector>

#include "bridge/ScopedJni.h"
#include "kq/ReturnCodes.h"
#include "tests/support/Script.h"

namespace kq {
namespace test {
namespace {

const std::string kInitIsCalled = "KQAzureCommunicationMgr::Init is Called";
const std::string kNotInitialised = "jniObj is not instaialized";
const std::string kNotAttached = "Thread is not attached properly..";

TEST_F(ScriptedTest, AnUnusableJvmHandleGivesAnInstanceWithoutBridge) {
  for (int level = 0; level < 3; ++level) {
    SCOPED_TRACE("null at level " + std::to_string(level));
    log.Mark();
    Instance plugin = Instance::WithVm(nullptr, level);
    testing::internal::CaptureStdout();
    EXPECT_EQ(plugin->Init(W("arg"), W(InstallRoot())), 2u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "Init asked the JVM holder without a bridge";
    EXPECT_EQ(plugin->InitLibrary(W("arg")), 2u);
    EXPECT_EQ(plugin->DeInit(), 2u);
    plugin.Release();
    EXPECT_EQ(log.Since(), (Lines{kInitIsCalled, "JVM is NULL", kInitIsCalled, kNotInitialised, kNotInitialised,
                                  kNotInitialised, kNotInitialised}));
  }
  EXPECT_TRUE(Script::Journal().empty());
}

TEST_F(ScriptedTest, InitLibraryHandsAzureInitTheArgumentAndTheRootUntilDeInit) {
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(plugin->InitLibrary(W("first")), 0u);
  EXPECT_EQ(plugin->InitLibrary(W("")), 0u);  // every InitLibrary reaches Java
  EXPECT_EQ(plugin->DeInit(), 0u);
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(plugin->DeInit(), 40u);
  plugin.Release();
  const std::string root = "\"" + InstallRoot() + "\"";
  EXPECT_EQ(Script::Journal(), (Lines{"<init>/1(" + root + ")", "AzureInit/2(\"first\", " + root + ")",
                                      "AzureInit/2(\"\", " + root + ")", "AzureDeInit/0()"}));
  EXPECT_EQ(log.Since(), (Lines{kInitIsCalled, "DeInit Vm called..."}));
}

// A JavaVM whose invocation functions answer as told, for what a real JVM
// will not do on demand: refuse an attach, hand out no environment, or give
// a thread it calls unattached the caller's own environment.
struct FakeVm {
  FakeVm(jint getEnv, jint attach, JNIEnv* env) : getEnvResult(getEnv), attachResult(attach), env(env) {
    functions.reserved0 = this;
    functions.GetEnv = [](JavaVM* vm, void** env, jint) { return Of(vm).Answer(Of(vm).getEnvResult, env); };
    functions.AttachCurrentThread = functions.AttachCurrentThreadAsDaemon = [](JavaVM* vm, void** env, void*) {
      return ++Of(vm).attaches, Of(vm).Answer(Of(vm).attachResult, env);
    };
    functions.DetachCurrentThread = [](JavaVM* vm) { return ++Of(vm).detaches, JNI_OK; };
    functions.DestroyJavaVM = [](JavaVM* vm) { return ++Of(vm).destroys, JNI_ERR; };
  }
  static FakeVm& Of(JavaVM* vm) { return *static_cast<FakeVm*>(vm->functions->reserved0); }
  jint Answer(jint result, void** out) {
    *out = result == JNI_OK ? env : nullptr;
    return result;
  }
  jint getEnvResult, attachResult;
  JNIEnv* env;  // what a GetEnv or an attach that answers JNI_OK hands out
  int attaches = 0, detaches = 0, destroys = 0;
  JNIInvokeInterface_ functions{};
  JavaVM vm{&functions};
};

TEST_F(ScriptedTest, TheBridgeDetachesOnlyTheThreadsItAttached) {
  struct Case {
    const char* thread;
    jint getEnv, attach;
    bool env;
    uint32_t code;
    int attaches, detaches;  // over the creation and one InitLibrary
  } cases[] = {
      {"attach refused", JNI_EDETACHED, JNI_ERR, false, 40, 2, 0},
      {"attach without environment", JNI_EDETACHED, JNI_OK, false, 40, 2, 0},
      {"version refused", JNI_EVERSION, JNI_OK, true, 40, 0, 0},
      {"not attached", JNI_EDETACHED, JNI_OK, true, 0, 2, 2},
      {"attached by the host", JNI_OK, JNI_ERR, true, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.thread);
    FakeVm fake(c.getEnv, c.attach, c.env ? CurrentEnv() : nullptr);
    log.Mark();
    {
      Instance plugin = Instance::WithVm(&fake.vm);
      EXPECT_EQ(plugin->InitLibrary(W("arg")), c.code);
      EXPECT_EQ(plugin->CheckBridge(), 0u);  // answered without Java
    }
    EXPECT_EQ(log.Since(), c.code == 0 ? Lines{kInitIsCalled} : (Lines{kInitIsCalled, kNotAttached, kNotAttached}));
    EXPECT_EQ(std::make_pair(fake.attaches, fake.detaches), std::make_pair(c.attaches, c.detaches));
    EXPECT_EQ(fake.destroys, 0) << "the plug-in never destroys the host's VM";
  }
}

// Every ordinal Java can answer, those the table does not know included,
// reaches the host as the code table maps it (tests/codes checks the table);
// an answer without a usable error object is a bridge failure.
TEST_F(ScriptedTest, JavasAnswerReachesTheHostMapped) {
  Instance plugin = Instance::WithTestVm();
  const std::string text = "no account " + std::string(3000, 'x');  // written whole, however long
  const Lines noClass{"Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)"};
  std::vector<std::tuple<std::string, uint32_t, Lines>> cases = {
      {"null", 40, {"Init:: Could not get the error object"}},
      {"noid:0", 40, noClass},  // an error object without identifier, whatever its ordinal
      {"noid:3", 40, noClass},
      {"throw",
       40,
       {"Descrption is failed", "java.lang.RuntimeException: " + text, "Init:: Could not get the error object"}},
  };
  for (int ordinal = -1; ordinal <= 60; ++ordinal)
    cases.push_back({"ord:" + std::to_string(ordinal), CodeOfOrdinal(ordinal), {}});
  for (const auto& [answer, code, lines] : cases) {
    SCOPED_TRACE(answer);
    Script::Reset();  // a throw stays scripted otherwise
    if (answer == "throw") {
      Script::Throws("AzureInit/2", text);
    } else {
      Script::Returns("AzureInit/2", answer);
    }
    log.Mark();
    EXPECT_EQ(plugin->InitLibrary(W("arg")), code);
    EXPECT_EQ(log.Since(), lines);
  }
}

TEST_F(ScriptedTest, TheRigSeesAJniWarning) {
  JNIEnv* env = CurrentEnv();
  ScopedLocalRef<jclass> missing(env, env->FindClass("no/Such"));
  ScopedLocalRef<jclass> string(env, env->FindClass("java/lang/String"));  // with the lookup's error pending
  env->ExceptionClear();
  EXPECT_EQ(TakeJniWarnings(), "WARNING in native method");
}

}  // namespace
}  // namespace test
}  // namespace kq
