// A library without the constructor the plug-in calls
// (kq-broken-noctor.jar, in a process of its own).
#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

class BrokenConstructor : public LoggedTest {};

TEST_F(BrokenConstructor, TheInstanceIsMadeButEveryJavaCallFails) {
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(log.Since(), (Lines{"KQAzureCommunicationMgr::Init is Called",
                                "StartCommunication::Failed to get the constructor method..."}));
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(plugin->DeInit(), 40u);
  EXPECT_EQ(plugin->CheckBridge(), 0u);
  EXPECT_TRUE(log.Since().empty());
}

}  // namespace
}  // namespace test
}  // namespace kq
