// Failures a real JVM does not produce on demand, through a JavaVM whose
// invocation functions the test scripts.
#include "tests/spine/spine_test_util.h"
#include "tests/support/FakeJavaVM.h"

namespace kq {
namespace test {
namespace {

const std::string kNotAttached = "Thread is not attached properly..";

class FakeVm : public SpineTest {
 protected:
  FakeJavaVM fake;
};

TEST_F(FakeVm, ARefusedAttachIsABridgeFailureAndNothingIsDetached) {
  fake.attachResult = JNI_ERR;
  Instance plugin = Instance::WithVm(fake.vm());
  // StartCommunication already met the refusal.
  EXPECT_EQ(log.Since(), (Lines{"KQAzureCommunicationMgr::Init is Called", kNotAttached}));
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(plugin->DeInit(), 40u);
  EXPECT_EQ(log.Since(), (Lines{kNotAttached, kNotAttached}));
  EXPECT_EQ(fake.attachCalls.load(), 3);
  EXPECT_EQ(fake.detachCalls.load(), 0);
  EXPECT_EQ(fake.otherCalls.load(), 0);
  // Answered without Java: the bridge is there even if Java is not.
  EXPECT_EQ(plugin->CheckBridge(), 0u);
  plugin.Release();
  EXPECT_EQ(fake.otherCalls.load(), 0) << "the plug-in never destroys the host's VM";
}

TEST_F(FakeVm, AnAttachWithoutEnvironmentIsABridgeFailure) {
  fake.attachResult = JNI_OK;
  fake.attachEnv = nullptr;
  Instance plugin = Instance::WithVm(fake.vm());
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(log.Since(), Lines{kNotAttached});
}

TEST_F(FakeVm, AVmThatRejectsTheVersionIsABridgeFailure) {
  fake.getEnvResult = JNI_EVERSION;
  Instance plugin = Instance::WithVm(fake.vm());
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(log.Since(), Lines{kNotAttached});
  EXPECT_EQ(fake.detachCalls.load(), 0);
}

}  // namespace
}  // namespace test
}  // namespace kq
