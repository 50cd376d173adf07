// The interface as the host sees it: the order of its slots (the host calls
// through the table of virtual functions), the bodies the interface itself
// gives, and what the manager's slots answer without a bridge.
#include <cstring>
#include <functional>
#include <iterator>
#include <tuple>

#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

using I = ICloudPluginInterface;
using S = WString;
using B = unsigned char*;
using M = MetaDataMap*;
using U = uint64_t;

#if !defined(_MSC_VER)
// On the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the function's byte offset in the table of virtual functions.
template <typename Pmf> std::ptrdiff_t SlotOf(Pmf pmf) {
  std::ptrdiff_t word = 0;
  std::memcpy(&word, &pmf, sizeof word);
  return (word - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}
#define KQ_SLOT(name) \
  { #name, SlotOf(&I::name) }

TEST(Interface, EverySlotIsWhereTheHostCallsIt) {
  const std::pair<const char*, std::ptrdiff_t> slots[] = {
      KQ_SLOT(InitLibrary),
      KQ_SLOT(Init),
      KQ_SLOT(DeInit),
      KQ_SLOT(CreateObject),
      {"WriteObject(flag)", SlotOf<uint32_t (I::*)(S, B, U, M, U, S*)>(&I::WriteObject)},
      {"WriteObject(metadata)", SlotOf<uint32_t (I::*)(S, B, U, M, S*)>(&I::WriteObject)},
      {"WriteObject(plain)", SlotOf<uint32_t (I::*)(S, B, U)>(&I::WriteObject)},
      KQ_SLOT(SetObjectMetaData),
      KQ_SLOT(CloseObject),
      KQ_SLOT(OpenObject),
      KQ_SLOT(ReadObject),
      {"GetObjectMetaData(map)", SlotOf<uint32_t (I::*)(S, M)>(&I::GetObjectMetaData)},
      {"GetObjectMetaData(item)", SlotOf<uint32_t (I::*)(S, S, S*)>(&I::GetObjectMetaData)},
      KQ_SLOT(GetKQCloudStorageKey),
      KQ_SLOT(GetContainerName),
      KQ_SLOT(DeleteContainerFromKQCloud),
      KQ_SLOT(AddJobInfo),
      KQ_SLOT(DeleteObjectByName),
      {"DeleteObjectByHandle(many)", SlotOf<uint32_t (I::*)(S*, uint32_t)>(&I::DeleteObjectByHandle)},
      {"DeleteObjectByHandle(one)", SlotOf<uint32_t (I::*)(S)>(&I::DeleteObjectByHandle)},
      KQ_SLOT(DeleteCachedObjectByName),
      KQ_SLOT(GetObjectSubList),
      KQ_SLOT(UpdateCachedObjectByName),
      KQ_SLOT(UpdateCachedObjectByHandle),
      KQ_SLOT(CreateCachedObject),
      KQ_SLOT(GetBucketRegion),
      KQ_SLOT(WriteCachedObject),
      KQ_SLOT(IsObjectExist),
      KQ_SLOT(ReadObjectByName),
      KQ_SLOT(ReadObjectByHandle),
      KQ_SLOT(CheckBridge),
      KQ_SLOT(CheckConnectivity),
      KQ_SLOT(GetDefaultObjectSizeRange),
      {"UpdateObject(flag)", SlotOf<uint32_t (I::*)(S, S, B, U, M, U, S*)>(&I::UpdateObject)},
      {"UpdateObject(plain)", SlotOf<uint32_t (I::*)(S, S, B, U, M, S*)>(&I::UpdateObject)},
      KQ_SLOT(GetAllObjectsSize),
      KQ_SLOT(GetUniqueAccountName),
      KQ_SLOT(GetOwnerName),
      KQ_SLOT(IsSameAccount),
      KQ_SLOT(QueryFlag),
      KQ_SLOT(GetListContainers),
      KQ_SLOT(GetRegions),
      KQ_SLOT(GetArchiveSet),
      KQ_SLOT(IsValidContainer),
      KQ_SLOT(QueryValue),
      KQ_SLOT(GetObjectActualSize),
      KQ_SLOT(GetAccountInfo),
      KQ_SLOT(Release),
      KQ_SLOT(FreeObjectSubListMemory),
      KQ_SLOT(GetMachineNameList),
      KQ_SLOT(CanBackup),
      KQ_SLOT(UpdateStorageKey),
      KQ_SLOT(IsObjectPathSupported)};
  ASSERT_EQ(std::size(slots), 53u);
  for (size_t i = 0; i < std::size(slots); ++i) EXPECT_EQ(slots[i].second, std::ptrdiff_t(i)) << slots[i].first;
}
#endif

// Implements only what the interface leaves pure, so that every body the
// interface gives stays in force.
#define KQ_PURE(...) \
  uint32_t __VA_ARGS__ override { return 99; }
// clang-format off
class OnlyPure final : public I {
 public:
  KQ_PURE(InitLibrary(S)) KQ_PURE(DeInit()) KQ_PURE(CreateObject(S, S*))
  KQ_PURE(WriteObject(S, B, U, M, U, S*)) KQ_PURE(WriteObject(S, B, U, M, S*)) KQ_PURE(WriteObject(S, B, U))
  KQ_PURE(SetObjectMetaData(S, std::pair<S, PluginValueRecord>)) KQ_PURE(CloseObject(S)) KQ_PURE(OpenObject(S, S*))
  KQ_PURE(ReadObject(S, B, U, U*)) KQ_PURE(GetObjectMetaData(S, M)) KQ_PURE(GetObjectMetaData(S, S, S*))
  KQ_PURE(DeleteObjectByName(S)) KQ_PURE(DeleteObjectByHandle(S*, uint32_t)) KQ_PURE(DeleteObjectByHandle(S))
  KQ_PURE(DeleteCachedObjectByName(S)) KQ_PURE(GetObjectSubList(S, ObjectSubList**))
  KQ_PURE(UpdateCachedObjectByName(S, B, U, M)) KQ_PURE(UpdateCachedObjectByHandle(S, S, B, U, M))
  KQ_PURE(CreateCachedObject(S, S*)) KQ_PURE(WriteCachedObject(S, B, U, M, S*)) KQ_PURE(IsObjectExist(S, uint32_t*))
  KQ_PURE(ReadObjectByName(S, B, U, U*, S*, U, M)) KQ_PURE(ReadObjectByHandle(S, B, U, U*, S*, U, M))
  KQ_PURE(CheckBridge()) KQ_PURE(CheckConnectivity()) KQ_PURE(GetDefaultObjectSizeRange(U*, U*, U*))
  KQ_PURE(UpdateObject(S, S, B, U, M, U, S*)) KQ_PURE(UpdateObject(S, S, B, U, M, S*)) KQ_PURE(GetAllObjectsSize(U*))
  KQ_PURE(GetUniqueAccountName(S*)) KQ_PURE(GetOwnerName(S*)) KQ_PURE(IsSameAccount(S, S, uint32_t*))
  KQ_PURE(QueryFlag(uint32_t*))
      // clang-format on
      void Release() override {}
  void FreeObjectSubListMemory(ObjectSubList*) override {}
};

TEST(Interface, TheInterfaceDefaultsAnswer24AndWriteNothing) {
  OnlyPure plugin;
  I& host = plugin;
  const S untouched = u"as the host left it";
  S text = untouched;
  WStringList list{untouched};
  uint32_t flag = 7;
  AccountInfoRecord info{5, untouched, untouched, untouched, untouched, 8, 9};
  const uint32_t answers[] = {host.Init(u"arg", u"root"),
                              host.GetKQCloudStorageKey(u"a", u"b", &text),
                              host.GetContainerName(&text),
                              host.DeleteContainerFromKQCloud(),
                              host.AddJobInfo(JobInfoRecord{1, 2, 3, 4, 5, 6}),
                              host.GetBucketRegion(u"name", &text),
                              host.GetListContainers(&list),
                              host.GetRegions(&list),
                              host.GetArchiveSet(&list),
                              host.IsValidContainer(u"container", &flag),
                              host.QueryValue(&flag),
                              host.GetAccountInfo(&info),
                              host.GetMachineNameList(&list),
                              host.CanBackup(&flag),
                              host.UpdateStorageKey(&text),
                              host.IsObjectPathSupported(&text, 3, &flag),
                              host.GetContainerName(nullptr),
                              host.QueryValue(nullptr)};
  for (size_t i = 0; i < std::size(answers); ++i) EXPECT_EQ(answers[i], 24u) << "call " << i;
  EXPECT_EQ(std::tie(text, list, flag, info.accountIndentity, info.usedSizeInByteTotal),
            std::make_tuple(untouched, WStringList{untouched}, 7u, untouched, uint64_t{8}));
  // ... but the actual size is the second value.
  uint64_t size = 1;
  EXPECT_EQ(host.GetObjectActualSize(10, 0x123456789ULL, &size), 0u);
  EXPECT_EQ(size, 0x123456789ULL);
  EXPECT_EQ(host.GetObjectActualSize(10, 20, nullptr), 0u);
}

// Every output a slot could write, preset so that a write shows.
struct Outputs {
  S text = u"host text";
  WStringList list{u"kept"};
  uint32_t flag = 7;
  uint64_t size = 77;
  AccountInfoRecord info{1, u"a", u"b", u"c", u"d", 2, 3};
  MetaDataMap map{{u"key", PluginValueRecord{u"value", 4}}};
  ObjectSubList* subList = reinterpret_cast<ObjectSubList*>(0x1234);
  unsigned char buffer[4] = {9, 9, 9, 9};
  S names[2] = {u"n1", u"n2"};
  auto Seen() const {
    return std::make_tuple(text, list, flag, size, info.accountIndentity, info.emailAddress, info.usedSizeInByteTotal,
                           map.size(), map.empty() ? S() : map.begin()->second.szProperty, subList,
                           std::vector<unsigned char>(buffer, buffer + 4), names[0], names[1]);
  }
};

// The slot's name (its call) and a call of it.
#define KQ_CALL(...) #__VA_ARGS__, [](I & p, [[maybe_unused]] Outputs & o) { return p.__VA_ARGS__; }
struct Row {
  const char* call;
  uint32_t (*run)(I&, Outputs&);
  uint32_t code = 2;
  std::string line = "jniObj is not instaialized";
};
const Row kForwardingSlots[] = {
    {KQ_CALL(InitLibrary(u"arg"))},
    {KQ_CALL(DeInit())},
    {KQ_CALL(CreateObject(u"name", &o.text))},
    {KQ_CALL(WriteObject(u"n", o.buffer, 4, &o.map, 1, &o.text))},
    {KQ_CALL(WriteObject(u"n", o.buffer, 4, &o.map, &o.text))},
    {KQ_CALL(WriteObject(u"n", o.buffer, 4))},
    {KQ_CALL(SetObjectMetaData(u"n", {u"property", PluginValueRecord{u"v", 0}}))},
    {KQ_CALL(CloseObject(u"h"))},
    {KQ_CALL(OpenObject(u"name", &o.text))},
    {KQ_CALL(ReadObject(u"n", o.buffer, 0, &o.size))},
    {KQ_CALL(GetObjectMetaData(u"n", &o.map))},
    {KQ_CALL(GetObjectMetaData(u"n", u"item", &o.text))},
    {KQ_CALL(GetKQCloudStorageKey(u"a", u"b", &o.text))},
    {KQ_CALL(GetContainerName(&o.text))},
    {KQ_CALL(DeleteContainerFromKQCloud())},
    {KQ_CALL(AddJobInfo(JobInfoRecord{1, 2, 3, 4, 5, 6}))},
    {KQ_CALL(DeleteObjectByName(u"n"))},
    {KQ_CALL(DeleteObjectByHandle(o.names, 2))},
    {KQ_CALL(DeleteObjectByHandle(S(u"h")))},
    {KQ_CALL(DeleteCachedObjectByName(u"n"))},
    {KQ_CALL(GetObjectSubList(u"folder", &o.subList))},
    {KQ_CALL(UpdateCachedObjectByName(u"n", o.buffer, 4, &o.map))},
    {KQ_CALL(UpdateCachedObjectByHandle(u"a", u"b", o.buffer, 4, &o.map))},
    {KQ_CALL(CreateCachedObject(u"n", &o.text))},
    {KQ_CALL(GetBucketRegion(u"name", &o.text))},
    {KQ_CALL(WriteCachedObject(u"n", o.buffer, 4, &o.map, &o.text))},
    {KQ_CALL(IsObjectExist(u"n", &o.flag))},
    {KQ_CALL(ReadObjectByName(u"n", o.buffer, 0, &o.size, o.names, 2, &o.map))},
    {KQ_CALL(ReadObjectByHandle(u"n", o.buffer, 0, &o.size, o.names, 2, &o.map))},
    {KQ_CALL(CheckBridge())},
    {KQ_CALL(CheckConnectivity())},
    {KQ_CALL(UpdateObject(u"a", u"b", o.buffer, 4, &o.map, 1, &o.text))},
    {KQ_CALL(UpdateObject(u"a", u"b", o.buffer, 4, &o.map, &o.text))},
    {KQ_CALL(GetAllObjectsSize(&o.size))},
    {KQ_CALL(GetUniqueAccountName(&o.text))},
    {KQ_CALL(GetOwnerName(&o.text))},
    {KQ_CALL(IsSameAccount(u"a", u"b", &o.flag))},
    {KQ_CALL(GetListContainers(&o.list)), 0},
    {KQ_CALL(GetRegions(&o.list))},
    {KQ_CALL(GetArchiveSet(&o.list)), 0},
    {KQ_CALL(IsValidContainer(u"container", &o.flag))},
    {KQ_CALL(GetObjectActualSize(1, 2, &o.size))},
    {KQ_CALL(GetAccountInfo(&o.info))},
    {KQ_CALL(GetMachineNameList(&o.list)), 2, "GetMachineNameList -- jniObj is not instaialized"},
    {KQ_CALL(CanBackup(&o.flag)), 2, "CanBackup -- jniObj is not instaialized"},
    {KQ_CALL(UpdateStorageKey(&o.text)), 2, "UpdateStorageKey -- jniObj is not instaialized"},
    {KQ_CALL(IsObjectPathSupported(&o.names[0], 1, &o.flag))},
};

TEST_F(SpineTest, WithoutBridgeEverySlotAnswersItsCodeAndLineAndWritesNothing) {
  // 53 slots: these 47, Init and Release (lifecycle tests), and the four below.
  ASSERT_EQ(std::size(kForwardingSlots), 47u);
  Instance plugin = Instance::WithVm(nullptr);
  for (const Row& row : kForwardingSlots) {
    SCOPED_TRACE(row.call);
    Outputs outputs;
    log.Mark();
    EXPECT_EQ(row.run(*plugin.get(), outputs), row.code);
    EXPECT_EQ(log.Since(), Lines{row.line});
    EXPECT_TRUE(outputs.Seen() == Outputs().Seen()) << "an output was written";
  }
  EXPECT_TRUE(Script::Journal().empty());
}

TEST_F(SpineTest, SizeRangeQueryFlagAndQueryValueAnswerWithoutJavaWithOrWithoutBridge) {
  for (bool bridge : {false, true}) {
    SCOPED_TRACE(bridge ? "with bridge" : "without bridge");
    Instance plugin = bridge ? Instance::WithTestVm() : Instance::WithVm(nullptr);
    Script::ClearJournal();
    log.Mark();
    uint64_t range[3] = {};
    EXPECT_EQ(plugin->GetDefaultObjectSizeRange(&range[0], &range[1], &range[2]), 0u);
    EXPECT_EQ(std::vector<uint64_t>(range, range + 3), (std::vector<uint64_t>{1024, 4294967296, 4294967296}));
    uint32_t flag = 5;
    EXPECT_EQ(plugin->QueryFlag(nullptr), 0u);
    EXPECT_EQ(plugin->QueryFlag(&flag), 0u);
    EXPECT_EQ(flag, 1u);
    flag = 5;
    EXPECT_EQ(plugin->QueryValue(&flag), 24u);
    EXPECT_EQ(plugin->QueryValue(nullptr), 24u);
    EXPECT_EQ(flag, 5u);
    EXPECT_TRUE(log.Since().empty());
    EXPECT_TRUE(Script::Journal().empty());
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
