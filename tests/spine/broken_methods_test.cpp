// A library that can be made but lacks the methods asked for (kq-broken.jar,
// in a process of its own).
#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

class BrokenMethods : public LoggedTest {};

TEST_F(BrokenMethods, AMissingMethodIsNamedWithItsSignatureAndFails) {
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
}

TEST_F(BrokenMethods, TheMethodsThatExistStillWork) {
  Instance plugin = Instance::WithTestVm();
  EXPECT_EQ(plugin->DeInit(), 0u);
}

}  // namespace
}  // namespace test
}  // namespace kq
