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
#include "bridge/RecordSupport.h"
#include "bridge/ResultReaders.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

namespace kq {

namespace {

using namespace record;

// Whether `object` is an instance of the class `className`; false (with any
// lookup exception cleared) when the class cannot be found.
bool IsA(JNIEnv* env, jobject object, const char* className) {
  ScopedLocalRef<jclass> cls = FindClass(env, className);
  return cls && env->IsInstanceOf(object, cls.get());
}

// The classes and members both directions need, looked up once per array.
struct MetaDataShape {
  ScopedLocalRef<jclass> metaDataClass;
  ScopedLocalRef<jclass> valueClass;
  jfieldID name = nullptr;      // CPluginMetaData.szPropertyName
  jfieldID value = nullptr;     // CPluginMetaData.val
  jfieldID text = nullptr;      // CPluginValue.szProperty
  jfieldID type = nullptr;      // CPluginValue.prpType; null: types not carried
  jmethodID ordinal = nullptr;  // Enum.ordinal(), for reading types

  explicit MetaDataShape(JNIEnv* env)
      : metaDataClass(FindClass(env, kq::jni::kMetaDataClass)), valueClass(FindClass(env, kq::jni::kValueClass)) {
    name = FindField(env, metaDataClass.get(), "szPropertyName", kq::jni::kStringType);
    value = FindField(env, metaDataClass.get(), "val", kq::jni::kValueType);
    text = FindField(env, valueClass.get(), "szProperty", kq::jni::kStringType);
    if (valueClass) type = FindField(env, valueClass.get(), "prpType", kq::jni::kTypeType);
  }
  bool usable() const { return name != nullptr && value != nullptr && text != nullptr; }

  // Prepares reading types; without it every type reads as 0.
  void FindOrdinal(JNIEnv* env) {
    if (type == nullptr) return;
    ScopedLocalRef<jclass> typeClass = FindClass(env, kq::jni::kTypeClass);
    ScopedLocalRef<jclass> enumClass = FindClass(env, "java/lang/Enum");
    if (!typeClass || !enumClass || !env->IsAssignableFrom(typeClass.get(), enumClass.get())) return;
    ordinal = env->GetMethodID(enumClass.get(), "ordinal", "()I");
    if (ordinal == nullptr) ClearExceptionWithConsoleNote(env);
  }
};

// CPropertyTYPE.values(), or null (with the exception cleared) when the
// constants cannot be had: types are then left at the constructor's default.
ScopedLocalRef<jobjectArray> PropertyTypes(JNIEnv* env) {
  ScopedLocalRef<jobjectArray> none(env);
  ScopedLocalRef<jclass> typeClass = FindClass(env, kq::jni::kTypeClass);
  if (!typeClass) return none;
  jmethodID values = env->GetStaticMethodID(typeClass.get(), "values", kq::jni::kTypeValuesSignature);
  if (values == nullptr) {
    ClearExceptionWithConsoleNote(env);
    return none;
  }
  ScopedLocalRef<jobjectArray> constants(
      env, static_cast<jobjectArray>(env->CallStaticObjectMethod(typeClass.get(), values)));
  if (ClearExceptionWithConsoleNote(env) == 0) return none;
  return constants;
}

// A new CPluginMetaData from `cls` and its no-argument constructor; null
// (described) when the constructor is missing or fails.
jobject ConstructEntry(JNIEnv* env, jclass cls) {
  jmethodID constructor = env->GetMethodID(cls, "<init>", "()V");
  if (constructor == nullptr) {
    ClearExceptionWithConsoleNote(env);
    return nullptr;
  }
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
  ScopedLocalRef<jclass> cls = FindClass(env, kq::jni::kMetaDataClass);
  return cls ? ConstructEntry(env, cls.get()) : nullptr;
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
    if (!shape.usable() || !IsA(env, array, kq::jni::kMetaDataArrayClass)) return;
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
      ScopedLocalRef<jobject> item(env, ConstructEntry(env, shape.metaDataClass.get()));
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
    ScopedLocalRef<jclass> cls = FindClass(env, kq::jni::kMetaDataClass);
    if (!cls) return ScopedLocalRef<jobjectArray>(env);
    ScopedLocalRef<jobjectArray> array(
        env, NewMetaDataArray(env, static_cast<jsize>(metaData->size()), cls.get(), initial.get()));
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
    if (!shape.usable() || !IsA(env, array, kq::jni::kMetaDataArrayClass)) return;
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
    ScopedLocalRef<jclass> cls = FindClass(env, kq::jni::kSubListElementClass);
    jfieldID fileName = FindField(env, cls.get(), "szFileName", kq::jni::kStringType);
    jfieldID metaDat = FindField(env, cls.get(), "metaDat", kq::jni::kMetaDataArrayClass);
    if (fileName == nullptr || metaDat == nullptr || !IsA(env, array, kq::jni::kSubListArrayClass)) return;

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
    try {
      if (log != nullptr) log->Write(kq::text::kExceptionIsOccuredInFreeObjectSubListMemory);
    } catch (...) {
      // Nothing may leave the slot.
    }
  }
}

}  // namespace kq
