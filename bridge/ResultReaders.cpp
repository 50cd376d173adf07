// Readers of the Java library's result records.
//
// Every record is read by one engine, ReadRecord.  A record's row names its
// class, the rules it follows where records differ (what is reset on entry,
// what a failed lookup, a null errorValue and a failure while reading do),
// and its fields; a reader hands the host outputs the fields go to, in the
// same order.  The engine then:
//
//   1. resets what the rules say, and stops for a null result;
//   2. makes the outputs that the reader creates (the folder sub-list);
//   3. finds the class, checks that the result is one of it, looks up
//      errorValue and every field (once: the answer is kept, KeptLookup);
//   4. decodes errorValue into the ordinal (ReadErrorOrdinal);
//   5. reads the fields in the order given, into outputs the host gave
//      (a null output is not read).
//
// A Java exception or a result of another class is a "failure while
// reading": the exception is described and cleared, the ordinal follows the
// record's rule, and outputs written before it stay.
#include "bridge/ResultReaders.h"

#include <array>
#include <initializer_list>

#include "bridge/JavaNames.h"
#include "bridge/JniHelpers.h"
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

struct Field {
  const char* name;
  FieldKind kind;
};

// A host output a reader hands to the engine, tagged with its type so that
// the engine writes only to what the field's kind reads into.
struct Out {
  enum class Type { kText, kU64, kU32, kI32, kList, kMap, kSubList };
  Out(WString* p) : type(Type::kText), p(p) {}            // NOLINT: implicit on purpose
  Out(uint64_t* p) : type(Type::kU64), p(p) {}            // NOLINT
  Out(uint32_t* p) : type(Type::kU32), p(p) {}            // NOLINT
  Out(int32_t* p) : type(Type::kI32), p(p) {}             // NOLINT
  Out(WStringList* p) : type(Type::kList), p(p) {}        // NOLINT
  Out(MetaDataMap* p) : type(Type::kMap), p(p) {}         // NOLINT
  Out(ObjectSubList** p) : type(Type::kSubList), p(p) {}  // NOLINT
  Type type;
  void* p;  // null: the host gave no place for it
};

// What each kind of field is in Java and what it is read into, in the order
// of FieldKind.
struct KindInfo {
  const char* signature;
  Out::Type out;
};
constexpr KindInfo kKinds[] = {
    {kq::jni::kStringType, Out::Type::kText},
    {"J", Out::Type::kU64},
    {"Z", Out::Type::kU32},
    {"I", Out::Type::kI32},
    {kq::jni::kStringArrayType, Out::Type::kList},
    {kq::jni::kContainerArrayType, Out::Type::kList},
    {kq::jni::kMetaDataArrayClass, Out::Type::kMap},
    {kq::jni::kSubListArrayClass, Out::Type::kSubList},
};
static_assert(sizeof(kKinds) / sizeof(kKinds[0]) == static_cast<size_t>(FieldKind::kSubList) + 1, "a row per kind");
constexpr const KindInfo& InfoOf(FieldKind kind) { return kKinds[static_cast<size_t>(kind)]; }

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
  bool resetOrdinal;  // ordinal set to 0 on entry
  bool resetOutputs;  // texts emptied and numbers zeroed on entry
  OnLookupFailure lookupFailure;
  OnNullError nullError;
  OnReadFailure readFailure;
};

constexpr size_t kMaxFields = kq::jni::kMaxMembers - 1;  // errorValue comes first

// A result record: its rules and its fields, in the order they are read.
// Its lookup (errorValue, then every field) is made once per process.
class Record {
 public:
  Record(const char* className, RecordRules rules, std::initializer_list<Field> fields) noexcept
      : rules(rules),
        count(fields.size() < kMaxFields ? fields.size() : kMaxFields),
        lookup(className, Members(fields).data(), count + 1) {
    size_t n = 0;
    for (const Field& field : fields) {
      if (n == count) break;
      kinds[n++] = field.kind;
    }
  }

  const RecordRules rules;
  const size_t count;
  std::array<FieldKind, kMaxFields> kinds{};
  const kq::jni::KeptLookup lookup;

 private:
  static std::array<kq::jni::Member, kq::jni::kMaxMembers> Members(std::initializer_list<Field> fields) noexcept {
    std::array<kq::jni::Member, kq::jni::kMaxMembers> members{};
    members[0] = {"errorValue", kq::jni::kErrorValueType, kq::jni::MemberKind::kField};
    size_t n = 1;
    for (const Field& field : fields) {
      if (n == members.size()) break;
      members[n++] = {field.name, InfoOf(field.kind).signature, kq::jni::MemberKind::kField};
    }
    return members;
  }
};

using L = OnLookupFailure;
using N = OnNullError;
using R = OnReadFailure;
using K = FieldKind;

// clang-format off
//                                                            reset   reset    a field or        null            failure
//                                                            ordinal outputs  class missing     errorValue      while reading
const Record kCreateFnValue{kq::jni::kCreateFnValueClass,    {true,   true,    L::kReadNothing,   N::kDecode,     R::kOrdinal40},
                            {{"objHandle", K::kText}}};
const Record kWObjectHandle{kq::jni::kWObjectHandleClass,    {true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"objHandle", K::kText}}};
const Record kGetObjectMeta{kq::jni::kGetObjectMetaDataClass, {true,  true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"value", K::kText}}};
const Record kUniqueAccount{kq::jni::kUniqueAccountClass,    {true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"accountName", K::kText}}};
const Record kCString      {kq::jni::kCStringClass,          {true,   false,   L::kReadNothing,   N::kDecode,     R::kKeepOrdinal},
                            {{"value", K::kText}}};
const Record kIsObjectExist{kq::jni::kIsObjectExistClass,    {true,   false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"isExist", K::kFlag}}};
const Record kAccountSize  {kq::jni::kAccountSizeClass,      {true,   true,    L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"size", K::kLong}}};
const Record kReadObject   {kq::jni::kReadObjectClass,       {false,  false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"sizeRead", K::kLong}}};
const Record kCInt         {kq::jni::kCIntClass,             {true,   false,   L::kReadNothing,   N::kSkipDecode, R::kKeepOrdinal},
                            {{"value", K::kInt}}};
const Record kListRegions  {kq::jni::kListRegionsClass,      {true,   false,   L::kReadNothing,   N::kDecode,     R::kKeepOrdinal},
                            {{"regionsList", K::kTextList}}};
const Record kArrayOfString{kq::jni::kArrayOfStringClass,    {true,   false,   L::kReadNothing,   N::kDecode,     R::kKeepOrdinal},
                            {{"arrayOfString", K::kTextList}}};
const Record kListContainer{kq::jni::kListContainersClass,   {true,   false,   L::kSkipField,     N::kStop,       R::kOrdinal40},
                            {{"containers", K::kContainerNames}}};
const Record kAccountInfo  {kq::jni::kAccountInfoClass,      {false,  false,   L::kAsReadFailure, N::kDecode,     R::kKeepOrdinal},
                            {{"accountIndentity", K::kText}, {"accountType", K::kText}, {"displayName", K::kText},
                             {"emailAddress", K::kText}, {"usedSizeInByteTotal", K::kLong},
                             {"remainedSizeInByteTotal", K::kLong}}};
const Record kGObjectMeta  {kq::jni::kGObjectMetaDataClass,  {false,  false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"values", K::kMetaData}}};
// The count goes with the ordinal, before the map is filled.
const Record kRObjectByName{kq::jni::kRObjectByNameClass,    {false,  false,   L::kAsReadFailure, N::kDecode,     R::kOrdinal40},
                            {{"bytesRead", K::kLong}, {"values", K::kMetaData}}};
const Record kSubMetaList  {kq::jni::kSubMetaDataListClass,  {false,  false,   L::kAsReadFailure, N::kSkipDecode, R::kOrdinal40},
                            {{"metaDat", K::kSubList}}};
// clang-format on

// The element of a container list, read by name.
const kq::jni::KeptLookup kContainer{kq::jni::kContainerClass,
                                     {{"containerName", kq::jni::kStringType, kq::jni::MemberKind::kField}}};

// ---- the engine ----

void ResetOutput(FieldKind kind, void* out) {
  if (out == nullptr) return;
  switch (kind) {
    case FieldKind::kText:
      static_cast<WString*>(out)->clear();
      break;
    case FieldKind::kLong:
      *static_cast<uint64_t*>(out) = 0;
      break;
    case FieldKind::kFlag:
      *static_cast<uint32_t*>(out) = 0;
      break;
    case FieldKind::kInt:
      *static_cast<int32_t*>(out) = 0;
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

// KQAzureContainer.containerName, or null (the lookup's exception cleared).
jfieldID ContainerNameField(JNIEnv* env) {
  if (const kq::jni::KeptIds* kept = kContainer.Kept()) return kept->fields[0];
  ScopedLocalRef<jclass> cls = FindClass(env, kContainer.className());
  const kq::jni::Member& name = *kContainer.begin();
  kq::jni::KeptIds ids;
  ids.fields[0] = FindField(env, cls.get(), name.name, name.signature);
  if (ids.fields[0] != nullptr) kContainer.Keep(env, cls.get(), ids);
  return ids.fields[0];
}

void ReadField(JNIEnv* env, jobject result, jfieldID id, FieldKind kind, void* out) {
  if (out == nullptr) return;
  switch (kind) {
    case FieldKind::kText: {
      ScopedLocalRef<jstring> text = ObjectField<jstring>(env, result, id);
      MallocedText copy = TakeText(env, text.get());
      if (copy) static_cast<WString*>(out)->assign(copy.get());
      return;
    }
    case FieldKind::kLong: {
      const jlong value = env->GetLongField(result, id);
      ThrowIfPending(env);
      *static_cast<uint64_t*>(out) = static_cast<uint64_t>(value);
      return;
    }
    case FieldKind::kFlag: {
      const jboolean value = env->GetBooleanField(result, id);
      ThrowIfPending(env);
      *static_cast<uint32_t*>(out) = value != JNI_FALSE ? 1u : 0u;
      return;
    }
    case FieldKind::kInt: {
      const jint value = env->GetIntField(result, id);
      ThrowIfPending(env);
      *static_cast<int32_t*>(out) = static_cast<int32_t>(value);
      return;
    }
    default:
      break;
  }

  ScopedLocalRef<jobjectArray> array = ObjectField<jobjectArray>(env, result, id);
  if (!array) return;
  switch (kind) {
    case FieldKind::kTextList:
      AppendTexts(env, array.get(), nullptr, static_cast<WStringList*>(out));
      return;
    case FieldKind::kContainerNames: {
      jfieldID name = ContainerNameField(env);
      if (name == nullptr) throw ReadFailure();
      AppendTexts(env, array.get(), name, static_cast<WStringList*>(out));
      return;
    }
    case FieldKind::kMetaData:
      ReadMetaDataArray(env, array.get(), static_cast<MetaDataMap*>(out));
      return;
    case FieldKind::kSubList:
      ReadSubListArray(env, array.get(), *static_cast<ObjectSubList**>(out));
      return;
    default:
      return;
  }
}

void ReadRecord(JNIEnv* env, jobject result, int32_t* ordinal, const Record& record,
                std::initializer_list<Out> outs) noexcept {
  // Each reader hands one output per field, of the field's type.
  if (outs.size() != record.count) return;
  std::array<void*, kMaxFields> out{};
  for (size_t n = 0; n < record.count; ++n) {
    const Out& given = outs.begin()[n];
    if (given.type != InfoOf(record.kinds[n]).out) return;
    out[n] = given.p;
  }
  const RecordRules& rules = record.rules;
  int32_t unused = 0;
  if (ordinal == nullptr) ordinal = &unused;
  if (rules.resetOrdinal) *ordinal = 0;
  if (rules.resetOutputs) {
    for (size_t n = 0; n < record.count; ++n) ResetOutput(record.kinds[n], out[n]);
  }
  if (result == nullptr || env == nullptr) return;

  try {
    // A sub-list is handed out for every record that came back, whatever
    // the reading below makes of it, so that the host always has one to free.
    for (size_t n = 0; n < record.count; ++n) {
      if (record.kinds[n] == FieldKind::kSubList && out[n] != nullptr) {
        *static_cast<ObjectSubList**>(out[n]) = new ObjectSubList();
      }
    }

    // ids.fields[0] is errorValue, ids.fields[1 + n] the n-th field.
    kq::jni::KeptIds ids;
    bool missing = false;
    if (const kq::jni::KeptIds* kept = record.lookup.Kept()) {
      ids = *kept;
      if (!env->IsInstanceOf(result, ids.cls)) throw ReadFailure();
    } else {
      ScopedLocalRef<jclass> found = FindClass(env, record.lookup.className());
      if (!found) {
        if (rules.lookupFailure == L::kAsReadFailure) throw ReadFailure();
        return;
      }
      // Reading fields of an object of another class would be undefined.
      if (!env->IsInstanceOf(result, found.get())) throw ReadFailure();
      size_t n = 0;
      for (const kq::jni::Member& field : record.lookup) {
        ids.fields[n] = FindField(env, found.get(), field.name, field.signature);
        missing = missing || ids.fields[n] == nullptr;
        ++n;
      }
      if (!missing) record.lookup.Keep(env, found.get(), ids);
    }
    if (missing && rules.lookupFailure == L::kAsReadFailure) throw ReadFailure();
    if (missing && rules.lookupFailure == L::kReadNothing) return;

    if (ids.fields[0] != nullptr) {
      ScopedLocalRef<jobject> errorValue = ObjectField(env, result, ids.fields[0]);
      if (!errorValue && rules.nullError == N::kStop) {
        *ordinal = 0;
        return;
      }
      if (errorValue || rules.nullError == N::kDecode) ReadErrorOrdinal(env, errorValue.get(), ordinal);
    }

    for (size_t n = 0; n < record.count; ++n) {
      if (ids.fields[1 + n] != nullptr) ReadField(env, result, ids.fields[1 + n], record.kinds[n], out[n]);
    }
  } catch (...) {
    ClearExceptionWithConsoleNote(env);
    if (rules.readFailure == R::kOrdinal40) *ordinal = kReadFailedOrdinal;
  }
}

}  // namespace

// ---- shared helpers ----

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
  ReadRecord(env, result, error, kCreateFnValue, {objHandle});
}

void ReadWObjectHandleFnValue(JNIEnv* env, jobject result, int32_t* error, WString* objHandle) {
  ReadRecord(env, result, error, kWObjectHandle, {objHandle});
}

void ReadGetObjectMetaData(JNIEnv* env, jobject result, int32_t* error, WString* value) {
  ReadRecord(env, result, error, kGetObjectMeta, {value});
}

void ReadUniqueAccountValue(JNIEnv* env, jobject result, int32_t* error, WString* accountName) {
  ReadRecord(env, result, error, kUniqueAccount, {accountName});
}

void ReadCString(JNIEnv* env, jobject result, int32_t* error, WString* value) {
  ReadRecord(env, result, error, kCString, {value});
}

void ReadIsObjectExistFnValue(JNIEnv* env, jobject result, int32_t* error, uint32_t* isExist) {
  ReadRecord(env, result, error, kIsObjectExist, {isExist});
}

void ReadGetAccountSizeValue(JNIEnv* env, jobject result, int32_t* error, uint64_t* size) {
  ReadRecord(env, result, error, kAccountSize, {size});
}

void ReadReadObjectFnValue(JNIEnv* env, jobject result, int32_t* error, uint64_t* sizeRead) {
  ReadRecord(env, result, error, kReadObject, {sizeRead});
}

void ReadCInt(JNIEnv* env, jobject result, int32_t* error, int32_t* value) {
  ReadRecord(env, result, error, kCInt, {value});
}

void ReadListRegions(JNIEnv* env, jobject result, int32_t* error, WStringList* regions) {
  ReadRecord(env, result, error, kListRegions, {regions});
}

void ReadArrayOfString(JNIEnv* env, jobject result, int32_t* error, WStringList* strings) {
  ReadRecord(env, result, error, kArrayOfString, {strings});
}

void ReadListContainers(JNIEnv* env, jobject result, int32_t* error, WStringList* containers) {
  ReadRecord(env, result, error, kListContainer, {containers});
}

void ReadGetAccountInfoFnValue(JNIEnv* env, jobject result, int32_t* error, AccountInfoRecord* info) {
  const bool given = info != nullptr;
  ReadRecord(env, result, error, kAccountInfo,
             {given ? &info->accountIndentity : nullptr, given ? &info->accountType : nullptr,
              given ? &info->displayName : nullptr, given ? &info->emailAddress : nullptr,
              given ? &info->usedSizeInByteTotal : nullptr, given ? &info->remainedSizeInByteTotal : nullptr});
}

void ReadGObjectMetaDataFnValue(JNIEnv* env, jobject result, int32_t* error, MetaDataMap* metaData) {
  ReadRecord(env, result, error, kGObjectMeta, {metaData});
}

void ReadRObjectByNameFnValue(JNIEnv* env, jobject result, int32_t* error, MetaDataMap* metaData, uint64_t* bytesRead) {
  ReadRecord(env, result, error, kRObjectByName, {bytesRead, metaData});
}

void ReadRetGetSubMetaDataList(JNIEnv* env, jobject result, int32_t* error, ObjectSubList** subList) {
  ReadRecord(env, result, error, kSubMetaList, {subList});
}

}  // namespace kq
