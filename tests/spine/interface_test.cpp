// The interface as the host sees it: the order of its slots (the host calls
// through the table of virtual functions), the bodies the interface itself
// gives, and what the manager's slots answer without a bridge.
#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <tuple>

#include "tests/account/account_test.h"
#include "tests/objects/objects_test_util.h"
#include "tests/support/Script.h"

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
  const JobInfoRecord job{1, 2, 3, 4, 5, 6};
  const uint32_t answers[] = {host.Init(u"arg", u"root"),     host.GetKQCloudStorageKey(u"a", u"b", &text),
                              host.GetContainerName(&text),   host.DeleteContainerFromKQCloud(),
                              host.AddJobInfo(job),           host.GetBucketRegion(u"name", &text),
                              host.GetListContainers(&list),  host.GetRegions(&list),
                              host.GetArchiveSet(&list),      host.IsValidContainer(u"container", &flag),
                              host.QueryValue(&flag),         host.GetAccountInfo(&info),
                              host.GetMachineNameList(&list), host.CanBackup(&flag),
                              host.UpdateStorageKey(&text),   host.IsObjectPathSupported(&text, 3, &flag),
                              host.GetContainerName(nullptr), host.QueryValue(nullptr)};
  for (size_t i = 0; i < std::size(answers); ++i) EXPECT_EQ(answers[i], 24u) << "call " << i;
  EXPECT_EQ(std::tie(text, list, flag, info.accountIndentity, info.usedSizeInByteTotal),
            std::make_tuple(untouched, WStringList{untouched}, 7u, untouched, uint64_t{8}));
  // ... but the actual size is the second value.
  uint64_t size = 1;
  EXPECT_EQ(host.GetObjectActualSize(10, 0x123456789ULL, &size), 0u);
  EXPECT_EQ(size, 0x123456789ULL);
  EXPECT_EQ(host.GetObjectActualSize(10, 20, nullptr), 0u);
}

// 53 slots: the object and account operations, CheckBridge, InitLibrary,
// DeInit, Init and Release (lifecycle and account tests) and the four that
// never need the bridge.  Without a bridge each answers 2 (two listings 0)
// with one line and writes nothing.
TEST_F(ScriptedTest, WithoutBridgeEverySlotAnswersItsCodeAndLineAndWritesNothing) {
  const std::string none = "jniObj is not instaialized";
  // The two listings answer 0; three slots put their name before the line.
  const std::set<std::string> listings{"GetListContainers", "GetArchiveSet"},
      named{"GetMachineNameList", "CanBackup", "UpdateStorageKey"};
  Instance plugin = Instance::WithVm(nullptr);
  const auto expect = [&](const std::string& name, const std::function<uint32_t()>& call) {
    SCOPED_TRACE(name);
    log.Mark();
    EXPECT_EQ(call(), listings.count(name) ? 0u : 2u);
    EXPECT_EQ(log.Since(), Lines{named.count(name) ? name + " -- " + none : none});
  };
  expect("CheckBridge", [&] { return plugin->CheckBridge(); });
  for (const Slot& slot : ObjectSlots()) {
    HostCall io;
    ObjectSubList preset;
    io.subList = &preset;
    expect(slot.key, [&] { return slot.call(*plugin.get(), io); });
    EXPECT_TRUE(io.subList == &preset && io.names[0] == u"n1" && io.names[1] == u"n2") << slot.key;
    io.subList = nullptr;
    EXPECT_EQ(Changes(io), "") << slot.key;
  }
  for (const Operation& op : Operations()) {
    Outputs out;
    expect(op.name, [&] { return op.call(*plugin.get(), out); });
    EXPECT_EQ(Changes(out), "") << op.name;
  }
  EXPECT_EQ(1 + ObjectSlots().size() + Operations().size(), 45u);
  EXPECT_TRUE(Script::Journal().empty());
}

TEST_F(ScriptedTest, SizeRangeQueryFlagAndQueryValueAnswerWithoutJavaWithOrWithoutBridge) {
  for (bool bridge : {false, true}) {
    SCOPED_TRACE(bridge ? "with bridge" : "without bridge");
    Instance plugin = bridge ? Instance::WithTestVm() : Instance::WithVm(nullptr);
    Script::ClearJournal();
    log.Mark();
    uint64_t range[3] = {};
    EXPECT_EQ(plugin->GetDefaultObjectSizeRange(&range[0], &range[1], &range[2]), 0u);
    EXPECT_EQ(std::vector<uint64_t>(range, range + 3), (std::vector<uint64_t>{1024, 4294967296, 4294967296}));
    uint32_t flag = 5;
    EXPECT_EQ(plugin->QueryValue(&flag), 24u);
    EXPECT_EQ(flag, 5u);
    EXPECT_EQ(plugin->QueryFlag(nullptr), 0u);
    EXPECT_EQ(plugin->QueryFlag(&flag), 0u);
    EXPECT_EQ(flag, 1u);
    EXPECT_TRUE(log.Since().empty());
    EXPECT_TRUE(Script::Journal().empty());
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
