// The account and container operations: storage key, container name and
// deletion, connectivity, job information, the account's size, names and
// details, the container, archive-set, region and server-name lists, and the
// two yes/no questions.  Each is one call of one Java method in the bridge's
// frame; what follows is only what each does with its arguments and result.
//
// Outputs the host must pass are still tested: a missing one gets a scratch
// value, so the call is made and its code answered, and nothing is written
// through a null pointer.
#include "bridge/CallFrame.h"
#include "bridge/JavaNames.h"
#include "bridge/JniWrapper.h"
#include "bridge/ResultReaders.h"
#include "log/HostTexts.h"

using kq::ClassMissing;
using kq::JavaCall;
using kq::OperationInfo;

namespace {

constexpr const WChar* kLibraryObjectFailed = kq::text::kMObjKQAzurePlugInLibraryIsFailed;
// GetListContainers and GetArchiveSet report an exception under one name.
const WChar kContainersList[] = KQ_W("GetContainersList");

const OperationInfo kGetKQCloudStorageKey{"getStorageKey", kq::jni::kStorageKeySignature, KQ_W("GetKQCloudStorageKey")};
const OperationInfo kGetContainerName{"GetContainerName", kq::jni::kUniqueAccountSignature, KQ_W("GetContainerName")};
const OperationInfo kDeleteContainerFromKQCloud{"DeleteContainer", kq::jni::kNoArgsToErrorValue,
                                                KQ_W("DeleteContainerFromKQCloud")};
const OperationInfo kAddJobInfo{
    "addJobInfo", kq::jni::kJobInfoSignature,           KQ_W("AddJobInfo"), ClassMissing::kLookupFails,
    nullptr,      kq::text::kAddJobInfoMethodIsNotFound};
const OperationInfo kCheckConnectivity{"CheckConnectivity", kq::jni::kNoArgsToErrorValue, KQ_W("CheckConnectivity"),
                                       ClassMissing::kFail};
const OperationInfo kGetAllObjectsSize{"GetAllObjectsSize", kq::jni::kAccountSizeSignature, KQ_W("GetAllObjectsSize")};
const OperationInfo kGetUniqueAccountName{"GetUniqueAccountName", kq::jni::kUniqueAccountSignature,
                                          KQ_W("GetUniqueAccountName"), ClassMissing::kFail};
const OperationInfo kGetOwnerName{"GetOwnerName", kq::jni::kUniqueAccountSignature, KQ_W("GetOwnerName"),
                                  ClassMissing::kFail};
const OperationInfo kIsSameAccount{"IsSameAccount", kq::jni::kTwoNamesToExists, KQ_W("IsSameAccount")};
const OperationInfo kGetListContainers{"GetListContainers", kq::jni::kListContainersSignature, kContainersList};
const OperationInfo kGetRegions{
    "GetRegions", kq::jni::kListRegionsSignature,           KQ_W("GetRegions"), ClassMissing::kLookupFails,
    nullptr,      kq::text::kGetListRegionsMethodIsNotFound};
const OperationInfo kGetArchiveSet{"GetArchiveSet", kq::jni::kListContainersSignature, kContainersList};
const OperationInfo kIsValidContainer{"IsValidContainer",       kq::jni::kNameToExists,
                                      KQ_W("IsValidContainer"), ClassMissing::kFailWithLine,
                                      kLibraryObjectFailed,     kq::text::kIsValidContainerIsFailed};
const OperationInfo kGetAccountInfo{"GetAccountInfo",       kq::jni::kAccountInfoSignature,
                                    KQ_W("GetAccountInfo"), ClassMissing::kFailWithLine,
                                    kLibraryObjectFailed,   kq::text::kGetAccountInfoMethodIsNotFound};
const OperationInfo kGetMachineNameList{"getServerNameList",
                                        kq::jni::kArrayOfStringSignature,
                                        KQ_W("GetMachineNameList"),
                                        ClassMissing::kLookupFails,
                                        nullptr,
                                        kq::text::kGetMachineNameListMethodIsNotFound};
const OperationInfo kCanBackup{"canBackup",       kq::jni::kCIntSignature,
                               KQ_W("CanBackup"), ClassMissing::kLookupFails,
                               nullptr,           kq::text::kCanBackupMethodIsNotFound};
const OperationInfo kUpdateStorageKey{"updateStorageKey",
                                      kq::jni::kCStringSignature,
                                      KQ_W("UpdateStorageKey"),
                                      ClassMissing::kLookupFails,
                                      nullptr,
                                      kq::text::kUpdateStorageKeyMethodIsNotFound};

template <typename T> T* OrScratch(T* out, T& scratch) noexcept { return out != nullptr ? out : &scratch; }

// The host's text up to its first zero, as it reaches Java and the log.
WString Text(const WString& text) { return WString(text.c_str()); }

// A Java long carries the host's 64 bits unchanged.
jlong Long(uint64_t value) noexcept { return static_cast<jlong>(value); }

template <typename Out> using Reader = void (*)(JNIEnv*, jobject, int32_t*, Out*);

// Reads a result record (null included) into `out`; the code is the record's
// ordinal, mapped.
template <typename Out> uint32_t Read(const JavaCall& call, Reader<Out> reader, jobject result, Out* out) {
  int32_t error = 0;
  reader(call.env(), result, &error, out);
  return CJNIWrapper::MapErrorId(error);
}

// Calls the method with `args` and reads whatever it answered.
template <typename Out, typename... Args>
uint32_t CallAndRead(const JavaCall& call, Reader<Out> reader, Out* out, Args... args) {
  auto result = call.CallObject(args...);
  return Read(call, reader, result.get(), out);
}

}  // namespace

uint32_t CJNIWrapper::GetKQCloudStorageKey(WString first, WString second, WString* key) {
  return RunOperation(kGetKQCloudStorageKey, [&](JavaCall& call) -> uint32_t {
    WString scratch;
    WString* out = OrScratch(key, scratch);
    auto a = call.String(first);
    auto b = call.String(second);
    call.Line(kq::text::kGetKQCloudStorageKeyJavaCalled, Text(first));
    auto result = call.CallObject(a.get(), b.get());
    call.Line(kq::text::kGetKQCloudStorageKeyJavaEnded, Text(first));
    if (!result) {
      out->clear();
      return KQ_BRIDGE_FAILURE;
    }
    return Read(call, kq::ReadCString, result.get(), out);
  });
}

uint32_t CJNIWrapper::GetContainerName(WString* name) {
  return RunOperation(kGetContainerName, [&](JavaCall& call) -> uint32_t {
    call.Line(kq::text::kGetContainerNameJavaCalled);
    auto result = call.CallObject();
    call.Line(kq::text::kGetContainerNameJavaEnded);
    if (!result) return KQ_BRIDGE_FAILURE;
    WString scratch;
    WString* out = OrScratch(name, scratch);
    out->clear();
    return Read(call, kq::ReadUniqueAccountValue, result.get(), out);
  });
}

uint32_t CJNIWrapper::DeleteContainerFromKQCloud() {
  return RunOperation(kDeleteContainerFromKQCloud, [&](JavaCall& call) -> uint32_t {
    call.Line(kq::text::kDeleteContainerFromKQCloudJavaCalled);
    auto result = call.CallObject();
    call.Line(kq::text::kDeleteContainerFromKQCloudJavaEnded);
    return call.ErrorCode(result.get());
  });
}

uint32_t CJNIWrapper::AddJobInfo(JobInfoRecord job) {
  return RunOperation(kAddJobInfo, [&](JavaCall& call) -> uint32_t {
    // The library takes the record's values in this order.
    auto result = call.CallObject(Long(job.third), Long(job.fourth), Long(job.first), Long(job.second), Long(job.sixth),
                                  Long(job.fifth));
    call.Line(kq::text::kAddJobInfoJavaEnded);
    return call.ErrorCode(result.get());
  });
}

uint32_t CJNIWrapper::CheckConnectivity() {
  return RunOperation(kCheckConnectivity, [&](JavaCall& call) -> uint32_t {
    auto result = call.CallObject();
    return call.ErrorCode(result.get());
  });
}

uint32_t CJNIWrapper::GetAllObjectsSize(uint64_t* size) {
  return RunOperation(kGetAllObjectsSize, [&](JavaCall& call) -> uint32_t {
    auto result = call.CallObject();
    if (!result) return KQ_BRIDGE_FAILURE;
    uint64_t scratch = 0;
    uint64_t* out = OrScratch(size, scratch);
    *out = 0;
    return Read(call, kq::ReadGetAccountSizeValue, result.get(), out);
  });
}

namespace {

// GetUniqueAccountName and GetOwnerName: the name is read into a fresh string
// that then replaces the host's, so a null Java name empties the host's.
uint32_t ReadAccountName(JavaCall& call, WString* name) {
  auto result = call.CallObject();
  if (!result) return KQ_BRIDGE_FAILURE;
  WString read;
  const uint32_t code = Read(call, kq::ReadUniqueAccountValue, result.get(), &read);
  if (name != nullptr) *name = read;
  return code;
}

}  // namespace

uint32_t CJNIWrapper::GetUniqueAccountName(WString* name) {
  return RunOperation(kGetUniqueAccountName, [&](JavaCall& call) { return ReadAccountName(call, name); });
}

uint32_t CJNIWrapper::GetOwnerName(WString* name) {
  return RunOperation(kGetOwnerName, [&](JavaCall& call) { return ReadAccountName(call, name); });
}

uint32_t CJNIWrapper::IsSameAccount(WString first, WString second, uint32_t* same) {
  return RunOperation(kIsSameAccount, [&](JavaCall& call) -> uint32_t {
    auto a = call.String(first);
    auto b = call.String(second);
    uint32_t flag = 0;
    const uint32_t code = CallAndRead(call, kq::ReadIsObjectExistFnValue, &flag, a.get(), b.get());
    if (same != nullptr) *same = flag;
    return code;
  });
}

uint32_t CJNIWrapper::GetListContainers(WStringList* containers) {
  return RunOperation(kGetListContainers,
                      [&](JavaCall& call) { return CallAndRead(call, kq::ReadListContainers, containers); });
}

uint32_t CJNIWrapper::GetRegions(WStringList* regions) {
  return RunOperation(kGetRegions, [&](JavaCall& call) { return CallAndRead(call, kq::ReadListRegions, regions); });
}

uint32_t CJNIWrapper::GetArchiveSet(WStringList* archiveSets) {
  return RunOperation(kGetArchiveSet,
                      [&](JavaCall& call) { return CallAndRead(call, kq::ReadListContainers, archiveSets); });
}

uint32_t CJNIWrapper::IsValidContainer(WString containerName, uint32_t* valid) {
  return RunOperation(kIsValidContainer, [&](JavaCall& call) -> uint32_t {
    auto name = call.String(containerName);
    uint32_t flag = 0;
    const uint32_t code = CallAndRead(call, kq::ReadIsObjectExistFnValue, &flag, name.get());
    if (valid != nullptr) *valid = flag;
    return code;
  });
}

uint32_t CJNIWrapper::GetAccountInfo(AccountInfoRecord* info) {
  return RunOperation(kGetAccountInfo, [&](JavaCall& call) {
    AccountInfoRecord scratch{};
    return CallAndRead(call, kq::ReadGetAccountInfoFnValue, OrScratch(info, scratch));
  });
}

uint32_t CJNIWrapper::GetMachineNameList(WStringList* names) {
  return RunOperation(kGetMachineNameList,
                      [&](JavaCall& call) { return CallAndRead(call, kq::ReadArrayOfString, names); });
}

uint32_t CJNIWrapper::CanBackup(uint32_t* value) {
  return RunOperation(kCanBackup, [&](JavaCall& call) -> uint32_t {
    // The reader leaves the value alone when there is nothing to read.
    int32_t read = value != nullptr ? static_cast<int32_t>(*value) : 0;
    const uint32_t code = CallAndRead(call, kq::ReadCInt, &read);
    if (value != nullptr) *value = static_cast<uint32_t>(read);
    return code;
  });
}

uint32_t CJNIWrapper::UpdateStorageKey(WString* key) {
  return RunOperation(kUpdateStorageKey, [&](JavaCall& call) { return CallAndRead(call, kq::ReadCString, key); });
}
