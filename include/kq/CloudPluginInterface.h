// The host contract of the Azure storage plug-in.
//
// A backup host loads the plug-in library, calls the exported CreateInstance
// with its installation root and a handle to the Java VM it runs in-process,
// and then drives everything through ICloudPluginInterface.
//
// This header is an ABI, not just an API: the host calls every operation
// through its slot in the table of virtual functions, and strings, lists and
// maps cross the boundary by value as standard-library objects.  Neither the
// order of the declarations below nor any argument list may change, and host
// and plug-in must be built with the same compiler and standard library.
#ifndef KQ_CLOUD_PLUGIN_INTERFACE_H_
#define KQ_CLOUD_PLUGIN_INTERFACE_H_

#include <jni.h>

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>

#include "kq/ReturnCodes.h"  // every code an operation answers

#ifdef _WIN32
typedef wchar_t WChar;  // UTF-16 on Windows
#define KQ_CDECL __cdecl
#if defined(KQ_BUILDING_PLUGIN)
#define KQ_PLUGIN_API __declspec(dllexport)
#else
#define KQ_PLUGIN_API __declspec(dllimport)
#endif
#else
typedef char16_t WChar;  // UTF-16 code units everywhere else
#define KQ_CDECL
#define KQ_PLUGIN_API __attribute__((visibility("default")))
#endif

typedef std::basic_string<WChar> WString;
typedef std::list<WString> WStringList;

// One property value of an object's metadata.
struct PluginValueRecord {
  WString szProperty;  // the value's text
  int32_t prpType;     // the property type (see MetaDataMap)
};

// Property name -> value.  Keys order by UTF-16 code unit, a prefix first.
typedef std::map<WString, PluginValueRecord> MetaDataMap;

// File name -> that file's metadata.  Allocated by the plug-in in
// GetObjectSubList; give it back to FreeObjectSubListMemory and nothing else.
typedef std::map<WString, MetaDataMap*> ObjectSubList;

struct AccountInfoRecord {
  int32_t reserved;  // never written by the plug-in
  WString accountIndentity;
  WString accountType;
  WString displayName;
  WString emailAddress;
  uint64_t usedSizeInByteTotal;
  uint64_t remainedSizeInByteTotal;
};

// Six values the plug-in hands to the Java library untouched.
struct JobInfoRecord {
  uint64_t first;
  uint64_t second;
  uint64_t third;
  uint64_t fourth;
  uint64_t fifth;
  uint64_t sixth;
};

class ICloudPluginInterface {
 public:
  virtual uint32_t InitLibrary(WString initArg) = 0;
  virtual uint32_t Init(WString initArg, WString installPath) {
    (void)initArg;
    (void)installPath;
    return KQ_NOT_SUPPORTED;
  }
  virtual uint32_t DeInit() = 0;
  virtual uint32_t CreateObject(WString objectName, WString* objectHandle) = 0;
  virtual uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                               uint64_t objFlag, WString* objectHandle) = 0;
  virtual uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                               WString* objectHandle) = 0;
  virtual uint32_t WriteObject(WString object, unsigned char* buffer, uint64_t size) = 0;
  virtual uint32_t SetObjectMetaData(WString objectName, std::pair<WString, PluginValueRecord> entry) = 0;
  virtual uint32_t CloseObject(WString objectHandle) = 0;
  virtual uint32_t OpenObject(WString objectName, WString* objectHandle) = 0;
  virtual uint32_t ReadObject(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size) = 0;
  virtual uint32_t GetObjectMetaData(WString objectName, MetaDataMap* metaData) = 0;
  virtual uint32_t GetObjectMetaData(WString objectName, WString itemName, WString* value) = 0;
  virtual uint32_t GetKQCloudStorageKey(WString first, WString second, WString* key) {
    (void)first;
    (void)second;
    (void)key;
    return KQ_NOT_SUPPORTED;
  }
  virtual uint32_t GetContainerName(WString* name) { return DefaultOnePointer(name); }
  virtual uint32_t DeleteContainerFromKQCloud() { return KQ_NOT_SUPPORTED; }
  virtual uint32_t AddJobInfo(JobInfoRecord job) {
    (void)job;
    return KQ_NOT_SUPPORTED;
  }
  virtual uint32_t DeleteObjectByName(WString objectName) = 0;
  virtual uint32_t DeleteObjectByHandle(WString* objectHandles, uint32_t count) = 0;
  virtual uint32_t DeleteObjectByHandle(WString objectHandle) = 0;
  virtual uint32_t DeleteCachedObjectByName(WString objectName) = 0;
  virtual uint32_t GetObjectSubList(WString name, ObjectSubList** subList) = 0;
  virtual uint32_t UpdateCachedObjectByName(WString object, unsigned char* buffer, uint64_t size,
                                            MetaDataMap* metaData) = 0;
  virtual uint32_t UpdateCachedObjectByHandle(WString first, WString second, unsigned char* buffer, uint64_t size,
                                              MetaDataMap* metaData) = 0;
  virtual uint32_t CreateCachedObject(WString objectName, WString* objectHandle) = 0;
  virtual uint32_t GetBucketRegion(WString name, WString* region) { return DefaultOneText(name, region); }
  virtual uint32_t WriteCachedObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                                     WString* objectHandle) = 0;
  virtual uint32_t IsObjectExist(WString objectName, uint32_t* exists) = 0;
  virtual uint32_t ReadObjectByName(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size,
                                    WString* names, uint64_t namesCount, MetaDataMap* metaData) = 0;
  virtual uint32_t ReadObjectByHandle(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size,
                                      WString* names, uint64_t namesCount, MetaDataMap* metaData) = 0;
  virtual uint32_t CheckBridge() = 0;
  virtual uint32_t CheckConnectivity() = 0;
  virtual uint32_t GetDefaultObjectSizeRange(uint64_t* minimum, uint64_t* defaultSize, uint64_t* maximum) = 0;
  virtual uint32_t UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size,
                                MetaDataMap* metaData, uint64_t objFlag, WString* objectHandle) = 0;
  virtual uint32_t UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size,
                                MetaDataMap* metaData, WString* objectHandle) = 0;
  virtual uint32_t GetAllObjectsSize(uint64_t* size) = 0;
  virtual uint32_t GetUniqueAccountName(WString* name) = 0;
  virtual uint32_t GetOwnerName(WString* name) = 0;
  virtual uint32_t IsSameAccount(WString first, WString second, uint32_t* same) = 0;
  virtual uint32_t QueryFlag(uint32_t* flag) = 0;
  virtual uint32_t GetListContainers(WStringList* containers) { return DefaultOnePointer(containers); }
  virtual uint32_t GetRegions(WStringList* regions) { return DefaultOnePointer(regions); }
  virtual uint32_t GetArchiveSet(WStringList* archiveSets) { return DefaultOnePointer(archiveSets); }
  virtual uint32_t IsValidContainer(WString containerName, uint32_t* valid) {
    return DefaultOneText(containerName, valid);
  }
  virtual uint32_t QueryValue(void* value) { return DefaultOnePointer(value); }
  virtual uint32_t GetObjectActualSize(uint64_t first, uint64_t second, uint64_t* actualSize) {
    (void)first;
    if (actualSize != nullptr) *actualSize = second;
    return KQ_OK;
  }
  virtual uint32_t GetAccountInfo(AccountInfoRecord* info) { return DefaultOnePointer(info); }
  virtual void Release() = 0;
  virtual void FreeObjectSubListMemory(ObjectSubList* subList) = 0;
  virtual uint32_t GetMachineNameList(WStringList* names) { return DefaultOnePointer(names); }
  virtual uint32_t CanBackup(uint32_t* value) { return DefaultOnePointer(value); }
  virtual uint32_t UpdateStorageKey(WString* key) { return DefaultOnePointer(key); }
  virtual uint32_t IsObjectPathSupported(const WString* path, int32_t kind, uint32_t* supported) {
    (void)path;
    (void)kind;
    (void)supported;
    return KQ_NOT_SUPPORTED;
  }

 protected:
  // The shared default bodies: take the argument(s), write nothing, answer 24.
  static uint32_t DefaultOnePointer(const void* /*unused*/) { return KQ_NOT_SUPPORTED; }
  static uint32_t DefaultOneText(const WString& /*unused*/, const void* /*unused*/) { return KQ_NOT_SUPPORTED; }
};

extern "C" KQ_PLUGIN_API ICloudPluginInterface* KQ_CDECL CreateInstance(WString installPath, JavaVM*** jvmHandle);

// For hosts that load the plug-in at run time (dlopen / LoadLibrary).
typedef ICloudPluginInterface*(KQ_CDECL* CreateInstanceFn)(WString installPath, JavaVM*** jvmHandle);

#endif  // KQ_CLOUD_PLUGIN_INTERFACE_H_
