// The lookup failures, against libraries of the wrong shape, each in a
// process of its own: kq-broken.jar lacks methods, kq-broken-noctor.jar the
// constructor the plug-in calls.
#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

#ifdef KQ_BROKEN_CONSTRUCTOR
TEST_F(LoggedTest, WithoutConstructorTheInstanceIsMadeButEveryJavaCallFails) {
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(plugin->DeInit(), 40u);
  EXPECT_EQ(plugin->CheckBridge(), 0u);
  EXPECT_EQ(log.Since(), (Lines{"KQAzureCommunicationMgr::Init is Called",
                                "StartCommunication::Failed to get the constructor method..."}));
}
#else
TEST_F(LoggedTest, AMissingMethodIsNamedWithItsSignatureAndFails) {
  Instance plugin = Instance::WithTestVm();
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  const Lines lines = log.Since();
  // The lookup's pending NoSuchMethodError is described first.
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "Descrption is failed");
  EXPECT_EQ(lines[1].rfind("java.lang.NoSuchMethodError", 0), 0u) << lines[1];
  EXPECT_EQ(Lines(lines.begin() + 2, lines.end()),
            (Lines{"GetAzurePlugInObjectMethod::Method is not got... Method Name:- ", "AzureInit",
                   "(Ljava/lang/String;Ljava/lang/String;)Lcom/kq/KQCloudPluginInterface/CErrorValue;",
                   "Init:: Could not get the error object"}));
  EXPECT_EQ(plugin->DeInit(), 0u);  // the methods that exist still work
}
#endif

}  // namespace
}  // namespace test
}  // namespace kq
