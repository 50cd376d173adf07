// The account and container operations as the host calls them, shared by the
// test programs with the scripted library and with the broken one.
#ifndef KQ_TESTS_ACCOUNT_ACCOUNT_TEST_H_
#define KQ_TESTS_ACCOUNT_ACCOUNT_TEST_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/Instance.h"
#include "tests/support/LogReader.h"
#include "tests/support/Script.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {

using Lines = std::vector<std::string>;

// Every output an operation could write, preset so that a write shows.
struct Outputs {
  WString text = u"host text";
  WStringList list{u"kept"};
  uint32_t flag = 7;
  uint64_t size = 0x5a5a5a5a5a5a5a5aull;
  AccountInfoRecord info{-9, u"a", u"b", u"c", u"d", 2, 3};

  bool operator==(const Outputs& o) const {
    return text == o.text && list == o.list && flag == o.flag && size == o.size && info.reserved == o.info.reserved &&
           info.accountIndentity == o.info.accountIndentity && info.accountType == o.info.accountType &&
           info.displayName == o.info.displayName && info.emailAddress == o.info.emailAddress &&
           info.usedSizeInByteTotal == o.info.usedSizeInByteTotal &&
           info.remainedSizeInByteTotal == o.info.remainedSizeInByteTotal;
  }
};

inline void PrintTo(const Outputs& o, std::ostream* out) {
  *out << "{text=\"" << U8(o.text) << "\", list=[";
  for (const WString& entry : o.list) *out << "\"" << U8(entry) << "\" ";
  *out << "], flag=" << o.flag << ", size=" << o.size << ", info={" << o.info.reserved << ", "
       << U8(o.info.accountIndentity) << ", " << U8(o.info.accountType) << ", " << U8(o.info.displayName) << ", "
       << U8(o.info.emailAddress) << ", " << o.info.usedSizeInByteTotal << ", " << o.info.remainedSizeInByteTotal
       << "}}";
}

using Call = std::function<uint32_t(ICloudPluginInterface&, Outputs&)>;

// One operation: how the host calls it, the Java method it must reach and
// the record class that method returns (empty for a bare CErrorValue).
struct Operation {
  const char* name;
  Call call;
  std::string key;          // the test library's script key
  std::string resultClass;  // for Script::ReturnsBuilt
  std::string method;       // Java name and signature, as the lookup logs them
  std::string signature;
};

inline const std::vector<Operation>& Operations() {
  using P = ICloudPluginInterface;
  using O = Outputs;
  static const std::vector<Operation> ops = {
      {"GetKQCloudStorageKey", [](P& p, O& o) { return p.GetKQCloudStorageKey(u"A", u"B", &o.text); },
       "getStorageKey/2", "CString", "getStorageKey",
       "(Ljava/lang/String;Ljava/lang/String;)Lcom/kq/plugin/model/CString;"},
      {"GetContainerName", [](P& p, O& o) { return p.GetContainerName(&o.text); }, "GetContainerName/0",
       "CUniqueAccountValue", "GetContainerName", "()Lcom/kq/AzureLibrary/CUniqueAccountValue;"},
      {"DeleteContainerFromKQCloud", [](P& p, O&) { return p.DeleteContainerFromKQCloud(); }, "DeleteContainer/0",
       "", "DeleteContainer", "()Lcom/kq/KQCloudPluginInterface/CErrorValue;"},
      {"AddJobInfo", [](P& p, O&) { return p.AddJobInfo(JobInfoRecord{1, 2, 3, 4, 5, 6}); }, "addJobInfo/6", "",
       "addJobInfo", "(JJJJJJ)Lcom/kq/KQCloudPluginInterface/CErrorValue;"},
      {"CheckConnectivity", [](P& p, O&) { return p.CheckConnectivity(); }, "CheckConnectivity/0", "",
       "CheckConnectivity", "()Lcom/kq/KQCloudPluginInterface/CErrorValue;"},
      {"GetAllObjectsSize", [](P& p, O& o) { return p.GetAllObjectsSize(&o.size); }, "GetAllObjectsSize/0",
       "CGetAccountSizeValue", "GetAllObjectsSize", "()Lcom/kq/AzureLibrary/CGetAccountSizeValue;"},
      {"GetUniqueAccountName", [](P& p, O& o) { return p.GetUniqueAccountName(&o.text); },
       "GetUniqueAccountName/0", "CUniqueAccountValue", "GetUniqueAccountName",
       "()Lcom/kq/AzureLibrary/CUniqueAccountValue;"},
      {"GetOwnerName", [](P& p, O& o) { return p.GetOwnerName(&o.text); }, "GetOwnerName/0", "CUniqueAccountValue",
       "GetOwnerName", "()Lcom/kq/AzureLibrary/CUniqueAccountValue;"},
      {"IsSameAccount", [](P& p, O& o) { return p.IsSameAccount(u"A", u"B", &o.flag); }, "IsSameAccount/2",
       "CIsObjectExistFnValue", "IsSameAccount",
       "(Ljava/lang/String;Ljava/lang/String;)Lcom/kq/AzureLibrary/CIsObjectExistFnValue;"},
      {"GetListContainers", [](P& p, O& o) { return p.GetListContainers(&o.list); }, "GetListContainers/0",
       "KQListContainers", "GetListContainers", "()Lcom/kq/AzureLibrary/KQListContainers;"},
      {"GetRegions", [](P& p, O& o) { return p.GetRegions(&o.list); }, "GetRegions/0", "KQListRegions", "GetRegions",
       "()Lcom/kq/AzureLibrary/KQListRegions;"},
      {"GetArchiveSet", [](P& p, O& o) { return p.GetArchiveSet(&o.list); }, "GetArchiveSet/0", "KQListContainers",
       "GetArchiveSet", "()Lcom/kq/AzureLibrary/KQListContainers;"},
      {"IsValidContainer", [](P& p, O& o) { return p.IsValidContainer(u"box", &o.flag); }, "IsValidContainer/1",
       "CIsObjectExistFnValue", "IsValidContainer",
       "(Ljava/lang/String;)Lcom/kq/AzureLibrary/CIsObjectExistFnValue;"},
      {"GetAccountInfo", [](P& p, O& o) { return p.GetAccountInfo(&o.info); }, "GetAccountInfo/0",
       "CGetAccountInfoFnValue", "GetAccountInfo", "()Lcom/kq/AzureLibrary/CGetAccountInfoFnValue;"},
      {"GetMachineNameList", [](P& p, O& o) { return p.GetMachineNameList(&o.list); }, "getServerNameList/0",
       "CArrayOfString", "getServerNameList", "()Lcom/kq/plugin/model/CArrayOfString;"},
      {"CanBackup", [](P& p, O& o) { return p.CanBackup(&o.flag); }, "canBackup/0", "CInt", "canBackup",
       "()Lcom/kq/plugin/model/CInt;"},
      {"UpdateStorageKey", [](P& p, O& o) { return p.UpdateStorageKey(&o.text); }, "updateStorageKey/0", "CString",
       "updateStorageKey", "()Lcom/kq/plugin/model/CString;"},
  };
  return ops;
}

// Every test starts with a clean script and a log mark, and must leave no
// Java exception on its thread.
class AccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Script::Reset();
    log.Mark();
  }
  void TearDown() override {
    JNIEnv* env = CurrentEnv();
    ASSERT_NE(env, nullptr);
    EXPECT_FALSE(env->ExceptionCheck()) << "a Java exception was left pending";
  }

  LogReader log;
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_ACCOUNT_ACCOUNT_TEST_H_
