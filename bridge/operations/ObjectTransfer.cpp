// Object data transfer: writes and updates (plain, with metadata, with an
// object flag, cached) and reads (plain, with metadata).  Each call carries
// its data in exactly one Java byte array, made for that call and dropped
// after it.
#include <algorithm>

#include "bridge/ByteArrays.h"
#include "bridge/CallFrame.h"
#include "bridge/JavaNames.h"
#include "bridge/JniWrapper.h"
#include "bridge/MetaData.h"
#include "bridge/ResultReaders.h"
#include "log/HostTexts.h"

using kq::JavaCall;
using kq::OperationInfo;
using kq::ScopedLocalRef;

namespace {

// The operations of this file: Java method, signature, the name of the
// exception line, and what a missing class or method does.
const OperationInfo kWriteObjectPlain{"WriteObject", kq::jni::kPlainWriteSignature, KQ_W("WriteObject")};
const OperationInfo kWriteObjectWithMetaData{"WriteObject", kq::jni::kWriteSignature, KQ_W("WriteObject")};
const OperationInfo kWriteObjectWithFlag{"WriteObject", kq::jni::kWriteWithFlagSignature, KQ_W("WriteObject")};
const OperationInfo kWriteCachedObject{"WriteCachedObject", kq::jni::kWriteSignature, KQ_W("WriteCachedObject")};
const OperationInfo kUpdateObject{"UpdateObject", kq::jni::kUpdateSignature, KQ_W("UpdateObject")};
const OperationInfo kUpdateObjectWithFlag{"UpdateObject", kq::jni::kUpdateWithFlagSignature, KQ_W("UpdateObject")};
const OperationInfo kUpdateCachedObjectByHandle{"UpdateCachedObjectByHandle", kq::jni::kCachedUpdateByHandleSignature,
                                                KQ_W("UpdateCachedObjectByHandle"), kq::ClassMissing::kFail};
const OperationInfo kUpdateCachedObjectByName{"UpdateCachedObjectByName", kq::jni::kCachedUpdateByNameSignature,
                                              KQ_W("UpdateCachedObjectByName"), kq::ClassMissing::kFail};
const OperationInfo kReadObject{"ReadObject", kq::jni::kReadSignature, KQ_W("ReadObject")};
const OperationInfo kReadObjectByHandle{"ReadObjectByHandle", kq::jni::kReadWithMetaDataSignature,
                                        KQ_W("ReadObjectByHandle")};
const OperationInfo kReadObjectByName{"ReadObjectByName", kq::jni::kReadWithMetaDataSignature, KQ_W("ReadObjectByName"),
                                      kq::ClassMissing::kFail};

constexpr const WChar* kUnableToCopyLine = kq::text::kReadObjectUnableToCopy;

// Java longs carry the host's 64-bit values bit for bit.
jlong JavaLong(uint64_t value) { return static_cast<jlong>(value); }

// " objFlag:[0x" + 16 lower-case hex digits + "]".
WString FlagText(uint64_t flag) {
  static const char kDigits[] = "0123456789abcdef";
  WString text(kq::text::kObjFlagPrefix);
  for (int shift = 60; shift >= 0; shift -= 4) text += static_cast<WChar>(kDigits[(flag >> shift) & 0xF]);
  text += static_cast<WChar>(u']');
  return text;
}

// The data array of a write that calls Java even without it: a size that
// cannot be made into an array reaches Java as a null array, and the VM's
// exception is dropped so that the next JNI calls are legal.
ScopedLocalRef<jbyteArray> DataArrayOrNull(JNIEnv* env, const unsigned char* buffer, uint64_t size) {
  ScopedLocalRef<jbyteArray> bytes(env, kq::BufferToJByteArray(env, buffer, kq::ArrayLengthOf(size)));
  if (!bytes && env->ExceptionCheck()) env->ExceptionClear();
  return bytes;
}

// The record of a write or update that carries the new handle: the host's
// handle receives objHandle whatever the ordinal says.
template <typename Reader>
uint32_t HandleFromRecord(JNIEnv* env, jobject record, Reader reader, WString* objectHandle) {
  int32_t ordinal = 0;
  WString handle;
  reader(env, record, &ordinal, &handle);
  if (objectHandle != nullptr) *objectHandle = handle;
  return CJNIWrapper::MapErrorId(ordinal);
}

// The empty array a read hands to Java, sized by the low 32 bits of the
// request; null when no array can be made (any exception is dropped: the
// read then ends without calling Java).
ScopedLocalRef<jbyteArray> ReadArray(JNIEnv* env, const unsigned char* buffer, jsize length) {
  // A host buffer that is missing cannot receive anything.
  if (buffer == nullptr && length > 0) return ScopedLocalRef<jbyteArray>(env);
  ScopedLocalRef<jbyteArray> bytes(env, kq::NewEmptyJByteArray(env, length));
  if (!bytes && env->ExceptionCheck()) env->ExceptionClear();
  return bytes;
}

// The count a read stores in the host's size variable.  The library must not
// report more than was asked for; if it does, the count is cut to the request
// so that the host never believes in bytes that were not delivered.
uint64_t CutToRequest(uint64_t reported, uint64_t requested) { return std::min(reported, requested); }

// How many bytes go from the array into the host's buffer for a count: its
// low 32 bits, never past the array (whose length is the request's low 32
// bits, which the host's buffer holds).
jsize BytesToCopy(uint64_t count, jsize arrayLength) {
  const uint32_t low = static_cast<uint32_t>(count & 0xFFFFFFFFu);
  return static_cast<jsize>(std::min<uint64_t>(low, static_cast<uint64_t>(arrayLength)));
}

}  // namespace

// ---- writes -----------------------------------------------------------------

uint32_t CJNIWrapper::WriteObject(WString object, unsigned char* buffer, uint64_t size) {
  return RunOperation(kWriteObjectPlain, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    call.Line(kq::text::kWriteObjectMemoryCopyStarted, object);
    auto name = call.String(object);
    ScopedLocalRef<jbyteArray> bytes(env, kq::BufferToJByteArray(env, buffer, kq::ArrayLengthOf(size)));
    call.Line(kq::text::kWriteObjectMemoryCopyEnded, object);
    if (!bytes) {
      call.Describe();
      return KQ_ARRAY_NOT_MADE;
    }
    call.Line(kq::text::kWriteObjectJavaCalled, object);
    auto result = call.CallObject(name.get(), bytes.get(), JavaLong(size));
    call.Line(kq::text::kWriteObjectJavaEnded, object);
    return call.ErrorCode(result.get());
  });
}

namespace {

// WriteObject with metadata, with or without the object flag: the two differ
// only in the signature, the last Java argument and the flag text.
uint32_t WriteObjectWithMetaData(JavaCall& call, const WString& object, const unsigned char* buffer, uint64_t size,
                                 const MetaDataMap* metaData, const uint64_t* objFlag, WString* objectHandle) {
  JNIEnv* env = call.env();
  auto name = call.String(object);
  auto bytes = DataArrayOrNull(env, buffer, size);
  if (metaData == nullptr) call.Line(kq::text::kWriteObjectIsCalledWihNullMetadata, object);
  auto values = kq::BuildMetaDataArray(env, metaData);
  WString before = kq::text::kWriteObjectJavaCalledIsOccured + object;
  if (objFlag != nullptr) before += FlagText(*objFlag);
  call.Line(before);
  // A throwing method is described below, so its exception is kept.
  auto result =
      objFlag != nullptr
          ? call.CallObjectKeepingException(name.get(), bytes.get(), JavaLong(size), values.get(), JavaLong(*objFlag))
          : call.CallObjectKeepingException(name.get(), bytes.get(), JavaLong(size), values.get());
  call.Line(kq::text::kWriteObjectJavaEndedIsOccured, object);
  if (!result) {
    call.Line(kq::text::kWriteObjectIsReturnNull, object);
    call.Describe();
    return KQ_BRIDGE_FAILURE;
  }
  return HandleFromRecord(env, result.get(), kq::ReadWObjectHandleFnValue, objectHandle);
}

}  // namespace

uint32_t CJNIWrapper::WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                                  WString* objectHandle) {
  return RunOperation(kWriteObjectWithMetaData, [&](JavaCall& call) {
    return WriteObjectWithMetaData(call, object, buffer, size, metaData, nullptr, objectHandle);
  });
}

uint32_t CJNIWrapper::WriteObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                                  uint64_t objFlag, WString* objectHandle) {
  return RunOperation(kWriteObjectWithFlag, [&](JavaCall& call) {
    return WriteObjectWithMetaData(call, object, buffer, size, metaData, &objFlag, objectHandle);
  });
}

uint32_t CJNIWrapper::WriteCachedObject(WString object, unsigned char* buffer, uint64_t size, MetaDataMap* metaData,
                                        WString* objectHandle) {
  return RunOperation(kWriteCachedObject, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    auto name = call.String(object);
    auto bytes = DataArrayOrNull(env, buffer, size);
    if (metaData == nullptr) call.Line(kq::text::kWriteCachedObjectIsCalledWihNullMetadata, object);
    auto values = kq::BuildMetaDataArray(env, metaData);
    call.Line(kq::text::kWriteCachedObjectJavaIsCalled, object);
    auto result = call.CallObject(name.get(), bytes.get(), JavaLong(size), values.get());
    call.Line(kq::text::kWriteCachedObjectJavaIsEnded, object);
    if (!result) {
      call.Line(kq::text::kWriteCachedObjectJavaIsReturnedNULL, object);
      return KQ_BRIDGE_FAILURE;
    }
    return HandleFromRecord(env, result.get(), kq::ReadWObjectHandleFnValue, objectHandle);
  });
}

// ---- updates ----------------------------------------------------------------

namespace {

// UpdateObject with or without the object flag; only the flagged form writes
// a line, and a null record empties the host's handle in both.
uint32_t UpdateObjectCall(JavaCall& call, const WString& first, const WString& second, const unsigned char* buffer,
                          uint64_t size, const MetaDataMap* metaData, const uint64_t* objFlag, WString* objectHandle) {
  JNIEnv* env = call.env();
  auto firstName = call.String(first);
  auto secondName = call.String(second);
  auto bytes = DataArrayOrNull(env, buffer, size);
  auto values = kq::BuildMetaDataArray(env, metaData);
  ScopedLocalRef<jobject> result(env);
  if (objFlag != nullptr) {
    call.Line(kq::text::kUpdateObjectJavaCalledIsOccured + second + FlagText(*objFlag));
    result = call.CallObject(firstName.get(), secondName.get(), bytes.get(), JavaLong(size), values.get(),
                             JavaLong(*objFlag));
  } else {
    result = call.CallObject(firstName.get(), secondName.get(), bytes.get(), JavaLong(size), values.get());
  }
  if (!result) {
    if (objectHandle != nullptr) objectHandle->clear();
    return KQ_BRIDGE_FAILURE;
  }
  return HandleFromRecord(env, result.get(), kq::ReadCreateFnValue, objectHandle);
}

// The cached updates answer with a bare CErrorValue.
uint32_t OrdinalOfErrorValue(JNIEnv* env, jobject errorValue) {
  if (errorValue == nullptr) return KQ_BRIDGE_FAILURE;
  int32_t ordinal = 0;
  kq::ReadErrorOrdinal(env, errorValue, &ordinal);
  return CJNIWrapper::MapErrorId(ordinal);
}

}  // namespace

uint32_t CJNIWrapper::UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size,
                                   MetaDataMap* metaData, WString* objectHandle) {
  return RunOperation(kUpdateObject, [&](JavaCall& call) {
    return UpdateObjectCall(call, first, second, buffer, size, metaData, nullptr, objectHandle);
  });
}

uint32_t CJNIWrapper::UpdateObject(WString first, WString second, unsigned char* buffer, uint64_t size,
                                   MetaDataMap* metaData, uint64_t objFlag, WString* objectHandle) {
  return RunOperation(kUpdateObjectWithFlag, [&](JavaCall& call) {
    return UpdateObjectCall(call, first, second, buffer, size, metaData, &objFlag, objectHandle);
  });
}

uint32_t CJNIWrapper::UpdateCachedObjectByHandle(WString first, WString second, unsigned char* buffer, uint64_t size,
                                                 MetaDataMap* metaData) {
  return RunOperation(kUpdateCachedObjectByHandle, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    auto firstName = call.String(first);
    auto secondName = call.String(second);
    auto bytes = DataArrayOrNull(env, buffer, size);
    if (metaData == nullptr) call.Line(kq::text::kUpdateCachedObjectByHandleNullMetadata, first);
    auto values = kq::BuildMetaDataArray(env, metaData);
    call.Line(kq::text::kUpdateCachedObjectByHandleJavaCalledIsOccured, first);
    auto result = call.CallObject(firstName.get(), secondName.get(), bytes.get(), JavaLong(size), values.get());
    call.Line(kq::text::kUpdateCachedObjectByHandleJavaEndedIsOccured, first);
    return OrdinalOfErrorValue(env, result.get());
  });
}

uint32_t CJNIWrapper::UpdateCachedObjectByName(WString object, unsigned char* buffer, uint64_t size,
                                               MetaDataMap* metaData) {
  return RunOperation(kUpdateCachedObjectByName, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    auto name = call.String(object);
    auto bytes = DataArrayOrNull(env, buffer, size);
    auto values = kq::BuildMetaDataArray(env, metaData);
    auto result = call.CallObject(name.get(), bytes.get(), JavaLong(size), values.get());
    return OrdinalOfErrorValue(env, result.get());
  });
}

// ---- reads ------------------------------------------------------------------

uint32_t CJNIWrapper::ReadObject(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size) {
  return RunOperation(kReadObject, [&](JavaCall& call) -> uint32_t {
    JNIEnv* env = call.env();
    if (size == nullptr) return KQ_BRIDGE_FAILURE;
    const uint64_t requested = *size;
    auto name = call.String(object);
    auto bytes = ReadArray(env, buffer, kq::ArrayLengthOf(requested));
    if (!bytes) return KQ_BRIDGE_FAILURE;
    call.Line(kq::text::kReadObjectIsCalled, object);
    auto result = call.CallObject(name.get(), bytes.get(), JavaLong(requested), JavaLong(offset));
    call.Line(kq::text::kReadObjectIsEnded, object);
    // Without a record the whole request is delivered (as Java left it).
    int32_t ordinal = 0;
    uint64_t count = requested;
    kq::ReadReadObjectFnValue(env, result.get(), &ordinal, &count);
    *size = CutToRequest(count, requested);
    call.Line(kq::text::kReadObjectBufferCopyStarted, object);
    if (!kq::CopyFromJByteArray(env, bytes.get(), BytesToCopy(*size, kq::ArrayLengthOf(requested)), buffer)) {
      call.Line(kUnableToCopyLine);
      return KQ_BUFFER_UNAVAILABLE;
    }
    call.Line(kq::text::kReadObjectBufferCopyEnded, object);
    return MapErrorId(ordinal);
  });
}

namespace {

// ReadObjectByHandle and ReadObjectByName: the same call under two names.
uint32_t ReadWithMetaData(JavaCall& call, const WString& object, unsigned char* buffer, uint64_t offset, uint64_t* size,
                          const WString* names, uint64_t namesCount, MetaDataMap* metaData) {
  JNIEnv* env = call.env();
  if (size == nullptr) return KQ_BRIDGE_FAILURE;
  const uint64_t requested = *size;
  auto name = call.String(object);
  auto bytes = ReadArray(env, buffer, kq::ArrayLengthOf(requested));
  if (!bytes) return KQ_BRIDGE_FAILURE;
  const int32_t nameCount = static_cast<int32_t>(static_cast<uint32_t>(namesCount & 0xFFFFFFFFu));
  ScopedLocalRef<jobjectArray> javaNames(env, names != nullptr ? kq::NewStringArray(env, nameCount, names) : nullptr);
  auto result = call.CallObject(name.get(), bytes.get(), JavaLong(offset), JavaLong(requested), javaNames.get());
  if (!result) return KQ_BRIDGE_FAILURE;
  int32_t ordinal = 0;
  uint64_t count = requested;
  kq::ReadRObjectByNameFnValue(env, result.get(), &ordinal, metaData, &count);
  *size = CutToRequest(count, requested);
  if (!kq::CopyFromJByteArray(env, bytes.get(), BytesToCopy(*size, kq::ArrayLengthOf(requested)), buffer)) {
    call.Line(kUnableToCopyLine);
    return KQ_BUFFER_UNAVAILABLE;
  }
  return CJNIWrapper::MapErrorId(ordinal);
}

}  // namespace

uint32_t CJNIWrapper::ReadObjectByHandle(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size,
                                         WString* names, uint64_t namesCount, MetaDataMap* metaData) {
  return RunOperation(kReadObjectByHandle, [&](JavaCall& call) {
    return ReadWithMetaData(call, object, buffer, offset, size, names, namesCount, metaData);
  });
}

uint32_t CJNIWrapper::ReadObjectByName(WString object, unsigned char* buffer, uint64_t offset, uint64_t* size,
                                       WString* names, uint64_t namesCount, MetaDataMap* metaData) {
  return RunOperation(kReadObjectByName, [&](JavaCall& call) {
    return ReadWithMetaData(call, object, buffer, offset, size, names, namesCount, metaData);
  });
}
