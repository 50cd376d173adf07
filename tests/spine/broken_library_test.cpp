// A library without the constructor the plug-in calls (kq-broken-noctor.jar,
// in a process of its own); a library without methods is the object tests'
// tests/objects/missing_methods_test.cpp.
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

TEST_F(JvmTest, WithoutConstructorTheInstanceIsMadeButEveryJavaCallFails) {
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(plugin->DeInit(), 40u);
  EXPECT_EQ(plugin->CheckBridge(), 0u);
  EXPECT_EQ(log.Since(), (Lines{"KQAzureCommunicationMgr::Init is Called",
                                "StartCommunication::Failed to get the constructor method..."}));
}

}  // namespace
}  // namespace test
}  // namespace kq
