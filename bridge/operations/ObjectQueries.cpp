// Placeholder operations: each answers 40 until its family lands.
#include "bridge/JniWrapper.h"

uint32_t CJNIWrapper::SetObjectMetaData(WString /*objectName*/, std::pair<WString, PluginValueRecord> /*entry*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetObjectMetaData(WString /*objectName*/, MetaDataMap* /*metaData*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetObjectMetaData(WString /*objectName*/, WString /*itemName*/, WString* /*value*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::IsObjectExist(WString /*objectName*/, uint32_t* /*exists*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::IsObjectPathSupported(const WString* /*path*/, int32_t /*kind*/, uint32_t* /*supported*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetObjectSubList(WString /*name*/, ObjectSubList** /*subList*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::DeleteObjectByName(WString /*objectName*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::DeleteObjectByHandle(WString* /*objectHandles*/, uint32_t /*count*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::DeleteObjectByHandle(WString /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::DeleteCachedObjectByName(WString /*objectName*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetObjectActualSize(uint64_t /*first*/, uint64_t /*second*/, uint64_t* /*actualSize*/) { return KQ_BRIDGE_FAILURE; }
