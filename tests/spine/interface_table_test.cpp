// The manager's side of the interface table: what every forwarding slot
// answers without a bridge, and the slots answered without Java.
#include <functional>
#include <string>
#include <vector>

#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

// Every output a slot could write, preset so that a write shows.
struct Outputs {
  WString text = u"host text";
  WString text2 = u"second host text";
  WStringList list{u"kept"};
  uint32_t flag = 7;
  uint64_t size = 77;
  uint64_t size2 = 78;
  uint64_t size3 = 79;
  AccountInfoRecord info{1, u"a", u"b", u"c", u"d", 2, 3};
  MetaDataMap map{{u"key", PluginValueRecord{u"value", 4}}};
  ObjectSubList* subList = reinterpret_cast<ObjectSubList*>(0x1234);
  unsigned char buffer[4] = {9, 9, 9, 9};
  WString names[2] = {u"n1", u"n2"};

  bool operator==(const Outputs& o) const {
    return text == o.text && text2 == o.text2 && list == o.list && flag == o.flag && size == o.size &&
           size2 == o.size2 && size3 == o.size3 && info.accountIndentity == o.info.accountIndentity &&
           info.emailAddress == o.info.emailAddress && info.usedSizeInByteTotal == o.info.usedSizeInByteTotal &&
           map.size() == o.map.size() && map.begin()->second.szProperty == o.map.begin()->second.szProperty &&
           subList == o.subList && std::equal(std::begin(buffer), std::end(buffer), std::begin(o.buffer)) &&
           names[0] == o.names[0] && names[1] == o.names[1];
  }
};

struct Row {
  const char* slot;
  std::function<uint32_t(ICloudPluginInterface&, Outputs&)> call;
  uint32_t code = 2;
  std::string line = "jniObj is not instaialized";
};

const std::vector<Row>& ForwardingSlots() {
  using P = ICloudPluginInterface;
  using O = Outputs;
  static const std::vector<Row> rows = {
      {"InitLibrary", [](P& p, O&) { return p.InitLibrary(u"arg"); }},
      {"DeInit", [](P& p, O&) { return p.DeInit(); }},
      {"CreateObject", [](P& p, O& o) { return p.CreateObject(u"name", &o.text); }},
      {"WriteObject(flag)", [](P& p, O& o) { return p.WriteObject(u"n", o.buffer, 4, &o.map, 1, &o.text); }},
      {"WriteObject(metadata)", [](P& p, O& o) { return p.WriteObject(u"n", o.buffer, 4, &o.map, &o.text); }},
      {"WriteObject(plain)", [](P& p, O& o) { return p.WriteObject(u"n", o.buffer, 4); }},
      {"SetObjectMetaData",
       [](P& p, O&) { return p.SetObjectMetaData(u"n", {u"property", PluginValueRecord{u"v", 0}}); }},
      {"CloseObject", [](P& p, O&) { return p.CloseObject(u"handle"); }},
      {"OpenObject", [](P& p, O& o) { return p.OpenObject(u"name", &o.text); }},
      {"ReadObject", [](P& p, O& o) { return p.ReadObject(u"n", o.buffer, 0, &o.size); }},
      {"GetObjectMetaData(map)", [](P& p, O& o) { return p.GetObjectMetaData(u"n", &o.map); }},
      {"GetObjectMetaData(item)", [](P& p, O& o) { return p.GetObjectMetaData(u"n", u"item", &o.text); }},
      {"GetKQCloudStorageKey", [](P& p, O& o) { return p.GetKQCloudStorageKey(u"a", u"b", &o.text); }},
      {"GetContainerName", [](P& p, O& o) { return p.GetContainerName(&o.text); }},
      {"DeleteContainerFromKQCloud", [](P& p, O&) { return p.DeleteContainerFromKQCloud(); }},
      {"AddJobInfo", [](P& p, O&) { return p.AddJobInfo(JobInfoRecord{1, 2, 3, 4, 5, 6}); }},
      {"DeleteObjectByName", [](P& p, O&) { return p.DeleteObjectByName(u"n"); }},
      {"DeleteObjectByHandle(many)", [](P& p, O& o) { return p.DeleteObjectByHandle(o.names, 2); }},
      {"DeleteObjectByHandle(one)", [](P& p, O&) { return p.DeleteObjectByHandle(WString(u"handle")); }},
      {"DeleteCachedObjectByName", [](P& p, O&) { return p.DeleteCachedObjectByName(u"n"); }},
      {"GetObjectSubList", [](P& p, O& o) { return p.GetObjectSubList(u"folder", &o.subList); }},
      {"UpdateCachedObjectByName", [](P& p, O& o) { return p.UpdateCachedObjectByName(u"n", o.buffer, 4, &o.map); }},
      {"UpdateCachedObjectByHandle",
       [](P& p, O& o) { return p.UpdateCachedObjectByHandle(u"a", u"b", o.buffer, 4, &o.map); }},
      {"CreateCachedObject", [](P& p, O& o) { return p.CreateCachedObject(u"name", &o.text); }},
      {"GetBucketRegion", [](P& p, O& o) { return p.GetBucketRegion(u"name", &o.text); }},
      {"WriteCachedObject", [](P& p, O& o) { return p.WriteCachedObject(u"n", o.buffer, 4, &o.map, &o.text); }},
      {"IsObjectExist", [](P& p, O& o) { return p.IsObjectExist(u"n", &o.flag); }},
      {"ReadObjectByName",
       [](P& p, O& o) { return p.ReadObjectByName(u"n", o.buffer, 0, &o.size, o.names, 2, &o.map); }},
      {"ReadObjectByHandle",
       [](P& p, O& o) { return p.ReadObjectByHandle(u"n", o.buffer, 0, &o.size, o.names, 2, &o.map); }},
      {"CheckBridge", [](P& p, O&) { return p.CheckBridge(); }},
      {"CheckConnectivity", [](P& p, O&) { return p.CheckConnectivity(); }},
      {"UpdateObject(flag)",
       [](P& p, O& o) { return p.UpdateObject(u"a", u"b", o.buffer, 4, &o.map, 1, &o.text); }},
      {"UpdateObject(plain)", [](P& p, O& o) { return p.UpdateObject(u"a", u"b", o.buffer, 4, &o.map, &o.text); }},
      {"GetAllObjectsSize", [](P& p, O& o) { return p.GetAllObjectsSize(&o.size); }},
      {"GetUniqueAccountName", [](P& p, O& o) { return p.GetUniqueAccountName(&o.text); }},
      {"GetOwnerName", [](P& p, O& o) { return p.GetOwnerName(&o.text); }},
      {"IsSameAccount", [](P& p, O& o) { return p.IsSameAccount(u"a", u"b", &o.flag); }},
      {"GetListContainers", [](P& p, O& o) { return p.GetListContainers(&o.list); }, 0},
      {"GetRegions", [](P& p, O& o) { return p.GetRegions(&o.list); }},
      {"GetArchiveSet", [](P& p, O& o) { return p.GetArchiveSet(&o.list); }, 0},
      {"IsValidContainer", [](P& p, O& o) { return p.IsValidContainer(u"container", &o.flag); }},
      {"GetObjectActualSize", [](P& p, O& o) { return p.GetObjectActualSize(1, 2, &o.size); }},
      {"GetAccountInfo", [](P& p, O& o) { return p.GetAccountInfo(&o.info); }},
      {"GetMachineNameList", [](P& p, O& o) { return p.GetMachineNameList(&o.list); }, 2,
       "GetMachineNameList -- jniObj is not instaialized"},
      {"CanBackup", [](P& p, O& o) { return p.CanBackup(&o.flag); }, 2, "CanBackup -- jniObj is not instaialized"},
      {"UpdateStorageKey", [](P& p, O& o) { return p.UpdateStorageKey(&o.text); }, 2,
       "UpdateStorageKey -- jniObj is not instaialized"},
      {"IsObjectPathSupported",
       [](P& p, O& o) {
         const WString path = u"path";
         return p.IsObjectPathSupported(&path, 1, &o.flag);
       }},
  };
  return rows;
}

class InterfaceTable : public SpineTest {};

TEST_F(InterfaceTable, WithoutBridgeEverySlotAnswersItsCodeAndLineAndWritesNothing) {
  // 53 slots: these 47, Init and Release (lifecycle tests), and the four
  // answered without a bridge below.
  ASSERT_EQ(ForwardingSlots().size(), 47u);
  Instance plugin = Instance::WithVm(nullptr);
  for (const Row& row : ForwardingSlots()) {
    SCOPED_TRACE(row.slot);
    Outputs outputs;
    log.Mark();
    EXPECT_EQ(row.call(*plugin.get(), outputs), row.code);
    EXPECT_EQ(log.Since(), Lines{row.line});
    EXPECT_TRUE(outputs == Outputs()) << "an output was written";
  }
  EXPECT_TRUE(Script::Journal().empty());
}

// Runs `check` on an instance without bridge and on one with, each time
// with the log marked and the journal cleared after the creation.
void OnBothKinds(LogReader& log, const std::function<void(ICloudPluginInterface&)>& check) {
  for (bool bridge : {false, true}) {
    SCOPED_TRACE(bridge ? "with bridge" : "without bridge");
    Instance plugin = bridge ? Instance::WithTestVm() : Instance::WithVm(nullptr);
    Script::ClearJournal();
    log.Mark();
    check(*plugin.get());
  }
}

TEST_F(InterfaceTable, TheSizeRangeIsFixed) {
  OnBothKinds(log, [&](ICloudPluginInterface& plugin) {
    uint64_t minimum = 0, preferred = 0, maximum = 0;
    EXPECT_EQ(plugin.GetDefaultObjectSizeRange(&minimum, &preferred, &maximum), 0u);
    EXPECT_EQ(minimum, 1024u);
    EXPECT_EQ(preferred, 4294967296u);
    EXPECT_EQ(maximum, 4294967296u);
    EXPECT_TRUE(log.Since().empty());
    EXPECT_TRUE(Script::Journal().empty());
  });
}

TEST_F(InterfaceTable, QueryFlagAndQueryValueNeedNoBridge) {
  OnBothKinds(log, [&](ICloudPluginInterface& plugin) {
    uint32_t flag = 5;
    EXPECT_EQ(plugin.QueryFlag(nullptr), 0u);
    EXPECT_EQ(plugin.QueryFlag(&flag), 0u);
    EXPECT_EQ(flag, 1u);
    flag = 5;
    EXPECT_EQ(plugin.QueryValue(&flag), 24u);
    EXPECT_EQ(plugin.QueryValue(nullptr), 24u);
    EXPECT_EQ(flag, 5u);
    EXPECT_TRUE(log.Since().empty());
    EXPECT_TRUE(Script::Journal().empty());
  });
}

TEST_F(InterfaceTable, CheckBridgeAsksNoJava) {
  Instance plugin = Instance::WithTestVm();
  Script::ClearJournal();
  EXPECT_EQ(plugin->CheckBridge(), 0u);
  // Even with the Java side gone.
  EXPECT_EQ(plugin->DeInit(), 0u);
  EXPECT_EQ(plugin->CheckBridge(), 0u);
  EXPECT_EQ(Script::Journal(), Lines{"AzureDeInit/0()"});
}

TEST_F(InterfaceTable, FreeObjectSubListMemoryFreesWhatTheHostHandsBackWithOrWithoutBridge) {
  OnBothKinds(log, [&](ICloudPluginInterface& plugin) {
    plugin.FreeObjectSubListMemory(nullptr);
    auto* subList = new ObjectSubList;
    (*subList)[u"file"] = new MetaDataMap{{u"k", PluginValueRecord{u"v", 0}}};
    (*subList)[u"no metadata"] = nullptr;
    plugin.FreeObjectSubListMemory(subList);  // a leak or a double free shows in the sanitizer build
    EXPECT_TRUE(log.Since().empty());
    EXPECT_TRUE(Script::Journal().empty());
  });
}

}  // namespace
}  // namespace test
}  // namespace kq
