// KQAzureCommunicationMgr: the plug-in instance the host gets from
// CreateInstance.  It owns the bridge to the Java library (jniObj) and hands
// every storage operation to it; the few operations that need no Java are
// answered here.
#ifndef KQ_PLUGIN_KQAZURECOMMUNICATIONMGR_H_
#define KQ_PLUGIN_KQAZURECOMMUNICATIONMGR_H_

#include <cstdint>
#include <memory>
#include <utility>

#include "kq/CloudPluginInterface.h"

class CJNIWrapper;
class CJNIWrapperLog;

// final: the interface has no virtual destructor, so Release deletes the
// instance through this, its most derived type.
class KQAzureCommunicationMgr final : public ICloudPluginInterface {
 public:
  // Creates the log folder below `installPath`, takes the process-wide log,
  // and, when `jvmHandle` leads to a JavaVM, makes the bridge and the Java
  // library object.  Never throws: a failed step leaves the instance without
  // log or without bridge.
  KQAzureCommunicationMgr(const WString& installPath, JavaVM*** jvmHandle) noexcept;
  KQAzureCommunicationMgr(const KQAzureCommunicationMgr&) = delete;
  KQAzureCommunicationMgr& operator=(const KQAzureCommunicationMgr&) = delete;

  uint32_t InitLibrary(WString initArg) override;
  uint32_t Init(WString initArg, WString installPath) override;
  uint32_t DeInit() override;
  uint32_t CreateObject(WString objectName, WString* objectHandle) override;
  uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData, uint64_t objFlag,
                       WString* objectHandle) override;
  uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                       WString* objectHandle) override;
  uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size) override;
  uint32_t SetObjectMetaData(WString objectName, std::pair<WString, PluginValueRecord> entry) override;
  uint32_t CloseObject(WString objectHandle) override;
  uint32_t OpenObject(WString objectName, WString* objectHandle) override;
  uint32_t ReadObject(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size) override;
  uint32_t GetObjectMetaData(WString objectName, MetaDataMap* metaData) override;
  uint32_t GetObjectMetaData(WString objectName, WString itemName, WString* value) override;
  uint32_t GetKQCloudStorageKey(WString first, WString second, WString* key) override;
  uint32_t GetContainerName(WString* name) override;
  uint32_t DeleteContainerFromKQCloud() override;
  uint32_t AddJobInfo(JobInfoRecord job) override;
  uint32_t DeleteObjectByName(WString objectName) override;
  uint32_t DeleteObjectByHandle(WString* objectHandles, uint32_t count) override;
  uint32_t DeleteObjectByHandle(WString objectHandle) override;
  uint32_t DeleteCachedObjectByName(WString objectName) override;
  uint32_t GetObjectSubList(WString name, ObjectSubList** subList) override;
  uint32_t UpdateCachedObjectByName(WString object, unsigned char* buffer, uint64_t size,
                                    MetaDataMap* metaData) override;
  uint32_t UpdateCachedObjectByHandle(WString first, WString second, unsigned char* buffer, uint64_t size,
                                      MetaDataMap* metaData) override;
  uint32_t CreateCachedObject(WString objectName, WString* objectHandle) override;
  uint32_t GetBucketRegion(WString name, WString* region) override;
  uint32_t WriteCachedObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                             WString* objectHandle) override;
  uint32_t IsObjectExist(WString objectName, uint32_t* exists) override;
  uint32_t ReadObjectByName(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size, WString* names,
                            uint64_t namesCount, MetaDataMap* metaData) override;
  uint32_t ReadObjectByHandle(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size, WString* names,
                              uint64_t namesCount, MetaDataMap* metaData) override;
  uint32_t CheckBridge() override;
  uint32_t CheckConnectivity() override;
  uint32_t GetDefaultObjectSizeRange(uint64_t* minimum, uint64_t* defaultSize, uint64_t* maximum) override;
  uint32_t UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                        uint64_t objFlag, WString* objectHandle) override;
  uint32_t UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                        WString* objectHandle) override;
  uint32_t GetAllObjectsSize(uint64_t* size) override;
  uint32_t GetUniqueAccountName(WString* name) override;
  uint32_t GetOwnerName(WString* name) override;
  uint32_t IsSameAccount(WString first, WString second, uint32_t* same) override;
  uint32_t QueryFlag(uint32_t* flag) override;
  uint32_t GetListContainers(WStringList* containers) override;
  uint32_t GetRegions(WStringList* regions) override;
  uint32_t GetArchiveSet(WStringList* archiveSets) override;
  uint32_t IsValidContainer(WString containerName, uint32_t* valid) override;
  // QueryValue: the interface's own answer (24) stands.
  uint32_t GetObjectActualSize(uint64_t first, uint64_t second, uint64_t* actualSize) override;
  uint32_t GetAccountInfo(AccountInfoRecord* info) override;
  void Release() override;
  void FreeObjectSubListMemory(ObjectSubList* subList) override;
  uint32_t GetMachineNameList(WStringList* names) override;
  uint32_t CanBackup(uint32_t* value) override;
  uint32_t UpdateStorageKey(WString* key) override;
  uint32_t IsObjectPathSupported(const WString* path, int32_t kind, uint32_t* supported) override;

  // What a forwarding operation answers when there is no bridge.
  struct NoBridgeAnswer {
    const WChar* line;
    uint32_t code;
  };

 private:
  ~KQAzureCommunicationMgr();  // only through Release

  // Writes with the unconditional writer when a log was obtained.
  void WriteLine(const WChar* text) const noexcept;

  // The one shape of every forwarding operation: without a bridge, write the
  // answer's line and return its code, touching no output; with one, return
  // what the bridge operation answers.
  template <typename Call> uint32_t Forward(const NoBridgeAnswer& answer, Call&& call) noexcept;

  std::unique_ptr<CJNIWrapper> jniObj;
  WString m_installPath;
  CJNIWrapperLog* m_pLog;
};

#endif  // KQ_PLUGIN_KQAZURECOMMUNICATIONMGR_H_
