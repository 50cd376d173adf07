// The manager's Init, the second way to initialise the Java side: it takes
// the log and asks the process-wide JVM holder for a VM, which never has one,
// so Java is not called.
#include <algorithm>

#include "bridge/JvmHost.h"
#include "tests/account/account_test.h"

namespace kq {
namespace test {
namespace {

const char kInitIsCalled[] = "KQAzureCommunicationMgr::Init is Called";

class ManagerInit : public AccountTest {};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// With a bridge: the JVM is not ready, Init answers 0 and Java sees nothing;
// the acquisition built the class path for the root Init was given and
// printed its traces.
TEST_F(ManagerInit, WithBridgeTheJvmIsNotReadyAndJavaIsNotCalled) {
  Instance plugin = Instance::WithTestVm();
  Script::ClearJournal();
  log.Mark();
  ::testing::internal::CaptureStdout();
  const uint32_t code = plugin->Init(W("arg"), InstallRootW());
  const std::string traces = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(Script::Journal().empty());
  EXPECT_EQ(log.Since(), (Lines{kInitIsCalled, "InitialiseCommunication::JVM is not intailzed properly..."}));

  EXPECT_EQ(traces.rfind("path -Djava.class.path=.;", 0), 0u) << traces;
  EXPECT_EQ(Count(traces, "path "), 9u) << traces;
  const std::string attempt = "Attempting to create JVM.";
  ASSERT_GE(traces.size(), attempt.size());
  EXPECT_EQ(traces.substr(traces.size() - attempt.size()), attempt);
  EXPECT_EQ(traces.find('\n'), std::string::npos);
  const std::string folder = InstallRoot() + "/Plugin/Azure/";
  EXPECT_EQ(U8(CJVMHost::Instance().ClassPath()),
            "-Djava.class.path=.;" + folder + "KQAzurePlugIn.jar;" + folder + "log4j-1.2.15.jar;" + folder +
                "commons-logging-1.1.1.jar;" + folder + "KQ-AWSSDK.jar;" + folder + "httpclient-4.1.1.jar;" +
                folder + "commons-codec-1.4.jar;" + folder + "jackson-core-asl-1.9.2.jar;" + folder +
                "stax-1.2.0.jar;" + folder + "stax-api-1.0.1.jar;");

  // The bridge made at creation still reaches Java.
  EXPECT_EQ(plugin->CheckConnectivity(), 0u);
  EXPECT_EQ(Script::Journal(), Lines{"CheckConnectivity/0()"});
}

// Without a bridge, however the host's handle falls short: Init takes the
// log, answers 2 like every other operation without a bridge, and neither
// asks the holder nor crashes.
TEST_F(ManagerInit, WithoutBridgeAnswers2) {
  for (int level = 0; level <= 3; ++level) {
    SCOPED_TRACE("handle null at level " + std::to_string(level));
    Instance plugin = level < 3 ? Instance::WithNullHandleAt(level) : Instance::WithVm(nullptr);
    log.Mark();
    ::testing::internal::CaptureStdout();
    const uint32_t code = plugin->Init(W("arg"), InstallRootW());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(code, 2u);
    EXPECT_EQ(log.Since(), (Lines{kInitIsCalled, "jniObj is not instaialized"}));
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
