// Object metadata between the host's MetaDataMap and the Java library's
// CPluginMetaData arrays, and the folder sub-lists handed to the host.
#ifndef KQ_BRIDGE_METADATA_H_
#define KQ_BRIDGE_METADATA_H_

#include <jni.h>

#include "bridge/ScopedJni.h"
#include "kq/CloudPluginInterface.h"

class CJNIWrapperLog;

namespace kq {

// A new CPluginMetaData made with its no-argument constructor, or null.
jobject NewMetaDataEntry(JNIEnv* env);
// A new object array of `length` slots holding `initial`, or null.
jobjectArray NewMetaDataArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial);
// One fresh CPluginMetaData per map entry, in key order.
void FillMetaDataArray(JNIEnv* env, jobjectArray array, const MetaDataMap& metaData);
// The whole native-to-Java step of the writes: null for a null map,
// otherwise an array of the map's size filled in key order.
ScopedLocalRef<jobjectArray> BuildMetaDataArray(JNIEnv* env, const MetaDataMap* metaData);

// Inserts the array's entries into the map; the first of equal names wins
// and entries already in the map are kept.
void ReadMetaDataArray(JNIEnv* env, jobjectArray array, MetaDataMap* metaData);
// Inserts one (file name -> new MetaDataMap) entry per usable element.
void ReadSubListArray(JNIEnv* env, jobjectArray array, ObjectSubList* subList);

// Frees a sub-list made by ReadRetGetSubMetaDataList; null does nothing.
// Failures are written to `log` (may be null) and otherwise ignored.
void FreeObjectSubList(ObjectSubList* subList, CJNIWrapperLog* log) noexcept;

}  // namespace kq

#endif  // KQ_BRIDGE_METADATA_H_
