#include "plugin/KQAzureCommunicationMgr.h"

#include "bridge/JniWrapper.h"
#include "bridge/MetaData.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

using Answer = KQAzureCommunicationMgr::NoBridgeAnswer;

namespace {

constexpr const WChar* kNotInitialised = kq::text::kJniObjIsNotInstaialized;
constexpr const WChar* kInitIsCalled = kq::text::kKQAzureCommunicationMgrInitIsCalled;

constexpr Answer kNoBridge{kNotInitialised, KQ_NOT_INITIALIZED};
// The two container lists report a missing bridge as an empty success.
constexpr Answer kNoBridgeList{kNotInitialised, KQ_OK};
constexpr Answer kNoBridgeMachineNames{kq::text::kGetMachineNameListJniObjIsNotInstaialized, KQ_NOT_INITIALIZED};
constexpr Answer kNoBridgeCanBackup{kq::text::kCanBackupJniObjIsNotInstaialized, KQ_NOT_INITIALIZED};
constexpr Answer kNoBridgeStorageKey{kq::text::kUpdateStorageKeyJniObjIsNotInstaialized, KQ_NOT_INITIALIZED};

// <root>/Plugin/Azure/Log with the platform's separator.
WString LogFolder(const WString& installPath) {
  const WChar sep = kq::platform::kPathSeparator;
  return installPath + sep + KQ_W("Plugin") + sep + KQ_W("Azure") + sep + KQ_W("Log");
}

bool Usable(JavaVM*** jvmHandle) { return jvmHandle != nullptr && *jvmHandle != nullptr && **jvmHandle != nullptr; }

}  // namespace

KQAzureCommunicationMgr::KQAzureCommunicationMgr(const WString& installPath, JavaVM*** jvmHandle) noexcept
    : m_pLog(nullptr) {
  try {
    m_installPath = installPath;
  } catch (...) {
    return;  // no memory for the path: an instance without log or bridge
  }
  // The log.  Creating the folder fails harmlessly when it exists; the first
  // folder given in the process keeps the writer.
  try {
    const WString folder = LogFolder(m_installPath);
    kq::platform::CreateDirectoryOnce(folder);
    m_pLog = CJNIWrapperLog::GetInstance(folder);
    WriteLine(kInitIsCalled);
  } catch (...) {
  }
  // The bridge.  A failed StartCommunication is not reported here: the
  // bridge then has no Java object and every operation answers 40.
  try {
    if (Usable(jvmHandle)) {
      jniObj.reset(new CJNIWrapper(m_installPath, jvmHandle));
      jniObj->SetLog(m_pLog);
      jniObj->StartCommunication();
    } else {
      WriteLine(kq::text::kJVMIsNULL);
    }
  } catch (...) {
  }
}

KQAzureCommunicationMgr::~KQAzureCommunicationMgr() = default;

void KQAzureCommunicationMgr::WriteLine(const WChar* text) const noexcept { kq::WriteLine(m_pLog, text); }

template <typename Call> uint32_t KQAzureCommunicationMgr::Forward(const NoBridgeAnswer& answer, Call&& call) noexcept {
  if (!jniObj) {
    WriteLine(answer.line);
    return answer.code;
  }
  try {
    return std::forward<Call>(call)(*jniObj);
  } catch (...) {
    // The bridge catches its own; this only guards the host.
    return KQ_BRIDGE_FAILURE;
  }
}

// ---- life cycle ----

uint32_t KQAzureCommunicationMgr::InitLibrary(WString initArg) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.Init(std::move(initArg)); });
}

uint32_t KQAzureCommunicationMgr::Init(WString initArg, WString installPath) {
  try {
    m_pLog = CJNIWrapperLog::GetInstance(LogFolder(installPath));
    if (m_pLog == nullptr) return KQ_NOT_INITIALIZED;
    WriteLine(kInitIsCalled);
    // Every other operation answers a missing bridge the same way; Init
    // does too, after it has taken the log.
    if (!jniObj) {
      WriteLine(kNotInitialised);
      return KQ_NOT_INITIALIZED;
    }
    jniObj->SetLog(m_pLog);
    // Java is called only when the JVM holder has a VM for this root;
    // otherwise Init reports nothing to do (0).
    if (jniObj->InitialiseCommunication(installPath) != 1) return KQ_OK;
    const uint32_t started = jniObj->StartCommunication();
    if (started != KQ_OK) return started;
    return jniObj->InitWithPath(std::move(initArg), std::move(installPath));
  } catch (...) {
    return KQ_BRIDGE_FAILURE;
  }
}

uint32_t KQAzureCommunicationMgr::DeInit() {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.DeInit(); });
}

void KQAzureCommunicationMgr::Release() {
  // The bridge's destructor makes no JNI call; the log stays with the
  // process.
  if (jniObj) {
    jniObj.reset();
  } else {
    WriteLine(kNotInitialised);
  }
  delete this;
}

// ---- answered without Java ----

uint32_t KQAzureCommunicationMgr::CheckBridge() {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.CheckBridge(); });
}

uint32_t KQAzureCommunicationMgr::GetDefaultObjectSizeRange(uint64_t* minimum, uint64_t* defaultSize,
                                                            uint64_t* maximum) {
  // The host must pass all three.
  *minimum = 1024;
  *defaultSize = 4294967296ULL;
  *maximum = 4294967296ULL;
  return KQ_OK;
}

uint32_t KQAzureCommunicationMgr::QueryFlag(uint32_t* flag) {
  if (flag != nullptr) *flag = 1;
  return KQ_OK;
}

void KQAzureCommunicationMgr::FreeObjectSubListMemory(ObjectSubList* subList) {
  kq::FreeObjectSubList(subList, m_pLog);
}

// ---- objects: open, create, close ----

uint32_t KQAzureCommunicationMgr::CreateObject(WString objectName, WString* objectHandle) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.CreateObject(std::move(objectName), objectHandle); });
}

uint32_t KQAzureCommunicationMgr::OpenObject(WString objectName, WString* objectHandle) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.OpenObject(std::move(objectName), objectHandle); });
}

uint32_t KQAzureCommunicationMgr::CreateCachedObject(WString objectName, WString* objectHandle) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.CreateCachedObject(std::move(objectName), objectHandle); });
}

uint32_t KQAzureCommunicationMgr::GetBucketRegion(WString name, WString* region) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetBucketRegion(std::move(name), region); });
}

uint32_t KQAzureCommunicationMgr::CloseObject(WString objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.CloseObject(std::move(objectHandle)); });
}

// ---- objects: data transfer ----

uint32_t KQAzureCommunicationMgr::WriteObject(WString object, unsigned char* buffer, uint64_t size,
                                              MetaDataMap* metaData, uint64_t objFlag, WString* objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.WriteObject(std::move(object), buffer, size, metaData, objFlag, objectHandle);
  });
}

uint32_t KQAzureCommunicationMgr::WriteObject(WString object, unsigned char* buffer, uint64_t size,
                                              MetaDataMap* metaData, WString* objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.WriteObject(std::move(object), buffer, size, metaData, objectHandle);
  });
}

uint32_t KQAzureCommunicationMgr::WriteObject(WString object, unsigned char* buffer, uint64_t size) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.WriteObject(std::move(object), buffer, size); });
}

uint32_t KQAzureCommunicationMgr::WriteCachedObject(WString object, unsigned char* buffer, uint64_t size,
                                                    MetaDataMap* metaData, WString* objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.WriteCachedObject(std::move(object), buffer, size, metaData, objectHandle);
  });
}

uint32_t KQAzureCommunicationMgr::UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size,
                                               MetaDataMap* metaData, uint64_t objFlag, WString* objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.UpdateObject(std::move(first), std::move(second), buffer, size, metaData, objFlag, objectHandle);
  });
}

uint32_t KQAzureCommunicationMgr::UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size,
                                               MetaDataMap* metaData, WString* objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.UpdateObject(std::move(first), std::move(second), buffer, size, metaData, objectHandle);
  });
}

uint32_t KQAzureCommunicationMgr::UpdateCachedObjectByName(WString object, unsigned char* buffer, uint64_t size,
                                                           MetaDataMap* metaData) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.UpdateCachedObjectByName(std::move(object), buffer, size, metaData);
  });
}

uint32_t KQAzureCommunicationMgr::UpdateCachedObjectByHandle(WString first, WString second, unsigned char* buffer,
                                                             uint64_t size, MetaDataMap* metaData) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.UpdateCachedObjectByHandle(std::move(first), std::move(second), buffer, size, metaData);
  });
}

uint32_t KQAzureCommunicationMgr::ReadObject(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.ReadObject(std::move(object), buffer, offset, size); });
}

uint32_t KQAzureCommunicationMgr::ReadObjectByName(WString object, unsigned char* buffer, uint64_t offset,
                                                   uint64_t* size, WString* names, uint64_t namesCount,
                                                   MetaDataMap* metaData) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.ReadObjectByName(std::move(object), buffer, offset, size, names, namesCount, metaData);
  });
}

uint32_t KQAzureCommunicationMgr::ReadObjectByHandle(WString object, unsigned char* buffer, uint64_t offset,
                                                     uint64_t* size, WString* names, uint64_t namesCount,
                                                     MetaDataMap* metaData) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.ReadObjectByHandle(std::move(object), buffer, offset, size, names, namesCount, metaData);
  });
}

// ---- objects: queries, metadata, deletion ----

uint32_t KQAzureCommunicationMgr::SetObjectMetaData(WString objectName, std::pair<WString, PluginValueRecord> entry) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.SetObjectMetaData(std::move(objectName), std::move(entry));
  });
}

uint32_t KQAzureCommunicationMgr::GetObjectMetaData(WString objectName, MetaDataMap* metaData) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.GetObjectMetaData(std::move(objectName), metaData); });
}

uint32_t KQAzureCommunicationMgr::GetObjectMetaData(WString objectName, WString itemName, WString* value) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.GetObjectMetaData(std::move(objectName), std::move(itemName), value);
  });
}

uint32_t KQAzureCommunicationMgr::IsObjectExist(WString objectName, uint32_t* exists) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.IsObjectExist(std::move(objectName), exists); });
}

uint32_t KQAzureCommunicationMgr::IsObjectPathSupported(const WString* path, int32_t kind, uint32_t* supported) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.IsObjectPathSupported(path, kind, supported); });
}

uint32_t KQAzureCommunicationMgr::GetObjectSubList(WString name, ObjectSubList** subList) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetObjectSubList(std::move(name), subList); });
}

uint32_t KQAzureCommunicationMgr::DeleteObjectByName(WString objectName) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.DeleteObjectByName(std::move(objectName)); });
}

uint32_t KQAzureCommunicationMgr::DeleteObjectByHandle(WString* objectHandles, uint32_t count) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.DeleteObjectByHandle(objectHandles, count); });
}

uint32_t KQAzureCommunicationMgr::DeleteObjectByHandle(WString objectHandle) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.DeleteObjectByHandle(std::move(objectHandle)); });
}

uint32_t KQAzureCommunicationMgr::DeleteCachedObjectByName(WString objectName) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.DeleteCachedObjectByName(std::move(objectName)); });
}

uint32_t KQAzureCommunicationMgr::GetObjectActualSize(uint64_t first, uint64_t second, uint64_t* actualSize) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetObjectActualSize(first, second, actualSize); });
}

// ---- containers, regions, account ----

uint32_t KQAzureCommunicationMgr::GetKQCloudStorageKey(WString first, WString second, WString* key) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) {
    return bridge.GetKQCloudStorageKey(std::move(first), std::move(second), key);
  });
}

uint32_t KQAzureCommunicationMgr::GetContainerName(WString* name) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetContainerName(name); });
}

uint32_t KQAzureCommunicationMgr::DeleteContainerFromKQCloud() {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.DeleteContainerFromKQCloud(); });
}

uint32_t KQAzureCommunicationMgr::AddJobInfo(JobInfoRecord job) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.AddJobInfo(job); });
}

uint32_t KQAzureCommunicationMgr::CheckConnectivity() {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.CheckConnectivity(); });
}

uint32_t KQAzureCommunicationMgr::GetAllObjectsSize(uint64_t* size) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetAllObjectsSize(size); });
}

uint32_t KQAzureCommunicationMgr::GetUniqueAccountName(WString* name) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetUniqueAccountName(name); });
}

uint32_t KQAzureCommunicationMgr::GetOwnerName(WString* name) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetOwnerName(name); });
}

uint32_t KQAzureCommunicationMgr::IsSameAccount(WString first, WString second, uint32_t* same) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.IsSameAccount(std::move(first), std::move(second), same); });
}

uint32_t KQAzureCommunicationMgr::GetListContainers(WStringList* containers) {
  return Forward(kNoBridgeList, [&](CJNIWrapper& bridge) { return bridge.GetListContainers(containers); });
}

uint32_t KQAzureCommunicationMgr::GetRegions(WStringList* regions) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetRegions(regions); });
}

uint32_t KQAzureCommunicationMgr::GetArchiveSet(WStringList* archiveSets) {
  return Forward(kNoBridgeList, [&](CJNIWrapper& bridge) { return bridge.GetArchiveSet(archiveSets); });
}

uint32_t KQAzureCommunicationMgr::IsValidContainer(WString containerName, uint32_t* valid) {
  return Forward(kNoBridge,
                 [&](CJNIWrapper& bridge) { return bridge.IsValidContainer(std::move(containerName), valid); });
}

uint32_t KQAzureCommunicationMgr::GetAccountInfo(AccountInfoRecord* info) {
  return Forward(kNoBridge, [&](CJNIWrapper& bridge) { return bridge.GetAccountInfo(info); });
}

uint32_t KQAzureCommunicationMgr::GetMachineNameList(WStringList* names) {
  return Forward(kNoBridgeMachineNames, [&](CJNIWrapper& bridge) { return bridge.GetMachineNameList(names); });
}

uint32_t KQAzureCommunicationMgr::CanBackup(uint32_t* value) {
  return Forward(kNoBridgeCanBackup, [&](CJNIWrapper& bridge) { return bridge.CanBackup(value); });
}

uint32_t KQAzureCommunicationMgr::UpdateStorageKey(WString* key) {
  return Forward(kNoBridgeStorageKey, [&](CJNIWrapper& bridge) { return bridge.UpdateStorageKey(key); });
}
