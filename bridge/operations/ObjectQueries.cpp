// Object queries, metadata calls and deletion.
#include "bridge/CallFrame.h"
#include "bridge/JavaNames.h"
#include "bridge/JniWrapper.h"
#include "bridge/MetaData.h"
#include "bridge/ResultReaders.h"
#include "log/HostTexts.h"

using kq::ClassMissing;
using kq::JavaCall;
using kq::OperationInfo;
using kq::ScopedLocalRef;

namespace {

// The operations of this file: Java method, signature, the name of the
// exception line, and what a missing class or method does.
const OperationInfo kSetObjectMetaData{"SetObjectMetaData", kq::jni::kSetMetaDataSignature, KQ_W("SetObjectMetaData")};
const OperationInfo kGetObjectMetaData{"GetObjectMetaData", kq::jni::kGetMetaDataSignature, KQ_W("GetObjectMetaData")};
const OperationInfo kGetObjectMetaDataItem{"GetObjectMetaData", kq::jni::kGetMetaDataItemSignature,
                                           KQ_W("GetObjectMetaData")};
const OperationInfo kIsObjectExist{"IsObjectExist", kq::jni::kNameToExists, KQ_W("IsObjectExist"), ClassMissing::kFail};
const OperationInfo kIsObjectPathSupported{"IsObjectPathSupported", kq::jni::kPathSupportedSignature,
                                           KQ_W("IsObjectPathSupported"), ClassMissing::kFail};
const OperationInfo kGetObjectSubList{"GetObjectSubList", kq::jni::kSubListSignature, KQ_W("GetObjectSubList")};
const OperationInfo kDeleteObjectByName{"DeleteObjectByName", kq::jni::kNameToErrorValue, KQ_W("DeleteObjectByName"),
                                        ClassMissing::kDescribeAndFail};
const OperationInfo kDeleteObjectByHandle{"DeleteObjectByHandle", kq::jni::kNameToErrorValue,
                                          KQ_W("DeleteObjectByHandle")};
const OperationInfo kDeleteObjectByHandleMany{"DeleteObjectByHandle", kq::jni::kNamesToErrorValue,
                                              KQ_W("DeleteObjectByHandle")};
const OperationInfo kDeleteCachedObjectByName{"DeleteCachedObjectByName", kq::jni::kNameToErrorValue,
                                              KQ_W("DeleteCachedObjectByName"), ClassMissing::kFail};
const OperationInfo kGetObjectActualSize{"GetObjectActualSize",
                                         kq::jni::kActualSizeSignature,
                                         KQ_W("GetObjectActualSize"),
                                         ClassMissing::kFailWithLine,
                                         kq::text::kMObjKQAzurePlugInLibraryIsFailed,
                                         kq::text::kGetObjectActualSizeMethodIsNotFound};

// One string in, a bare CErrorValue out: the deletions.
uint32_t NameToErrorValue(JavaCall& call, const WString& name) {
  auto javaName = call.String(name);
  auto result = call.CallObject(javaName.get());
  return call.ErrorCode(result.get());
}

// The flag of an existence-style record goes to the host even when no record
// came back (then 0).
uint32_t FlagFromRecord(JavaCall& call, jobject record, uint32_t* out) {
  int32_t ordinal = 0;
  uint32_t flag = 0;
  kq::ReadIsObjectExistFnValue(call.env(), record, &ordinal, &flag);
  if (out != nullptr) *out = flag;
  return CJNIWrapper::MapErrorId(ordinal);
}

}  // namespace

uint32_t CJNIWrapper::SetObjectMetaData(WString objectName, std::pair<WString, PluginValueRecord> entry) {
  return RunOperation(kSetObjectMetaData, [&](JavaCall& call) {
    auto name = call.String(objectName);
    auto property = call.String(entry.first);
    // The property type stays on the host's side.
    auto value = call.String(entry.second.szProperty);
    auto result = call.CallObject(name.get(), property.get(), value.get());
    return call.ErrorCode(result.get());
  });
}

uint32_t CJNIWrapper::GetObjectMetaData(WString objectName, MetaDataMap* metaData) {
  return RunOperation(kGetObjectMetaData, [&](JavaCall& call) {
    auto name = call.String(objectName);
    auto result = call.CallObject(name.get());
    int32_t ordinal = 0;
    kq::ReadGObjectMetaDataFnValue(call.env(), result.get(), &ordinal, metaData);
    return MapErrorId(ordinal);
  });
}

uint32_t CJNIWrapper::GetObjectMetaData(WString objectName, WString itemName, WString* value) {
  return RunOperation(kGetObjectMetaDataItem, [&](JavaCall& call) {
    auto name = call.String(objectName);
    auto item = call.String(itemName);
    call.Line(kq::text::kGetObjectMetaDataJavaCalled, objectName);
    auto result = call.CallObject(name.get(), item.get());
    call.Line(kq::text::kGetObjectMetaDataJavaEnded, objectName);
    int32_t ordinal = 0;
    WString text;
    kq::ReadGetObjectMetaData(call.env(), result.get(), &ordinal, &text);
    // A failed lookup leaves the host's text as it was.
    if (ordinal == 0 && value != nullptr) *value = text;
    return MapErrorId(ordinal);
  });
}

uint32_t CJNIWrapper::IsObjectExist(WString objectName, uint32_t* exists) {
  return RunOperation(kIsObjectExist, [&](JavaCall& call) {
    auto name = call.String(objectName);
    auto result = call.CallObject(name.get());
    return FlagFromRecord(call, result.get(), exists);
  });
}

uint32_t CJNIWrapper::IsObjectPathSupported(const WString* path, int32_t kind, uint32_t* supported) {
  return RunOperation(kIsObjectPathSupported, [&](JavaCall& call) {
    // No path text reaches Java as the empty string.
    auto javaPath = path != nullptr ? call.String(*path) : call.String(static_cast<const WChar*>(nullptr));
    auto result = call.CallObject(javaPath.get(), static_cast<jint>(kind));
    return FlagFromRecord(call, result.get(), supported);
  });
}

uint32_t CJNIWrapper::GetObjectSubList(WString name, ObjectSubList** subList) {
  return RunOperation(kGetObjectSubList, [&](JavaCall& call) -> uint32_t {
    auto javaName = call.String(name);
    auto result = call.CallObject(javaName.get());
    if (!result) return KQ_BRIDGE_FAILURE;
    int32_t ordinal = 0;
    if (subList != nullptr) {
      kq::ReadRetGetSubMetaDataList(call.env(), result.get(), &ordinal, subList);
    } else {
      // Nowhere to hand the list: it is read for its code and freed here.
      ObjectSubList* unclaimed = nullptr;
      kq::ReadRetGetSubMetaDataList(call.env(), result.get(), &ordinal, &unclaimed);
      kq::FreeObjectSubList(unclaimed, log());
    }
    return MapErrorId(ordinal);
  });
}

uint32_t CJNIWrapper::DeleteObjectByName(WString objectName) {
  return RunOperation(kDeleteObjectByName, [&](JavaCall& call) { return NameToErrorValue(call, objectName); });
}

uint32_t CJNIWrapper::DeleteObjectByHandle(WString objectHandle) {
  return RunOperation(kDeleteObjectByHandle, [&](JavaCall& call) { return NameToErrorValue(call, objectHandle); });
}

uint32_t CJNIWrapper::DeleteObjectByHandle(WString* objectHandles, uint32_t count) {
  return RunOperation(kDeleteObjectByHandleMany, [&](JavaCall& call) {
    JNIEnv* env = call.env();
    // Counts of 2^31 and more read as negative: no array, like a count of 0.
    ScopedLocalRef<jobjectArray> handles(
        env, objectHandles != nullptr ? kq::NewStringArray(env, static_cast<int32_t>(count), objectHandles) : nullptr);
    auto result = call.CallObject(handles.get());
    int32_t ordinal = 0;
    kq::ReadErrorOrdinal(env, result.get(), &ordinal);
    return MapErrorId(ordinal);
  });
}

uint32_t CJNIWrapper::DeleteCachedObjectByName(WString objectName) {
  return RunOperation(kDeleteCachedObjectByName, [&](JavaCall& call) { return NameToErrorValue(call, objectName); });
}

uint32_t CJNIWrapper::GetObjectActualSize(uint64_t first, uint64_t second, uint64_t* actualSize) {
  return RunOperation(kGetObjectActualSize, [&](JavaCall& call) -> uint32_t {
    const jlong size = call.CallLong(static_cast<jlong>(first), static_cast<jlong>(second));
    if (actualSize != nullptr) *actualSize = static_cast<uint64_t>(size);
    return KQ_OK;
  });
}
