// Object open, create and close: a name in and a handle (or region) out, and
// a handle in.  Handles are the Java library's texts; they are carried, never
// looked at.
#include "bridge/CallFrame.h"
#include "bridge/JavaNames.h"
#include "bridge/JniWrapper.h"
#include "bridge/ResultReaders.h"
#include "log/HostTexts.h"

using kq::JavaCall;
using kq::OperationInfo;

namespace {

// The operations of this file: Java method, signature, the name of the
// exception line, and what a missing class or method does.
const OperationInfo kCreateObject{"CreateObject", kq::jni::kNameToCreateFnValue, KQ_W("CreateObject")};
const OperationInfo kOpenObject{"OpenObject", kq::jni::kNameToCreateFnValue, KQ_W("OpenObject")};
const OperationInfo kCreateCachedObject{"CreateCachedObject", kq::jni::kNameToCreateFnValue,
                                        KQ_W("CreateCachedObject")};
const OperationInfo kGetBucketRegion{"GetBucketRegion", kq::jni::kNameToCreateFnValue, KQ_W("GetBucketRegion")};
const OperationInfo kCloseObject{"CloseObject", kq::jni::kNameToErrorValue, KQ_W("CloseObject")};

// What a name-in, handle-out operation writes around its Java call.
enum class Traces { kNone, kNameAndResult };

// The call shared by the four name-in, handle-out operations.  The host's
// string receives whatever the record carried, also when the record reports
// a failure (a null record leaves the empty string).
uint32_t NameToHandle(JavaCall& call, const WString& name, WString* out, Traces traces) {
  auto javaName = call.String(name);
  if (traces == Traces::kNameAndResult) call.LineLevel3(name);
  auto result = call.CallObject(javaName.get());
  int32_t ordinal = 0;
  WString handle;
  kq::ReadCreateFnValue(call.env(), result.get(), &ordinal, &handle);
  if (out != nullptr) *out = handle;
  if (traces == Traces::kNameAndResult) call.LineLevel3(handle);
  return CJNIWrapper::MapErrorId(ordinal);
}

}  // namespace

uint32_t CJNIWrapper::CreateObject(WString objectName, WString* objectHandle) {
  return RunOperation(kCreateObject, [&](JavaCall& call) {
    uint32_t code = NameToHandle(call, objectName, objectHandle, Traces::kNameAndResult);
    WriteLineLevel3(kq::text::kCreateObjectIsEnded);
    return code;
  });
}

uint32_t CJNIWrapper::OpenObject(WString objectName, WString* objectHandle) {
  return RunOperation(kOpenObject,
                      [&](JavaCall& call) { return NameToHandle(call, objectName, objectHandle, Traces::kNone); });
}

uint32_t CJNIWrapper::CreateCachedObject(WString objectName, WString* objectHandle) {
  return RunOperation(kCreateCachedObject,
                      [&](JavaCall& call) { return NameToHandle(call, objectName, objectHandle, Traces::kNone); });
}

uint32_t CJNIWrapper::GetBucketRegion(WString name, WString* region) {
  return RunOperation(kGetBucketRegion,
                      [&](JavaCall& call) { return NameToHandle(call, name, region, Traces::kNameAndResult); });
}

uint32_t CJNIWrapper::CloseObject(WString objectHandle) {
  return RunOperation(kCloseObject, [&](JavaCall& call) {
    auto handle = call.String(objectHandle);
    auto result = call.CallObject(handle.get());
    return call.ErrorCode(result.get());
  });
}
