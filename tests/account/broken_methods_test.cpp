// Every account and container operation against a library that lacks its
// method (kq-broken.jar, in a process of its own): the lookup's three lines,
// the operation's own line where it has one, 40, outputs untouched.
#include <map>

#include "tests/account/account_test.h"

namespace kq {
namespace test {
namespace {

// No Script here: the broken library has no test double behind it.
class BrokenLibrary : public ::testing::Test {
 protected:
  void TearDown() override {
    JNIEnv* env = CurrentEnv();
    ASSERT_NE(env, nullptr);
    EXPECT_FALSE(env->ExceptionCheck()) << "a Java exception was left pending";
  }
  LogReader log;
};

TEST_F(BrokenLibrary, AMissingMethodIsNamedAndFailsWithTheOperationsLine) {
  const std::map<std::string, std::string> ownLine = {
      {"AddJobInfo", "AddJobInfo::method is not found..."},
      {"GetRegions", "GET_LIST_REGIONS_NAME::method is not found..."},
      {"IsValidContainer", "IS_VALIDCONTAINER_NAME is failed..."},
      {"GetAccountInfo", "GET_ACCOUNT_INFO_NAME::method is not found..."},
      {"GetMachineNameList", "GET_MACHINE_NAME_LIST_NAME::method is not found..."},
      {"CanBackup", "CANBACKUP_NAME::method is not found..."},
      {"UpdateStorageKey", "UPDATE_STORAGE_KEY_NAME::method is not found..."},
  };
  Instance plugin = Instance::WithTestVm();
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    log.Mark();
    Outputs out;
    EXPECT_EQ(op.call(*plugin.get(), out), 40u);
    EXPECT_EQ(out, Outputs());
    const Lines lines = log.Since();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Descrption is failed");
    EXPECT_EQ(lines[1].rfind("java.lang.NoSuchMethodError", 0), 0u) << lines[1];
    Lines expected{"GetAzurePlugInObjectMethod::Method is not got... Method Name:- ", op.method, op.signature};
    auto own = ownLine.find(op.name);
    if (own != ownLine.end()) expected.push_back(own->second);
    EXPECT_EQ(Lines(lines.begin() + 2, lines.end()), expected);
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
