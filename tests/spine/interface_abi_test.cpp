// The host calls every operation through its slot in the table of virtual
// functions, so the order of ICloudPluginInterface's declarations is the
// contract.  These tests pin it, and the bodies the interface itself gives.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "kq/CloudPluginInterface.h"
#include "platform/Platform.h"

namespace {

using I = ICloudPluginInterface;

#if !defined(_MSC_VER)
// On the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the function's byte offset in the table of virtual functions.
template <typename Pmf>
std::ptrdiff_t SlotOf(Pmf pmf) {
  static_assert(sizeof(Pmf) >= sizeof(std::ptrdiff_t), "unexpected member-function pointer layout");
  std::ptrdiff_t word = 0;
  std::memcpy(&word, &pmf, sizeof word);
  return (word - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

struct Slot {
  const char* name;
  std::ptrdiff_t slot;
};

TEST(InterfaceAbi, EverySlotIsWhereTheHostCallsIt) {
  // Overloads are told apart by their exact types.
  const Slot slots[] = {
      {"InitLibrary", SlotOf(&I::InitLibrary)},
      {"Init", SlotOf(&I::Init)},
      {"DeInit", SlotOf(&I::DeInit)},
      {"CreateObject", SlotOf(&I::CreateObject)},
      {"WriteObject(flag)",
       SlotOf(static_cast<uint32_t (I::*)(WString, unsigned char*, uint64_t, MetaDataMap*, uint64_t, WString*)>(
           &I::WriteObject))},
      {"WriteObject(metadata)",
       SlotOf(static_cast<uint32_t (I::*)(WString, unsigned char*, uint64_t, MetaDataMap*, WString*)>(
           &I::WriteObject))},
      {"WriteObject(plain)", SlotOf(static_cast<uint32_t (I::*)(WString, unsigned char*, uint64_t)>(&I::WriteObject))},
      {"SetObjectMetaData", SlotOf(&I::SetObjectMetaData)},
      {"CloseObject", SlotOf(&I::CloseObject)},
      {"OpenObject", SlotOf(&I::OpenObject)},
      {"ReadObject", SlotOf(&I::ReadObject)},
      {"GetObjectMetaData(map)", SlotOf(static_cast<uint32_t (I::*)(WString, MetaDataMap*)>(&I::GetObjectMetaData))},
      {"GetObjectMetaData(item)",
       SlotOf(static_cast<uint32_t (I::*)(WString, WString, WString*)>(&I::GetObjectMetaData))},
      {"GetKQCloudStorageKey", SlotOf(&I::GetKQCloudStorageKey)},
      {"GetContainerName", SlotOf(&I::GetContainerName)},
      {"DeleteContainerFromKQCloud", SlotOf(&I::DeleteContainerFromKQCloud)},
      {"AddJobInfo", SlotOf(&I::AddJobInfo)},
      {"DeleteObjectByName", SlotOf(&I::DeleteObjectByName)},
      {"DeleteObjectByHandle(many)",
       SlotOf(static_cast<uint32_t (I::*)(WString*, uint32_t)>(&I::DeleteObjectByHandle))},
      {"DeleteObjectByHandle(one)", SlotOf(static_cast<uint32_t (I::*)(WString)>(&I::DeleteObjectByHandle))},
      {"DeleteCachedObjectByName", SlotOf(&I::DeleteCachedObjectByName)},
      {"GetObjectSubList", SlotOf(&I::GetObjectSubList)},
      {"UpdateCachedObjectByName", SlotOf(&I::UpdateCachedObjectByName)},
      {"UpdateCachedObjectByHandle", SlotOf(&I::UpdateCachedObjectByHandle)},
      {"CreateCachedObject", SlotOf(&I::CreateCachedObject)},
      {"GetBucketRegion", SlotOf(&I::GetBucketRegion)},
      {"WriteCachedObject", SlotOf(&I::WriteCachedObject)},
      {"IsObjectExist", SlotOf(&I::IsObjectExist)},
      {"ReadObjectByName", SlotOf(&I::ReadObjectByName)},
      {"ReadObjectByHandle", SlotOf(&I::ReadObjectByHandle)},
      {"CheckBridge", SlotOf(&I::CheckBridge)},
      {"CheckConnectivity", SlotOf(&I::CheckConnectivity)},
      {"GetDefaultObjectSizeRange", SlotOf(&I::GetDefaultObjectSizeRange)},
      {"UpdateObject(flag)",
       SlotOf(static_cast<uint32_t (I::*)(WString, WString, unsigned char*, uint64_t, MetaDataMap*, uint64_t,
                                          WString*)>(&I::UpdateObject))},
      {"UpdateObject(plain)",
       SlotOf(static_cast<uint32_t (I::*)(WString, WString, unsigned char*, uint64_t, MetaDataMap*, WString*)>(
           &I::UpdateObject))},
      {"GetAllObjectsSize", SlotOf(&I::GetAllObjectsSize)},
      {"GetUniqueAccountName", SlotOf(&I::GetUniqueAccountName)},
      {"GetOwnerName", SlotOf(&I::GetOwnerName)},
      {"IsSameAccount", SlotOf(&I::IsSameAccount)},
      {"QueryFlag", SlotOf(&I::QueryFlag)},
      {"GetListContainers", SlotOf(&I::GetListContainers)},
      {"GetRegions", SlotOf(&I::GetRegions)},
      {"GetArchiveSet", SlotOf(&I::GetArchiveSet)},
      {"IsValidContainer", SlotOf(&I::IsValidContainer)},
      {"QueryValue", SlotOf(&I::QueryValue)},
      {"GetObjectActualSize", SlotOf(&I::GetObjectActualSize)},
      {"GetAccountInfo", SlotOf(&I::GetAccountInfo)},
      {"Release", SlotOf(&I::Release)},
      {"FreeObjectSubListMemory", SlotOf(&I::FreeObjectSubListMemory)},
      {"GetMachineNameList", SlotOf(&I::GetMachineNameList)},
      {"CanBackup", SlotOf(&I::CanBackup)},
      {"UpdateStorageKey", SlotOf(&I::UpdateStorageKey)},
      {"IsObjectPathSupported", SlotOf(&I::IsObjectPathSupported)},
  };
  ASSERT_EQ(std::size(slots), 53u);
  for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(std::size(slots)); ++i) {
    EXPECT_EQ(slots[i].slot, i) << slots[i].name;
  }
}
#endif

// Implements only what the interface leaves pure, so that every body the
// interface gives stays in force.
class OnlyPure final : public ICloudPluginInterface {
 public:
  static constexpr uint32_t kMine = 99;
  uint32_t InitLibrary(WString) override { return kMine; }
  uint32_t DeInit() override { return kMine; }
  uint32_t CreateObject(WString, WString*) override { return kMine; }
  uint32_t WriteObject(WString, unsigned char*, uint64_t, MetaDataMap*, uint64_t, WString*) override { return kMine; }
  uint32_t WriteObject(WString, unsigned char*, uint64_t, MetaDataMap*, WString*) override { return kMine; }
  uint32_t WriteObject(WString, unsigned char*, uint64_t) override { return kMine; }
  uint32_t SetObjectMetaData(WString, std::pair<WString, PluginValueRecord>) override { return kMine; }
  uint32_t CloseObject(WString) override { return kMine; }
  uint32_t OpenObject(WString, WString*) override { return kMine; }
  uint32_t ReadObject(WString, unsigned char*, uint64_t, uint64_t*) override { return kMine; }
  uint32_t GetObjectMetaData(WString, MetaDataMap*) override { return kMine; }
  uint32_t GetObjectMetaData(WString, WString, WString*) override { return kMine; }
  uint32_t DeleteObjectByName(WString) override { return kMine; }
  uint32_t DeleteObjectByHandle(WString*, uint32_t) override { return kMine; }
  uint32_t DeleteObjectByHandle(WString) override { return kMine; }
  uint32_t DeleteCachedObjectByName(WString) override { return kMine; }
  uint32_t GetObjectSubList(WString, ObjectSubList**) override { return kMine; }
  uint32_t UpdateCachedObjectByName(WString, unsigned char*, uint64_t, MetaDataMap*) override { return kMine; }
  uint32_t UpdateCachedObjectByHandle(WString, WString, unsigned char*, uint64_t, MetaDataMap*) override {
    return kMine;
  }
  uint32_t CreateCachedObject(WString, WString*) override { return kMine; }
  uint32_t WriteCachedObject(WString, unsigned char*, uint64_t, MetaDataMap*, WString*) override { return kMine; }
  uint32_t IsObjectExist(WString, uint32_t*) override { return kMine; }
  uint32_t ReadObjectByName(WString, unsigned char*, uint64_t, uint64_t*, WString*, uint64_t, MetaDataMap*) override {
    return kMine;
  }
  uint32_t ReadObjectByHandle(WString, unsigned char*, uint64_t, uint64_t*, WString*, uint64_t,
                              MetaDataMap*) override {
    return kMine;
  }
  uint32_t CheckBridge() override { return kMine; }
  uint32_t CheckConnectivity() override { return kMine; }
  uint32_t GetDefaultObjectSizeRange(uint64_t*, uint64_t*, uint64_t*) override { return kMine; }
  uint32_t UpdateObject(WString, WString, unsigned char*, uint64_t, MetaDataMap*, uint64_t, WString*) override {
    return kMine;
  }
  uint32_t UpdateObject(WString, WString, unsigned char*, uint64_t, MetaDataMap*, WString*) override { return kMine; }
  uint32_t GetAllObjectsSize(uint64_t*) override { return kMine; }
  uint32_t GetUniqueAccountName(WString*) override { return kMine; }
  uint32_t GetOwnerName(WString*) override { return kMine; }
  uint32_t IsSameAccount(WString, WString, uint32_t*) override { return kMine; }
  uint32_t QueryFlag(uint32_t*) override { return kMine; }
  void Release() override {}
  void FreeObjectSubListMemory(ObjectSubList*) override {}
};

TEST(InterfaceAbi, TheInterfaceDefaultsAnswer24AndWriteNothing) {
  OnlyPure plugin;
  ICloudPluginInterface& host = plugin;
  const WString untouched = KQ_W("as the host left it");
  WString text = untouched;
  WStringList list{untouched};
  uint32_t flag = 7;
  AccountInfoRecord info{5, untouched, untouched, untouched, untouched, 8, 9};

  EXPECT_EQ(host.Init(KQ_W("arg"), KQ_W("root")), 24u);
  EXPECT_EQ(host.GetKQCloudStorageKey(KQ_W("a"), KQ_W("b"), &text), 24u);
  EXPECT_EQ(host.GetContainerName(&text), 24u);
  EXPECT_EQ(host.DeleteContainerFromKQCloud(), 24u);
  EXPECT_EQ(host.AddJobInfo(JobInfoRecord{1, 2, 3, 4, 5, 6}), 24u);
  EXPECT_EQ(host.GetBucketRegion(KQ_W("name"), &text), 24u);
  EXPECT_EQ(host.GetListContainers(&list), 24u);
  EXPECT_EQ(host.GetRegions(&list), 24u);
  EXPECT_EQ(host.GetArchiveSet(&list), 24u);
  EXPECT_EQ(host.IsValidContainer(KQ_W("container"), &flag), 24u);
  EXPECT_EQ(host.QueryValue(&flag), 24u);
  EXPECT_EQ(host.GetAccountInfo(&info), 24u);
  EXPECT_EQ(host.GetMachineNameList(&list), 24u);
  EXPECT_EQ(host.CanBackup(&flag), 24u);
  EXPECT_EQ(host.UpdateStorageKey(&text), 24u);
  EXPECT_EQ(host.IsObjectPathSupported(&text, 3, &flag), 24u);
  // Null outputs are fine too: nothing is written.
  EXPECT_EQ(host.GetContainerName(nullptr), 24u);
  EXPECT_EQ(host.QueryValue(nullptr), 24u);

  EXPECT_EQ(text, untouched);
  EXPECT_EQ(list, WStringList{untouched});
  EXPECT_EQ(flag, 7u);
  EXPECT_EQ(info.accountIndentity, untouched);
  EXPECT_EQ(info.usedSizeInByteTotal, 8u);
}

TEST(InterfaceAbi, TheDefaultActualSizeIsTheSecondValue) {
  OnlyPure plugin;
  ICloudPluginInterface& host = plugin;
  uint64_t size = 1;
  EXPECT_EQ(host.GetObjectActualSize(10, 0x123456789ULL, &size), 0u);
  EXPECT_EQ(size, 0x123456789ULL);
  EXPECT_EQ(host.GetObjectActualSize(10, 20, nullptr), 0u);
}

}  // namespace
