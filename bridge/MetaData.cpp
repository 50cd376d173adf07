// Object metadata between the host's MetaDataMap and the Java library's
// CPluginMetaData arrays, and the folder sub-lists the plug-in hands out.
//
// Property types.  The host carries a property's type as a 32-bit number, the
// library as a CPropertyTYPE constant.  The number is the constant's ordinal,
// both ways: reading takes ordinal() of prpType (0 for a null prpType or when
// the type cannot be read), writing stores CPropertyTYPE.values()[number]
// when the number names a constant and otherwise leaves the constructor's
// default in place.
//
// Conversions never fail the operation: a class or field that cannot be
// found skips the array, and a Java exception (cleared through
// ClearExceptionWithConsoleNote) ends the loop it happened in, keeping what was
// converted before it.
#include "bridge/MetaData.h"

#include <limits>
#include <memory>
#include <utility>

#include "bridge/JavaNames.h"
#include "bridge/JniHelpers.h"
#include "bridge/RecordSupport.h"
#include "bridge/ResultReaders.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

namespace kq {

namespace {

using namespace record;

using jni::KeptIds;
using jni::KeptLookup;
using jni::Member;
using jni::MemberKind;

// What the conversions look up, each kept once found whole.
const KeptLookup kMetaDataLookup{
    jni::kMetaDataClass,
    {{"szPropertyName", jni::kStringType, MemberKind::kField}, {"val", jni::kValueType, MemberKind::kField}}};
const KeptLookup kMetaDataConstructor{jni::kMetaDataClass, {{"<init>", "()V", MemberKind::kMethod}}};
const KeptLookup kValueLookup{
    jni::kValueClass,
    {{"szProperty", jni::kStringType, MemberKind::kField}, {"prpType", jni::kTypeType, MemberKind::kField}}};
const KeptLookup kType{jni::kTypeClass, {}};
const KeptLookup kTypeValues{jni::kTypeClass, {{"values", jni::kTypeValuesSignature, MemberKind::kStaticMethod}}};
const KeptLookup kEnumOrdinal{"java/lang/Enum", {{"ordinal", "()I", MemberKind::kMethod}}};
const KeptLookup kMetaDataArray{jni::kMetaDataArrayClass, {}};
const KeptLookup kSubListElement{
    jni::kSubListElementClass,
    {{"szFileName", jni::kStringType, MemberKind::kField}, {"metaDat", jni::kMetaDataArrayClass, MemberKind::kField}}};
const KeptLookup kSubListArray{jni::kSubListArrayClass, {}};

// The class of `lookup`: the kept one, or found now into `local` (null, with
// the lookup's exception cleared, when it cannot be found).  A lookup of the
// class alone is kept as soon as it is found.
jclass ClassOf(JNIEnv* env, const KeptLookup& lookup, ScopedLocalRef<jclass>* local) {
  if (const KeptIds* kept = lookup.Kept()) return kept->cls;
  *local = FindClass(env, lookup.className());
  if (*local && lookup.size() == 0) lookup.Keep(env, local->get(), KeptIds{});
  return local->get();
}

// The one method of `lookup` on `cls`, kept or looked up now; null, with the
// lookup's exception cleared, when it is missing.
jmethodID MethodOf(JNIEnv* env, const KeptLookup& lookup, jclass cls) {
  if (const KeptIds* kept = lookup.Kept()) return kept->methods[0];
  const Member& method = *lookup.begin();
  KeptIds ids;
  ids.methods[0] = method.kind == MemberKind::kStaticMethod ? env->GetStaticMethodID(cls, method.name, method.signature)
                                                            : env->GetMethodID(cls, method.name, method.signature);
  if (ids.methods[0] == nullptr) {
    ClearExceptionWithConsoleNote(env);
    return nullptr;
  }
  lookup.Keep(env, cls, ids);
  return ids.methods[0];
}

// The field `index` of `lookup` on `cls` (null, the exception cleared, when
// missing); the whole lookup is kept once every field of it was found.
struct Fields {
  Fields(JNIEnv* env, const KeptLookup& lookup, jclass cls) {
    if (const KeptIds* kept = lookup.Kept()) {
      ids = *kept;
      return;
    }
    size_t n = 0;
    bool whole = cls != nullptr;
    for (const Member& field : lookup) {
      ids.fields[n] = FindField(env, cls, field.name, field.signature);
      whole = whole && ids.fields[n] != nullptr;
      ++n;
    }
    if (whole) lookup.Keep(env, cls, ids);
  }
  KeptIds ids;
};

// Whether `object` is an instance of the class of `lookup`; false (with any
// lookup exception cleared) when the class cannot be found.
bool IsA(JNIEnv* env, jobject object, const KeptLookup& lookup) {
  ScopedLocalRef<jclass> local(env);
  jclass cls = ClassOf(env, lookup, &local);
  return cls != nullptr && env->IsInstanceOf(object, cls) == JNI_TRUE;
}

// The classes and members both directions need.
struct MetaDataShape {
  ScopedLocalRef<jclass> localMetaData;
  ScopedLocalRef<jclass> localValue;
  jclass metaDataClass = nullptr;
  jclass valueClass = nullptr;
  jfieldID name = nullptr;      // CPluginMetaData.szPropertyName
  jfieldID value = nullptr;     // CPluginMetaData.val
  jfieldID text = nullptr;      // CPluginValue.szProperty
  jfieldID type = nullptr;      // CPluginValue.prpType; null: types not carried
  jmethodID ordinal = nullptr;  // Enum.ordinal(), for reading types

  explicit MetaDataShape(JNIEnv* env) : localMetaData(env), localValue(env) {
    metaDataClass = ClassOf(env, kMetaDataLookup, &localMetaData);
    valueClass = ClassOf(env, kValueLookup, &localValue);
    const Fields entry(env, kMetaDataLookup, metaDataClass);
    name = entry.ids.fields[0];
    value = entry.ids.fields[1];
    const Fields held(env, kValueLookup, valueClass);
    text = held.ids.fields[0];
    type = held.ids.fields[1];
  }
  bool usable() const { return name != nullptr && value != nullptr && text != nullptr; }

  // Prepares reading types; without it every type reads as 0.
  void FindOrdinal(JNIEnv* env) {
    if (type == nullptr) return;
    ScopedLocalRef<jclass> localType(env), localEnum(env);
    jclass typeClass = ClassOf(env, kType, &localType);
    jclass enumClass = ClassOf(env, kEnumOrdinal, &localEnum);
    if (typeClass == nullptr || enumClass == nullptr || !env->IsAssignableFrom(typeClass, enumClass)) return;
    ordinal = MethodOf(env, kEnumOrdinal, enumClass);
  }
};

// CPropertyTYPE.values(), or null (with the exception cleared) when the
// constants cannot be had: types are then left at the constructor's default.
ScopedLocalRef<jobjectArray> PropertyTypes(JNIEnv* env) {
  ScopedLocalRef<jobjectArray> none(env);
  ScopedLocalRef<jclass> local(env);
  jclass typeClass = ClassOf(env, kType, &local);
  if (typeClass == nullptr) return none;
  jmethodID values = MethodOf(env, kTypeValues, typeClass);
  if (values == nullptr) return none;
  ScopedLocalRef<jobjectArray> constants(env,
                                         static_cast<jobjectArray>(env->CallStaticObjectMethod(typeClass, values)));
  if (ClearExceptionWithConsoleNote(env) == 0) return none;
  return constants;
}

// A new CPluginMetaData from `cls` (the class of kMetaDataLookup) and its
// no-argument constructor; null (described) when the constructor is missing
// or fails.
jobject ConstructEntry(JNIEnv* env, jclass cls) {
  jmethodID constructor = MethodOf(env, kMetaDataConstructor, cls);
  if (constructor == nullptr) return nullptr;
  jobject entry = env->NewObject(cls, constructor);
  if (ClearExceptionWithConsoleNote(env) == 0) {
    ScopedLocalRef<jobject> dropped(env, entry);
    return nullptr;
  }
  return entry;
}

}  // namespace

// ---- native to Java ----

jobject NewMetaDataEntry(JNIEnv* env) {
  if (env == nullptr) return nullptr;
  ScopedLocalRef<jclass> local(env);
  jclass cls = ClassOf(env, kMetaDataLookup, &local);
  return cls != nullptr ? ConstructEntry(env, cls) : nullptr;
}

jobjectArray NewMetaDataArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial) {
  if (env == nullptr || elementClass == nullptr || length < 0) return nullptr;
  // The VM stores the initial element without a type check.
  if (initial != nullptr && !env->IsInstanceOf(initial, elementClass)) return nullptr;
  if (env->EnsureLocalCapacity(2) < 0) {
    ClearExceptionWithConsoleNote(env);
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(length, elementClass, initial);
  if (ClearExceptionWithConsoleNote(env) == 0) {
    ScopedLocalRef<jobjectArray> dropped(env, array);
    return nullptr;
  }
  return array;
}

void FillMetaDataArray(JNIEnv* env, jobjectArray array, const MetaDataMap& metaData) {
  if (env == nullptr || array == nullptr) return;
  try {
    MetaDataShape shape(env);
    if (!shape.usable() || !IsA(env, array, kMetaDataArray)) return;
    ScopedLocalRef<jobjectArray> types(env);
    jsize typeCount = 0;
    if (shape.type != nullptr) {
      types = PropertyTypes(env);
      if (types) typeCount = env->GetArrayLength(types.get());
    }
    const jsize length = env->GetArrayLength(array);
    ThrowIfPending(env);

    jsize i = 0;
    for (const auto& entry : metaData) {
      if (i >= length) break;
      // A slot whose entry cannot be made keeps what the array was made
      // with (the initial element), and the loop ends there.
      ScopedLocalRef<jobject> item(env, ConstructEntry(env, shape.metaDataClass));
      if (!item) break;
      const PluginValueRecord& record = entry.second;

      ScopedLocalRef<jobject> value = ObjectField(env, item.get(), shape.value);
      if (value) {
        ScopedLocalRef<jstring> text(env, WideToJString(env, record.szProperty));
        ThrowIfPending(env);
        env->SetObjectField(value.get(), shape.text, text.get());
        ThrowIfPending(env);
        if (record.prpType >= 0 && record.prpType < typeCount) {
          ScopedLocalRef<jobject> type(env, env->GetObjectArrayElement(types.get(), record.prpType));
          ThrowIfPending(env);
          env->SetObjectField(value.get(), shape.type, type.get());
          ThrowIfPending(env);
        }
      }
      ScopedLocalRef<jstring> name(env, WideToJString(env, entry.first));
      ThrowIfPending(env);
      env->SetObjectField(item.get(), shape.name, name.get());
      ThrowIfPending(env);
      env->SetObjectArrayElement(array, i, item.get());
      ThrowIfPending(env);
      ++i;
    }
  } catch (...) {
    ClearExceptionWithConsoleNote(env);
  }
}

ScopedLocalRef<jobjectArray> BuildMetaDataArray(JNIEnv* env, const MetaDataMap* metaData) {
  if (env == nullptr || metaData == nullptr) return ScopedLocalRef<jobjectArray>(env);
  try {
    if (metaData->size() > static_cast<size_t>(std::numeric_limits<jsize>::max())) {
      return ScopedLocalRef<jobjectArray>(env);
    }
    ScopedLocalRef<jobject> initial(env, NewMetaDataEntry(env));
    ScopedLocalRef<jclass> local(env);
    jclass cls = ClassOf(env, kMetaDataLookup, &local);
    if (cls == nullptr) return ScopedLocalRef<jobjectArray>(env);
    ScopedLocalRef<jobjectArray> array(env,
                                       NewMetaDataArray(env, static_cast<jsize>(metaData->size()), cls, initial.get()));
    if (array) FillMetaDataArray(env, array.get(), *metaData);
    return array;
  } catch (...) {
    ClearExceptionWithConsoleNote(env);
    return ScopedLocalRef<jobjectArray>(env);
  }
}

// ---- Java to native ----

void ReadMetaDataArray(JNIEnv* env, jobjectArray array, MetaDataMap* metaData) {
  if (env == nullptr || array == nullptr || metaData == nullptr) return;
  try {
    MetaDataShape shape(env);
    if (!shape.usable() || !IsA(env, array, kMetaDataArray)) return;
    shape.FindOrdinal(env);

    ForEachElement(env, array, [&](jobject element) {
      ScopedLocalRef<jstring> name = ObjectField<jstring>(env, element, shape.name);
      if (!name) return;
      ScopedLocalRef<jobject> value = ObjectField(env, element, shape.value);
      PluginValueRecord record{};
      if (value) {
        ScopedLocalRef<jstring> text = ObjectField<jstring>(env, value.get(), shape.text);
        MallocedText copy = TakeText(env, text.get());
        if (copy) record.szProperty.assign(copy.get());
        if (shape.ordinal != nullptr) {
          ScopedLocalRef<jobject> type = ObjectField(env, value.get(), shape.type);
          if (type) {
            record.prpType = static_cast<int32_t>(env->CallIntMethod(type.get(), shape.ordinal));
            ThrowIfPending(env);
          }
        }
      }
      MallocedText key = TakeText(env, name.get());
      // First of equal names wins; the host's own entries are never replaced.
      metaData->emplace(key ? WString(key.get()) : WString(), std::move(record));
    });
  } catch (...) {
    ClearExceptionWithConsoleNote(env);
  }
}

void ReadSubListArray(JNIEnv* env, jobjectArray array, ObjectSubList* subList) {
  if (env == nullptr || array == nullptr || subList == nullptr) return;
  try {
    ScopedLocalRef<jclass> local(env);
    const Fields element(env, kSubListElement, ClassOf(env, kSubListElement, &local));
    jfieldID fileName = element.ids.fields[0];
    jfieldID metaDat = element.ids.fields[1];
    if (fileName == nullptr || metaDat == nullptr || !IsA(env, array, kSubListArray)) return;

    ForEachElement(env, array, [&](jobject element) {
      ScopedLocalRef<jstring> name = ObjectField<jstring>(env, element, fileName);
      ScopedLocalRef<jobjectArray> entries = ObjectField<jobjectArray>(env, element, metaDat);
      if (!name || !entries) return;
      std::unique_ptr<MetaDataMap> map(new MetaDataMap());
      ReadMetaDataArray(env, entries.get(), map.get());
      MallocedText key = TakeText(env, name.get());
      // A file name already listed keeps its first map; this one is dropped.
      if (subList->emplace(key ? WString(key.get()) : WString(), map.get()).second) map.release();
    });
  } catch (...) {
    ClearExceptionWithConsoleNote(env);
  }
}

// ---- releasing a sub-list ----

void FreeObjectSubList(ObjectSubList* subList, CJNIWrapperLog* log) noexcept {
  if (subList == nullptr) return;
  try {
    // The list owns its maps; a null map pointer is simply skipped.
    for (auto& entry : *subList) {
      delete entry.second;
      entry.second = nullptr;
    }
    subList->clear();
    delete subList;
  } catch (...) {
    WriteLine(log, kq::text::kExceptionIsOccuredInFreeObjectSubListMemory);
  }
}

}  // namespace kq
