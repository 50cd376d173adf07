// Placeholder operations: each answers 40 until its family lands.
#include "bridge/JniWrapper.h"

uint32_t CJNIWrapper::WriteObject(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/, uint64_t /*objFlag*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::WriteObject(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::WriteObject(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*size*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::WriteCachedObject(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::UpdateObject(WString /*first*/, WString /*second*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/, uint64_t /*objFlag*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::UpdateObject(WString /*first*/, WString /*second*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::UpdateCachedObjectByHandle(WString /*first*/, WString /*second*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::UpdateCachedObjectByName(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*size*/, MetaDataMap* /*metaData*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::ReadObject(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*offset*/, uint64_t* /*size*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::ReadObjectByHandle(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*offset*/, uint64_t* /*size*/, WString* /*names*/, uint64_t /*namesCount*/, MetaDataMap* /*metaData*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::ReadObjectByName(WString /*object*/, unsigned char* /*buffer*/, uint64_t /*offset*/, uint64_t* /*size*/, WString* /*names*/, uint64_t /*namesCount*/, MetaDataMap* /*metaData*/) { return KQ_BRIDGE_FAILURE; }
