// CJNIWrapper: the bridge from the host's operations to the Java library
// object com/kq/AzureLibrary/KQAzurePlugInLibrary.
//
// Every operation makes exactly one call of one Java method on one library
// object, through one frame (RunOperation in bridge/CallFrame.h): attach the
// thread, check the environment and the object, look the method up, let the
// operation build its arguments, call and read the result, delete every local
// reference, detach.  The frame turns any native exception into the
// operation's "<name>::Exception is occured..." line and code 40, and leaves
// no Java exception pending.
#ifndef KQ_BRIDGE_JNIWRAPPER_H_
#define KQ_BRIDGE_JNIWRAPPER_H_

#include <jni.h>

#include <cstdint>

#include "kq/CloudPluginInterface.h"
#include "platform/Platform.h"

class CJNIWrapperLog;

namespace kq {
struct OperationInfo;
class JavaCall;
}  // namespace kq

class CJNIWrapper {
 public:
  // `jvmHandle` must be usable (checked by the caller): it leads to the host's
  // JavaVM pointer, which is copied once here.  Registers the VM with the
  // process-wide JVM holder.
  CJNIWrapper(const WString& installPath, JavaVM*** jvmHandle);
  // Frees members only: no JNI call, the global reference is not touched.
  ~CJNIWrapper();
  CJNIWrapper(const CJNIWrapper&) = delete;
  CJNIWrapper& operator=(const CJNIWrapper&) = delete;

  void SetLog(CJNIWrapperLog* log) { m_pLog = log; }
  CJNIWrapperLog* log() const { return m_pLog; }

  // ---- life cycle ----
  uint32_t StartCommunication();
  uint32_t Init(WString initArg);
  uint32_t InitWithPath(WString initArg, WString installPath);
  uint32_t DeInit();
  // Asks the process-wide JVM holder for the VM; 1 when it is ready.
  int InitialiseCommunication(WString installPath);
  // Answers without calling Java.
  uint32_t CheckBridge() { return KQ_OK; }

  // ---- objects: open, create, close ----
  uint32_t CreateObject(WString objectName, WString* objectHandle);
  uint32_t OpenObject(WString objectName, WString* objectHandle);
  uint32_t CreateCachedObject(WString objectName, WString* objectHandle);
  uint32_t GetBucketRegion(WString name, WString* region);
  uint32_t CloseObject(WString objectHandle);

  // ---- objects: data transfer ----
  uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData, uint64_t objFlag,
                       WString* objectHandle);
  uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                       WString* objectHandle);
  uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size);
  uint32_t WriteCachedObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                             WString* objectHandle);
  uint32_t UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                        uint64_t objFlag, WString* objectHandle);
  uint32_t UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                        WString* objectHandle);
  uint32_t UpdateCachedObjectByHandle(WString first, WString second, unsigned char* buffer, uint64_t size,
                                      MetaDataMap* metaData);
  uint32_t UpdateCachedObjectByName(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData);
  uint32_t ReadObject(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size);
  uint32_t ReadObjectByHandle(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size, WString* names,
                              uint64_t namesCount, MetaDataMap* metaData);
  uint32_t ReadObjectByName(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size, WString* names,
                            uint64_t namesCount, MetaDataMap* metaData);

  // ---- objects: queries, metadata, deletion ----
  uint32_t SetObjectMetaData(WString objectName, std::pair<WString, PluginValueRecord> entry);
  uint32_t GetObjectMetaData(WString objectName, MetaDataMap* metaData);
  uint32_t GetObjectMetaData(WString objectName, WString itemName, WString* value);
  uint32_t IsObjectExist(WString objectName, uint32_t* exists);
  uint32_t IsObjectPathSupported(const WString* path, int32_t kind, uint32_t* supported);
  uint32_t GetObjectSubList(WString name, ObjectSubList** subList);
  uint32_t DeleteObjectByName(WString objectName);
  uint32_t DeleteObjectByHandle(WString* objectHandles, uint32_t count);
  uint32_t DeleteObjectByHandle(WString objectHandle);
  uint32_t DeleteCachedObjectByName(WString objectName);
  uint32_t GetObjectActualSize(uint64_t first, uint64_t second, uint64_t* actualSize);

  // ---- containers, regions, account ----
  uint32_t GetKQCloudStorageKey(WString first, WString second, WString* key);
  uint32_t GetContainerName(WString* name);
  uint32_t DeleteContainerFromKQCloud();
  uint32_t AddJobInfo(JobInfoRecord job);
  uint32_t CheckConnectivity();
  uint32_t GetAllObjectsSize(uint64_t* size);
  uint32_t GetUniqueAccountName(WString* name);
  uint32_t GetOwnerName(WString* name);
  uint32_t IsSameAccount(WString first, WString second, uint32_t* same);
  uint32_t GetListContainers(WStringList* containers);
  uint32_t GetRegions(WStringList* regions);
  uint32_t GetArchiveSet(WStringList* archiveSets);
  uint32_t IsValidContainer(WString containerName, uint32_t* valid);
  uint32_t GetAccountInfo(AccountInfoRecord* info);
  uint32_t GetMachineNameList(WStringList* names);
  uint32_t CanBackup(uint32_t* value);
  uint32_t UpdateStorageKey(WString* key);

  // ---- lookups and error decoding, shared by every operation: the generic
  // helpers (bridge/JniHelpers.h, bridge/ErrorDecoding.h) with this bridge's
  // log ----
  jclass GetAzurePlugInClass(JNIEnv* env);
  jmethodID GetAzurePlugInObjectMethod(JNIEnv* env, jclass cls, const char* name, const char* signature);
  // 1 when no Java exception was pending; 0 when one was (it has then been
  // written to the log and cleared).
  int DescribeException(JNIEnv* env);
  // The host's return code for a CErrorValue object (40 for none).
  uint32_t GetErrorId(JNIEnv* env, jobject errorValue);
  static uint32_t MapErrorId(int32_t ordinal);

  // Writes one line with the unconditional writer, when a log is set.
  void WriteLine(kq::WStringView text) const noexcept;
  // One line of message + text, with nothing in between.
  void WriteLine(kq::WStringView message, kq::WStringView text) const noexcept;
  void WriteLineLevel3(kq::WStringView text) const noexcept;

  JavaVM* vm() const { return m_jvm; }
  jobject libraryObject() const { return m_ObjKQAzurePlugInLibrary; }

  // The operation frame; defined in bridge/CallFrame.h, which every
  // operation family includes.
  template <typename Body> uint32_t RunOperation(const kq::OperationInfo& op, Body&& body) noexcept;

 private:
  jobject m_ObjKQAzurePlugInLibrary;
  JavaVM* m_jvm;
  CJNIWrapperLog* m_pLog;
  WString m_installPath;
};

#endif  // KQ_BRIDGE_JNIWRAPPER_H_
