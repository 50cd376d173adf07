// Placeholder operations: each answers 40 until its family lands.
#include "bridge/JniWrapper.h"

uint32_t CJNIWrapper::GetKQCloudStorageKey(WString /*first*/, WString /*second*/, WString* /*key*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetContainerName(WString* /*name*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::DeleteContainerFromKQCloud() { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::AddJobInfo(JobInfoRecord /*job*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::CheckConnectivity() { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetAllObjectsSize(uint64_t* /*size*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetUniqueAccountName(WString* /*name*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetOwnerName(WString* /*name*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::IsSameAccount(WString /*first*/, WString /*second*/, uint32_t* /*same*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetListContainers(WStringList* /*containers*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetRegions(WStringList* /*regions*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetArchiveSet(WStringList* /*archiveSets*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::IsValidContainer(WString /*containerName*/, uint32_t* /*valid*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetAccountInfo(AccountInfoRecord* /*info*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::GetMachineNameList(WStringList* /*names*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::CanBackup(uint32_t* /*value*/) { return KQ_BRIDGE_FAILURE; }
uint32_t CJNIWrapper::UpdateStorageKey(WString* /*key*/) { return KQ_BRIDGE_FAILURE; }
