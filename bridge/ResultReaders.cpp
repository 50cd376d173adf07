// Readers of the Java library's result records.
//
// Every record is read by one engine, ReadRecord.  A reader only names the
// record's class, the rules it follows where records differ (what is reset on
// entry, what a failed lookup, a null errorValue and a failure while reading
// do), and its fields with the host outputs they go to.  The engine then:
//
//   1. resets what the rules say, and stops for a null result;
//   2. makes the outputs that the reader creates (the folder sub-list);
//   3. finds the class, checks that the result is one of it, looks up
//      errorValue and every field;
//   4. decodes errorValue into the ordinal (ReadErrorOrdinal);
//   5. reads the fields in the order given, into outputs the host gave
//      (a null output is not read).
//
// A Java exception or a result of another class is a "failure while
// reading": the exception is described and cleared, the ordinal follows the
// record's rule, and outputs written before it stay.
#include "bridge/ResultReaders.h"

#include <array>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <new>

#include "bridge/JavaNames.h"
#include "bridge/MetaData.h"
#include "bridge/RecordSupport.h"

namespace kq {

namespace {

using namespace record;

constexpr int32_t kReadFailedOrdinal = 40;

// ---- fields ----

enum class FieldKind {
  kText,            // String -> WString (assigned when not null)
  kLong,            // long -> uint64_t, bit for bit
  kFlag,            // boolean -> uint32_t 0 or 1
  kInt,             // int -> int32_t
  kTextList,        // String[] -> appended to a WStringList
  kContainerNames,  // KQAzureContainer[] -> containerName appended to a WStringList
  kMetaData,        // CPluginMetaData[] -> inserted into a MetaDataMap
  kSubList,         // CObjectSubListElement[] -> a new ObjectSubList
};

// One field of a record and the host output it is read into.  `out` points
// to the type that `kind` names; null means the host gave no place for it.
struct Field {
  const char* name;
  const char* signature;
  FieldKind kind;
  void* out;
};

Field Text(const char* name, WString* out) { return {name, kq::jni::kStringType, FieldKind::kText, out}; }
Field Long(const char* name, uint64_t* out) { return {name, "J", FieldKind::kLong, out}; }
Field Flag(const char* name, uint32_t* out) { return {name, "Z", FieldKind::kFlag, out}; }
Field Int(const char* name, int32_t* out) { return {name, "I", FieldKind::kInt, out}; }
Field TextList(const char* name, WStringList* out) {
  return {name, kq::jni::kStringArrayType, FieldKind::kTextList, out};
}
Field ContainerNames(const char* name, WStringList* out) {
  return {name, kq::jni::kContainerArrayType, FieldKind::kContainerNames, out};
}
Field MetaData(const char* name, MetaDataMap* out) {
  return {name, kq::jni::kMetaDataArrayClass, FieldKind::kMetaData, out};
}
// `out` is where the address of the new list is stored.
Field SubList(const char* name, ObjectSubList** out) {
  return {name, kq::jni::kSubListArrayClass, FieldKind::kSubList, out};
}

// ---- per-record rules ----

enum class OnLookupFailure {
  kReadNothing,    // class or any field missing: stop, ordinal as reset
  kAsReadFailure,  // class or any field missing: a failure while reading
  kSkipField,      // class missing: stop; a missing field is just not read
};
enum class OnNullError {
  kDecode,      // decoded like any other: ordinal 40, the fields still read
  kSkipDecode,  // ordinal left as it is, the fields still read
  kStop,        // ordinal 0, nothing else read
};
enum class OnReadFailure {
  kOrdinal40,
  kKeepOrdinal,  // whatever was decoded (or reset) stays
};

struct RecordRules {
  const char* className;
  bool resetOrdinal;  // ordinal set to 0 on entry
  bool resetOutputs;  // texts emptied and numbers zeroed on entry
  OnLookupFailure lookupFailure;
  OnNullError nullError;
  OnReadFailure readFailure;
};

using L = OnLookupFailure;
using N = OnNullError;
using R = OnReadFailure;

// clang-format off
//                                  class                                            reset   reset    a field or      null            failure
//                                                                                   ordinal outputs  class missing   errorValue      while reading
constexpr RecordRules kCreateFnValue{kq::jni::kCreateFnValueClass,           true,   true,    L::kReadNothing,   N::kDecode,     R::kOrdinal40};
constexpr RecordRules kWObjectHandle{kq::jni::kWObjectHandleClass,    true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kGetObjectMeta{kq::jni::kGetObjectMetaDataClass,       true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kUniqueAccount{kq::jni::kUniqueAccountClass,      true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kCString      {kq::jni::kCStringClass,                  true,   false,   L::kReadNothing,   N::kDecode,     R::kKeepOrdinal};
constexpr RecordRules kIsObjectExist{kq::jni::kIsObjectExistClass,    true,   false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kAccountSize  {kq::jni::kAccountSizeClass,     true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kReadObject   {kq::jni::kReadObjectClass,       false,  false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kCInt         {kq::jni::kCIntClass,                     true,   false,   L::kReadNothing,   N::kSkipDecode, R::kKeepOrdinal};
constexpr RecordRules kListRegions  {kq::jni::kListRegionsClass,            true,   false,   L::kReadNothing,   N::kDecode,     R::kKeepOrdinal};
constexpr RecordRules kArrayOfString{kq::jni::kArrayOfStringClass,           true,   false,   L::kReadNothing,   N::kDecode,     R::kKeepOrdinal};
constexpr RecordRules kListContainer{kq::jni::kListContainersClass,         true,   false,   L::kSkipField,     N::kStop,       R::kOrdinal40};
constexpr RecordRules kAccountInfo  {kq::jni::kAccountInfoClass,   false,  false,   L::kAsReadFailure, N::kDecode,     R::kKeepOrdinal};
constexpr RecordRules kGObjectMeta  {kq::jni::kGObjectMetaDataClass,  false,  false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kRObjectByName{kq::jni::kRObjectByNameClass,    false,  false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40};
constexpr RecordRules kSubMetaList  {kq::jni::kSubMetaDataListClass,   false,  false,   L::kAsReadFailure, N::kSkipDecode, R::kOrdinal40};
// clang-format on

// ---- the engine ----

constexpr size_t kMaxFields = 8;

void ResetOutput(const Field& field) {
  if (field.out == nullptr) return;
  switch (field.kind) {
    case FieldKind::kText:
      static_cast<WString*>(field.out)->clear();
      break;
    case FieldKind::kLong:
      *static_cast<uint64_t*>(field.out) = 0;
      break;
    case FieldKind::kFlag:
      *static_cast<uint32_t*>(field.out) = 0;
      break;
    case FieldKind::kInt:
      *static_cast<int32_t*>(field.out) = 0;
      break;
    default:
      break;  // lists and maps are only ever added to
  }
}

// Appends the text of every non-null element; for container arrays the text
// is each element's `nameField`.
void AppendTexts(JNIEnv* env, jobjectArray array, jfieldID nameField, WStringList* out) {
  ForEachElement(env, array, [&](jobject element) {
    ScopedLocalRef<jstring> name(env);
    if (nameField != nullptr) name = ObjectField<jstring>(env, element, nameField);
    MallocedText copy = TakeText(env, nameField != nullptr ? name.get() : static_cast<jstring>(element));
    if (copy) out->emplace_back(copy.get());
  });
}

void ReadField(JNIEnv* env, jobject result, jfieldID id, const Field& field) {
  if (field.out == nullptr) return;
  switch (field.kind) {
    case FieldKind::kText: {
      ScopedLocalRef<jstring> text = ObjectField<jstring>(env, result, id);
      MallocedText copy = TakeText(env, text.get());
      if (copy) static_cast<WString*>(field.out)->assign(copy.get());
      return;
    }
    case FieldKind::kLong: {
      const jlong value = env->GetLongField(result, id);
      ThrowIfPending(env);
      *static_cast<uint64_t*>(field.out) = static_cast<uint64_t>(value);
      return;
    }
    case FieldKind::kFlag: {
      const jboolean value = env->GetBooleanField(result, id);
      ThrowIfPending(env);
      *static_cast<uint32_t*>(field.out) = value != JNI_FALSE ? 1u : 0u;
      return;
    }
    case FieldKind::kInt: {
      const jint value = env->GetIntField(result, id);
      ThrowIfPending(env);
      *static_cast<int32_t*>(field.out) = static_cast<int32_t>(value);
      return;
    }
    default:
      break;
  }

  ScopedLocalRef<jobjectArray> array = ObjectField<jobjectArray>(env, result, id);
  if (!array) return;
  switch (field.kind) {
    case FieldKind::kTextList:
      AppendTexts(env, array.get(), nullptr, static_cast<WStringList*>(field.out));
      return;
    case FieldKind::kContainerNames: {
      ScopedLocalRef<jclass> cls = FindClass(env, kq::jni::kContainerClass);
      jfieldID name = FindField(env, cls.get(), "containerName", kq::jni::kStringType);
      if (name == nullptr) throw ReadFailure();
      AppendTexts(env, array.get(), name, static_cast<WStringList*>(field.out));
      return;
    }
    case FieldKind::kMetaData:
      ReadMetaDataArray(env, array.get(), static_cast<MetaDataMap*>(field.out));
      return;
    case FieldKind::kSubList:
      ReadSubListArray(env, array.get(), *static_cast<ObjectSubList**>(field.out));
      return;
    default:
      return;
  }
}

// A record's class and field identifiers, kept once every lookup succeeded:
// the records are read on every call of the data path, and a class held by
// a global reference is never unloaded, so a later lookup would find the
// same again.  Keyed by the record's rules, which each reader uses with one
// fixed field list.
struct KeptRecord {
  const RecordRules* rules;
  jclass cls;  // global reference
  jfieldID errorId;
  std::array<jfieldID, kMaxFields> ids;
};
constexpr size_t kKeptRecordSlots = 32;  // more than there are records
std::atomic<const KeptRecord*> g_keptRecords[kKeptRecordSlots];

const KeptRecord* FindKeptRecord(const RecordRules& rules) noexcept {
  for (const auto& slot : g_keptRecords) {
    const KeptRecord* kept = slot.load(std::memory_order_acquire);
    if (kept == nullptr) return nullptr;  // slots fill from the front
    if (kept->rules == &rules) return kept;
  }
  return nullptr;
}

void KeepRecord(JNIEnv* env, const RecordRules& rules, jclass cls, jfieldID errorId,
                const std::array<jfieldID, kMaxFields>& ids) noexcept {
  jclass global = static_cast<jclass>(env->NewGlobalRef(cls));
  auto* kept = global != nullptr ? new (std::nothrow) KeptRecord{&rules, global, errorId, ids} : nullptr;
  if (kept != nullptr) {
    for (auto& slot : g_keptRecords) {
      const KeptRecord* expected = nullptr;
      if (slot.compare_exchange_strong(expected, kept, std::memory_order_acq_rel)) return;
      if (expected->rules == &rules) break;  // another thread kept it first
    }
  }
  if (global != nullptr) env->DeleteGlobalRef(global);
  delete kept;
}

void ReadRecord(JNIEnv* env, jobject result, int32_t* ordinal, const RecordRules& rules,
                std::initializer_list<Field> fields) noexcept {
  int32_t unused = 0;
  if (ordinal == nullptr) ordinal = &unused;
  if (rules.resetOrdinal) *ordinal = 0;
  if (rules.resetOutputs) {
    for (const Field& field : fields) ResetOutput(field);
  }
  if (result == nullptr || env == nullptr || fields.size() > kMaxFields) return;

  try {
    // A sub-list is handed out for every record that came back, whatever
    // the reading below makes of it, so that the host always has one to free.
    for (const Field& field : fields) {
      if (field.kind == FieldKind::kSubList && field.out != nullptr) {
        *static_cast<ObjectSubList**>(field.out) = new ObjectSubList();
      }
    }

    ScopedLocalRef<jclass> found(env);
    jclass cls = nullptr;
    jfieldID errorId = nullptr;
    std::array<jfieldID, kMaxFields> ids{};
    bool missing = false;
    if (const KeptRecord* kept = FindKeptRecord(rules)) {
      cls = kept->cls;
      errorId = kept->errorId;
      ids = kept->ids;
      if (!env->IsInstanceOf(result, cls)) throw ReadFailure();
    } else {
      found = FindClass(env, rules.className);
      if (!found) {
        if (rules.lookupFailure == L::kAsReadFailure) throw ReadFailure();
        return;
      }
      cls = found.get();
      // Reading fields of an object of another class would be undefined.
      if (!env->IsInstanceOf(result, cls)) throw ReadFailure();
      errorId = FindField(env, cls, "errorValue", kq::jni::kErrorValueType);
      missing = errorId == nullptr;
      size_t n = 0;
      for (const Field& field : fields) {
        ids[n] = FindField(env, cls, field.name, field.signature);
        missing = missing || ids[n] == nullptr;
        ++n;
      }
      if (!missing) KeepRecord(env, rules, cls, errorId, ids);
    }
    if (missing && rules.lookupFailure == L::kAsReadFailure) throw ReadFailure();
    if (missing && rules.lookupFailure == L::kReadNothing) return;

    if (errorId != nullptr) {
      ScopedLocalRef<jobject> errorValue = ObjectField(env, result, errorId);
      if (!errorValue && rules.nullError == N::kStop) {
        *ordinal = 0;
        return;
      }
      if (errorValue || rules.nullError == N::kDecode) ReadErrorOrdinal(env, errorValue.get(), ordinal);
    }

    size_t n = 0;
    for (const Field& field : fields) {
      if (ids[n] != nullptr) ReadField(env, result, ids[n], field);
      ++n;
    }
  } catch (...) {
    ClearExceptionWithConsoleNote(env);
    if (rules.readFailure == R::kOrdinal40) *ordinal = kReadFailedOrdinal;
  }
}

}  // namespace

// ---- shared helpers ----

void ForgetKeptRecords(JNIEnv* env) {
  for (auto& slot : g_keptRecords) {
    const KeptRecord* kept = slot.exchange(nullptr, std::memory_order_acq_rel);
    if (kept == nullptr) continue;
    env->DeleteGlobalRef(kept->cls);
    delete kept;
  }
}

jobjectArray NewStringArray(JNIEnv* env, int32_t count, const WString* strings) {
  if (env == nullptr || count < 1 || strings == nullptr) return nullptr;
  try {
    ScopedLocalRef<jclass> cls(env, env->FindClass("java/lang/String"));
    ThrowIfPending(env);
    ScopedLocalRef<jstring> initial(env, env->NewStringUTF(""));
    ThrowIfPending(env);
    ScopedLocalRef<jobjectArray> array(env, env->NewObjectArray(count, cls.get(), initial.get()));
    ThrowIfPending(env);
    for (int32_t i = 0; i < count; ++i) {
      ScopedLocalRef<jstring> text(env, WideToJString(env, strings[i]));
      ThrowIfPending(env);
      env->SetObjectArrayElement(array.get(), i, text.get());
      ThrowIfPending(env);
    }
    return array.release();
  } catch (...) {
    // Half an array would hand Java names the host did not give.
    ClearExceptionWithConsoleNote(env);
    return nullptr;
  }
}

// ---- one reader per record ----

void ReadCreateFnValue(JNIEnv* env, jobject result, int32_t* error, WString* objHandle) {
  ReadRecord(env, result, error, kCreateFnValue, {Text("objHandle", objHandle)});
}

void ReadWObjectHandleFnValue(JNIEnv* env, jobject result, int32_t* error, WString* objHandle) {
  ReadRecord(env, result, error, kWObjectHandle, {Text("objHandle", objHandle)});
}

void ReadGetObjectMetaData(JNIEnv* env, jobject result, int32_t* error, WString* value) {
  ReadRecord(env, result, error, kGetObjectMeta, {Text("value", value)});
}

void ReadUniqueAccountValue(JNIEnv* env, jobject result, int32_t* error, WString* accountName) {
  ReadRecord(env, result, error, kUniqueAccount, {Text("accountName", accountName)});
}

void ReadCString(JNIEnv* env, jobject result, int32_t* error, WString* value) {
  ReadRecord(env, result, error, kCString, {Text("value", value)});
}

void ReadIsObjectExistFnValue(JNIEnv* env, jobject result, int32_t* error, uint32_t* isExist) {
  ReadRecord(env, result, error, kIsObjectExist, {Flag("isExist", isExist)});
}

void ReadGetAccountSizeValue(JNIEnv* env, jobject result, int32_t* error, uint64_t* size) {
  ReadRecord(env, result, error, kAccountSize, {Long("size", size)});
}

void ReadReadObjectFnValue(JNIEnv* env, jobject result, int32_t* error, uint64_t* sizeRead) {
  ReadRecord(env, result, error, kReadObject, {Long("sizeRead", sizeRead)});
}

void ReadCInt(JNIEnv* env, jobject result, int32_t* error, int32_t* value) {
  ReadRecord(env, result, error, kCInt, {Int("value", value)});
}

void ReadListRegions(JNIEnv* env, jobject result, int32_t* error, WStringList* regions) {
  ReadRecord(env, result, error, kListRegions, {TextList("regionsList", regions)});
}

void ReadArrayOfString(JNIEnv* env, jobject result, int32_t* error, WStringList* strings) {
  ReadRecord(env, result, error, kArrayOfString, {TextList("arrayOfString", strings)});
}

void ReadListContainers(JNIEnv* env, jobject result, int32_t* error, WStringList* containers) {
  ReadRecord(env, result, error, kListContainer, {ContainerNames("containers", containers)});
}

void ReadGetAccountInfoFnValue(JNIEnv* env, jobject result, int32_t* error, AccountInfoRecord* info) {
  const bool given = info != nullptr;
  ReadRecord(env, result, error, kAccountInfo,
             {Text("accountIndentity", given ? &info->accountIndentity : nullptr),
              Text("accountType", given ? &info->accountType : nullptr),
              Text("displayName", given ? &info->displayName : nullptr),
              Text("emailAddress", given ? &info->emailAddress : nullptr),
              Long("usedSizeInByteTotal", given ? &info->usedSizeInByteTotal : nullptr),
              Long("remainedSizeInByteTotal", given ? &info->remainedSizeInByteTotal : nullptr)});
}

void ReadGObjectMetaDataFnValue(JNIEnv* env, jobject result, int32_t* error, MetaDataMap* metaData) {
  ReadRecord(env, result, error, kGObjectMeta, {MetaData("values", metaData)});
}

void ReadRObjectByNameFnValue(JNIEnv* env, jobject result, int32_t* error, MetaDataMap* metaData, uint64_t* bytesRead) {
  // The count goes with the ordinal, before the map is filled.
  ReadRecord(env, result, error, kRObjectByName, {Long("bytesRead", bytesRead), MetaData("values", metaData)});
}

void ReadRetGetSubMetaDataList(JNIEnv* env, jobject result, int32_t* error, ObjectSubList** subList) {
  ReadRecord(env, result, error, kSubMetaList, {SubList("metaDat", subList)});
}

}  // namespace kq
