// The texts the backup host's tools and support staff look for in the
// plug-in's log and on its console.  They are part of the host contract and
// are compared letter for letter, misspellings ("occured", "instaialized",
// "intailzed", "Descrption", "wih") and odd leftovers (the library class named
// in the CErrorValue messages, the line feed inside two of them, the macro
// names in the "method is not found" lines) included: never "fix" one.
//
// Every fixed text lives here; the code refers to them by name.  An
// operation's exception line is its name followed by kExceptionLineSuffix.
#ifndef KQ_LOG_HOSTTEXTS_H_
#define KQ_LOG_HOSTTEXTS_H_

#include "platform/Platform.h"

namespace kq {
namespace text {

// ---- life cycle and lookups ----
inline constexpr WChar kInitCouldNotGetTheErrorObject[] = KQ_W("Init:: Could not get the error object");
inline constexpr WChar kGetAzurePlugInClassClassObjectIsNotGot[] =
    KQ_W("GetAzurePlugInClass::Class object is not got...");
inline constexpr WChar kGetAzurePlugInClassExceptionIsOccured[] = KQ_W("GetAzurePlugInClass::Exception is occured...");
inline constexpr WChar kMethodIsNotGotPrefix[] =
    KQ_W("GetAzurePlugInObjectMethod::Method is not got... Method Name:- ");
inline constexpr WChar kGetAzurePlugInObjectMethodExceptionIsOccured[] =
    KQ_W("GetAzurePlugInObjectMethod::Exception is occured...");
inline constexpr WChar kStartCommunicationNoConstructor[] =
    KQ_W("StartCommunication::Failed to get the constructor method...");
inline constexpr WChar kStartCommunicationFailedToJstring[] = KQ_W("StartCommunication::Failed to jstring...");
inline constexpr WChar kStartCommunicationNoObject[] = KQ_W("StartCommunication::Failed to Create plugin Object...");
inline constexpr WChar kStartCommunicationExceptionIsOccured[] = KQ_W("StartCommunication::Exception is occured...");
inline constexpr WChar kJclsKQAzurePlugInLibraryIsNULL[] = KQ_W("jclsKQAzurePlugInLibrary is NULL");
inline constexpr WChar kJVMIsNotCreatedProperly[] = KQ_W("JVM is not created properly..");
inline constexpr WChar kDeInitVmCalled[] = KQ_W("DeInit Vm called...");

// ---- metadata ----
inline constexpr WChar kExceptionIsOccuredInFreeObjectSubListMemory[] =
    KQ_W("exception is occured in FreeObjectSubListMemory");

// ---- the operation frame ----
inline constexpr WChar kExceptionLineSuffix[] = KQ_W("::Exception is occured...");

// ---- error decoding (log) ----
inline constexpr WChar kCantFindErrorClassLine[] = KQ_W("Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n");
inline constexpr WChar kCantGetErrorMethodLine[] = KQ_W("Can't GetMethod(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n");
inline constexpr WChar kNoErrorIdentifierLine[] = KQ_W("Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)");
inline constexpr WChar kDescrptionIsFailed[] = KQ_W("Descrption is failed");
inline constexpr WChar kDescribeExceptionExceptionIsOccured[] = KQ_W("DescribeException::Exception is occured...");
inline constexpr WChar kGetErrorIdExceptionIsOccured[] = KQ_W("GetErrorId:: Exception is occured");

// ---- the JVM holder ----
inline constexpr WChar kInitialiseCommunicationJvmReady[] =
    KQ_W("InitialiseCommunication::JVM is intailzed properly...");
inline constexpr WChar kInitialiseCommunicationJvmNotReady[] =
    KQ_W("InitialiseCommunication::JVM is not intailzed properly...");
inline constexpr WChar kInitialiseCommunicationExceptionIsOccured[] =
    KQ_W("InitialiseCommunication::Exception is occured...");

// ---- data transfer ----
inline constexpr WChar kReadObjectUnableToCopy[] = KQ_W("ReadObject::Unable to create memory for copying the data...");
inline constexpr WChar kObjFlagPrefix[] = KQ_W(" objFlag:[0x");
inline constexpr WChar kWriteObjectMemoryCopyStarted[] = KQ_W("WriteObject::memory copy started ...");
inline constexpr WChar kWriteObjectMemoryCopyEnded[] = KQ_W("WriteObject::memory copy ended ...");
inline constexpr WChar kWriteObjectJavaCalled[] = KQ_W("WriteObject::Java called ...");
inline constexpr WChar kWriteObjectJavaEnded[] = KQ_W("WriteObject::Java ended ...");
inline constexpr WChar kWriteObjectIsCalledWihNullMetadata[] = KQ_W("WriteObject::is called wih null metadata...");
inline constexpr WChar kWriteObjectJavaCalledIsOccured[] = KQ_W("WriteObject::java called is occured...");
inline constexpr WChar kWriteObjectJavaEndedIsOccured[] = KQ_W("WriteObject::java ended is occured...");
inline constexpr WChar kWriteObjectIsReturnNull[] = KQ_W("WriteObject::is return null...");
inline constexpr WChar kWriteCachedObjectIsCalledWihNullMetadata[] =
    KQ_W("WriteCachedObject::is called wih null metadata...");
inline constexpr WChar kWriteCachedObjectJavaIsCalled[] = KQ_W("WriteCachedObject::java is called...");
inline constexpr WChar kWriteCachedObjectJavaIsEnded[] = KQ_W("WriteCachedObject::java is ended...");
inline constexpr WChar kWriteCachedObjectJavaIsReturnedNULL[] = KQ_W("WriteCachedObject::java is returned NULL...");
inline constexpr WChar kUpdateObjectJavaCalledIsOccured[] = KQ_W("UpdateObject::java called is occured...");
inline constexpr WChar kUpdateCachedObjectByHandleNullMetadata[] =
    KQ_W("UpdateCachedObjectByHandle::is called with NULL metadata...");
inline constexpr WChar kUpdateCachedObjectByHandleJavaCalledIsOccured[] =
    KQ_W("UpdateCachedObjectByHandle::java called is occured...");
inline constexpr WChar kUpdateCachedObjectByHandleJavaEndedIsOccured[] =
    KQ_W("UpdateCachedObjectByHandle::java ended is occured...");
inline constexpr WChar kReadObjectIsCalled[] = KQ_W("ReadObject::is called...");
inline constexpr WChar kReadObjectIsEnded[] = KQ_W("ReadObject::is ended...");
inline constexpr WChar kReadObjectBufferCopyStarted[] = KQ_W("ReadObject::buffer copy started...");
inline constexpr WChar kReadObjectBufferCopyEnded[] = KQ_W("ReadObject::buffer copy ended...");

// ---- queries ----
inline constexpr WChar kGetObjectMetaDataJavaCalled[] = KQ_W("GetObjectMetaData::Java called ...");
inline constexpr WChar kGetObjectMetaDataJavaEnded[] = KQ_W("GetObjectMetaData::Java ended ...");
inline constexpr WChar kMObjKQAzurePlugInLibraryIsFailed[] = KQ_W("m_ObjKQAzurePlugInLibrary is failed...");
inline constexpr WChar kGetObjectActualSizeMethodIsNotFound[] =
    KQ_W("GET_OBJECT_ACTUAL_SIZE_NAME::method is not found...");

// ---- handles ----
inline constexpr WChar kCreateObjectIsEnded[] = KQ_W("CreateObject::is ended...");

// ---- containers and account ----
inline constexpr WChar kAddJobInfoMethodIsNotFound[] = KQ_W("AddJobInfo::method is not found...");
inline constexpr WChar kGetListRegionsMethodIsNotFound[] = KQ_W("GET_LIST_REGIONS_NAME::method is not found...");
inline constexpr WChar kIsValidContainerIsFailed[] = KQ_W("IS_VALIDCONTAINER_NAME is failed...");
inline constexpr WChar kGetAccountInfoMethodIsNotFound[] = KQ_W("GET_ACCOUNT_INFO_NAME::method is not found...");
inline constexpr WChar kGetMachineNameListMethodIsNotFound[] =
    KQ_W("GET_MACHINE_NAME_LIST_NAME::method is not found...");
inline constexpr WChar kCanBackupMethodIsNotFound[] = KQ_W("CANBACKUP_NAME::method is not found...");
inline constexpr WChar kUpdateStorageKeyMethodIsNotFound[] = KQ_W("UPDATE_STORAGE_KEY_NAME::method is not found...");
inline constexpr WChar kGetKQCloudStorageKeyJavaCalled[] = KQ_W("GetKQCloudStorageKey::Java called ...");
inline constexpr WChar kGetKQCloudStorageKeyJavaEnded[] = KQ_W("GetKQCloudStorageKey::Java ended ...");
inline constexpr WChar kGetContainerNameJavaCalled[] = KQ_W("GetContainerName::Java called ...");
inline constexpr WChar kGetContainerNameJavaEnded[] = KQ_W("GetContainerName::Java ended ...");
inline constexpr WChar kDeleteContainerFromKQCloudJavaCalled[] = KQ_W("DeleteContainerFromKQCloud::Java called ...");
inline constexpr WChar kDeleteContainerFromKQCloudJavaEnded[] = KQ_W("DeleteContainerFromKQCloud::Java ended ...");
inline constexpr WChar kAddJobInfoJavaEnded[] = KQ_W("AddJobInfo::Java ended ...");

// ---- thread attachment ----
inline constexpr WChar kJVMIsPassedAsANULL[] = KQ_W("JVM is passed as a NULL");
inline constexpr WChar kThreadIsNotAttachedProperly[] = KQ_W("Thread is not attached properly..");
inline constexpr WChar kExceptionIsOccuredInTheAutoAttachJVM[] = KQ_W("Exception is occured in the AutoAttachJVM");

// ---- the manager ----
inline constexpr WChar kJniObjIsNotInstaialized[] = KQ_W("jniObj is not instaialized");
inline constexpr WChar kKQAzureCommunicationMgrInitIsCalled[] = KQ_W("KQAzureCommunicationMgr::Init is Called");
inline constexpr WChar kGetMachineNameListJniObjIsNotInstaialized[] =
    KQ_W("GetMachineNameList -- jniObj is not instaialized");
inline constexpr WChar kCanBackupJniObjIsNotInstaialized[] = KQ_W("CanBackup -- jniObj is not instaialized");
inline constexpr WChar kUpdateStorageKeyJniObjIsNotInstaialized[] =
    KQ_W("UpdateStorageKey -- jniObj is not instaialized");
inline constexpr WChar kJVMIsNULL[] = KQ_W("JVM is NULL");

// ---- the console (standard output) ----
inline constexpr char kConsoleExceptionNote[] = "\nException in finding the WebServiceClient class\n";
inline constexpr char kCantFindErrorClass[] = "Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n";
inline constexpr char kCantGetErrorMethod[] = "Can't GetMethod(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n";
inline constexpr char kAttemptingToCreateJvm[] = "Attempting to create JVM.";
inline constexpr char kClassPathPrefix[] = "path ";

}  // namespace text
}  // namespace kq

#endif  // KQ_LOG_HOSTTEXTS_H_
