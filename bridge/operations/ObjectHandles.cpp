// Placeholder operations: each answers 40 until its family lands.
#include "bridge/JniWrapper.h"

uint32_t CJNIWrapper::CreateObject(WString /*objectName*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::OpenObject(WString /*objectName*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::CreateCachedObject(WString /*objectName*/, WString* /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetBucketRegion(WString /*name*/, WString* /*region*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::CloseObject(WString /*objectHandle*/) { return KQ_BRIDGE_FAILURE; }
