// An instance's life: creation with and without a JVM, InitLibrary and the
// manager's Init, DeInit, Release; and the threads the bridge runs on.
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

const std::string kNotInitialised = "jniObj is not instaialized";
const std::string kInitIsCalled = "KQAzureCommunicationMgr::Init is Called";

class Lifecycle : public SpineTest {
 protected:
  std::string Root() const { return Quoted(InstallRoot()); }
};

TEST_F(Lifecycle, AnUnusableJvmHandleGivesAnInstanceWithoutBridge) {
  for (int level = 0; level < 3; ++level) {
    SCOPED_TRACE("null at level " + std::to_string(level));
    log.Mark();
    Instance plugin = Instance::WithNullHandleAt(level);
    EXPECT_EQ(log.Since(), (Lines{kInitIsCalled, "JVM is NULL"}));

    log.Mark();
    EXPECT_EQ(plugin->InitLibrary(W("arg")), 2u);
    EXPECT_EQ(plugin->DeInit(), 2u);
    plugin.Release();
    EXPECT_EQ(log.Since(), (Lines{kNotInitialised, kNotInitialised, kNotInitialised}));
  }
  EXPECT_TRUE(Script::Journal().empty());
}

TEST_F(Lifecycle, InitLibraryHandsAzureInitTheArgumentAndTheInstallRoot) {
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(log.Since(), Lines{kInitIsCalled});
  EXPECT_EQ(plugin->InitLibrary(W("first")), 0u);
  // Again: every InitLibrary reaches Java.
  EXPECT_EQ(plugin->InitLibrary(W("")), 0u);
  EXPECT_EQ(Script::Journal(), (Lines{"<init>/1(" + Root() + ")", "AzureInit/2(\"first\", " + Root() + ")",
                                      "AzureInit/2(\"\", " + Root() + ")"}));
  EXPECT_EQ(log.Since(), Lines{kInitIsCalled});
}

TEST_F(Lifecycle, AfterDeInitTheBridgeNoLongerCallsJava) {
  Instance plugin = Instance::WithTestVm();
  Script::ClearJournal();
  log.Mark();
  EXPECT_EQ(plugin->DeInit(), 0u);
  EXPECT_EQ(log.Since(), Lines{"DeInit Vm called..."});
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(plugin->DeInit(), 40u);
  plugin.Release();
  EXPECT_EQ(Script::Journal(), Lines{"AzureDeInit/0()"});
  EXPECT_EQ(log.Since(), Lines{"DeInit Vm called..."});
}

TEST_F(Lifecycle, DeInitDecodesTheAnswerAndLetsGoOfTheLibraryWhateverItSays) {
  struct Case {
    const char* answer;
    uint32_t code;
  };
  for (const Case& c : {Case{"ord:3", 7u}, Case{"null", 40u}}) {
    SCOPED_TRACE(c.answer);
    Instance plugin = Instance::WithTestVm();
    Script::Returns("AzureDeInit/0", c.answer);
    EXPECT_EQ(plugin->DeInit(), c.code);
    EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  }
}

TEST_F(Lifecycle, AzureDeInitThatThrowsIsDescribedAndStillEndsTheJavaSide) {
  Instance plugin = Instance::WithTestVm();
  Script::Throws("AzureDeInit/0", "deinit failed");
  log.Mark();
  EXPECT_EQ(plugin->DeInit(), 40u);
  EXPECT_EQ(log.Since(), (Lines{"Descrption is failed", "java.lang.RuntimeException: deinit failed"}));
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
}

TEST_F(Lifecycle, ReleaseMakesNoJavaCall) {
  Instance plugin = Instance::WithTestVm();
  Script::ClearJournal();
  log.Mark();
  plugin.Release();
  EXPECT_TRUE(Script::Journal().empty());
  EXPECT_TRUE(log.Since().empty());
}

TEST_F(Lifecycle, AnotherRootGetsItsFolderButTheProcessKeepsItsFirstLog) {
  namespace fs = std::filesystem;
  const fs::path other = fs::path(InstallRoot()) / "other-root";
  fs::create_directories(other / "Plugin" / "Azure");
  {
    Instance plugin = Instance::WithTestVmAt(W(other.string()));
    EXPECT_EQ(plugin->InitLibrary(W("arg")), 0u);
  }
  EXPECT_TRUE(fs::is_directory(other / "Plugin" / "Azure" / "Log"));
  EXPECT_FALSE(fs::exists(other / "Plugin" / "Azure" / "Log" / "JNIWrapper0.log"));
  EXPECT_EQ(log.Since(), Lines{kInitIsCalled});
  const std::string root = Quoted(other.string());
  EXPECT_EQ(Script::Journal(), (Lines{"<init>/1(" + root + ")", "AzureInit/2(\"arg\", " + root + ")"}));
}

TEST_F(Lifecycle, ManagerInitTakesTheLogButCallsJavaOnlyWithAReadyJvmHolder) {
  Instance plugin = Instance::WithTestVm();
  Script::ClearJournal();
  log.Mark();
  // The process-wide JVM holder never has a VM of its own, so this Init
  // does not reach Java and reports nothing to do.
  EXPECT_EQ(plugin->Init(W("arg"), InstallRootW()), 0u);
  EXPECT_TRUE(Script::Journal().empty());
  const Lines lines = log.Since();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), kInitIsCalled);
}

TEST_F(Lifecycle, ManagerInitWithoutBridgeAnswers2AfterTakingTheLog) {
  Instance plugin = Instance::WithVm(nullptr);
  log.Mark();
  EXPECT_EQ(plugin->Init(W("arg"), InstallRootW()), 2u);
  EXPECT_EQ(log.Since(), (Lines{kInitIsCalled, kNotInitialised}));
}

TEST_F(Lifecycle, AHostThreadIsAttachedForTheCallAndDetachedAfterIt) {
  Instance plugin = Instance::WithTestVm();
  RunOnNewThread([&] {
    void* env = nullptr;
    ASSERT_EQ(TestVm()->GetEnv(&env, JNI_VERSION_1_6), JNI_EDETACHED);
    EXPECT_EQ(plugin->InitLibrary(W("from a host thread")), 0u);
    EXPECT_EQ(TestVm()->GetEnv(&env, JNI_VERSION_1_6), JNI_EDETACHED);
  });
  const Lines journal = Script::Journal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.back(), "AzureInit/2(\"from a host thread\", " + Root() + ")");
}

TEST_F(Lifecycle, AThreadTheHostAttachedStaysAttached) {
  // The test's main thread made the JVM and is attached; the plug-in must
  // not detach it under the host's feet.
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 0u);
  void* env = nullptr;
  EXPECT_EQ(TestVm()->GetEnv(&env, JNI_VERSION_1_6), JNI_OK);
  EXPECT_EQ(env, CurrentEnv());
}

TEST_F(Lifecycle, OneInstanceServesManyThreadsAtOnce) {
  Instance plugin = Instance::WithTestVm();
  Script::ClearJournal();
  constexpr int kThreads = 4;
  constexpr int kCalls = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) {
        if (plugin->InitLibrary(W("concurrent")) != 0u) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Script::Journal().size(), static_cast<size_t>(kThreads * kCalls));
}

TEST(FreshLog, TheFileStartsWithTheFirstInstancesRecords) {
  // The rig made an instance without JVM before the first test.
  const Lines all = LogReader().All();
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(Lines(all.begin(), all.begin() + 3), (Lines{kInitIsCalled, "JVM is NULL", kNotInitialised}));
}

}  // namespace
}  // namespace test
}  // namespace kq
