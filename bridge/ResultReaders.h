// Readers of the Java library's result records.  Each takes the thread's
// JNIEnv, the result object (possibly null), the error ordinal to set and the
// host outputs to fill.  Readers never throw, never leave a Java exception
// pending and delete every local reference they make.  The caller maps the
// ordinal to the host's code with CJNIWrapper::MapErrorId.
#ifndef KQ_BRIDGE_RESULTREADERS_H_
#define KQ_BRIDGE_RESULTREADERS_H_

#include <jni.h>

#include <cstdint>

#include "bridge/ErrorDecoding.h"
#include "kq/CloudPluginInterface.h"

namespace kq {

// A Java String[] of `count` host strings; null when count < 1.
jobjectArray NewStringArray(JNIEnv* env, int32_t count, const WString* strings);

void ReadCreateFnValue(JNIEnv* env, jobject result, int32_t* error, WString* objHandle);
void ReadWObjectHandleFnValue(JNIEnv* env, jobject result, int32_t* error, WString* objHandle);
void ReadGetObjectMetaData(JNIEnv* env, jobject result, int32_t* error, WString* value);
void ReadUniqueAccountValue(JNIEnv* env, jobject result, int32_t* error, WString* accountName);
// `value` may be null: the error is still decoded.
void ReadCString(JNIEnv* env, jobject result, int32_t* error, WString* value);
void ReadIsObjectExistFnValue(JNIEnv* env, jobject result, int32_t* error, uint32_t* isExist);
void ReadGetAccountSizeValue(JNIEnv* env, jobject result, int32_t* error, uint64_t* size);
void ReadReadObjectFnValue(JNIEnv* env, jobject result, int32_t* error, uint64_t* sizeRead);
void ReadCInt(JNIEnv* env, jobject result, int32_t* error, int32_t* value);
// Lists are appended to, never cleared; a null list reads no element.
void ReadListRegions(JNIEnv* env, jobject result, int32_t* error, WStringList* regions);
void ReadArrayOfString(JNIEnv* env, jobject result, int32_t* error, WStringList* strings);
void ReadListContainers(JNIEnv* env, jobject result, int32_t* error, WStringList* containers);
void ReadGetAccountInfoFnValue(JNIEnv* env, jobject result, int32_t* error, AccountInfoRecord* info);
// Metadata readers insert into the host's map (existing keys are kept).
void ReadGObjectMetaDataFnValue(JNIEnv* env, jobject result, int32_t* error, MetaDataMap* metaData);
void ReadRObjectByNameFnValue(JNIEnv* env, jobject result, int32_t* error, MetaDataMap* metaData, uint64_t* bytesRead);
// Allocates a new ObjectSubList, stores it in *subList and fills it.
void ReadRetGetSubMetaDataList(JNIEnv* env, jobject result, int32_t* error, ObjectSubList** subList);

}  // namespace kq

#endif  // KQ_BRIDGE_RESULTREADERS_H_
