// Java exceptions and CErrorValue results turned into the host's codes.
#include <atomic>
#include <new>

#include "bridge/CallFrame.h"
#include "bridge/JniWrapper.h"
#include "log/JniWrapperLog.h"

using kq::ScopedLocalRef;

namespace {

constexpr char kErrorValueClass[] = "com/kq/KQCloudPluginInterface/CErrorValue";
const WChar kCantFindClassLine[] = KQ_W("Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n");
const WChar kCantGetMethodLine[] = KQ_W("Can't GetMethod(com/kq/AzureLibrary/KQAzurePlugInLibrary)\n");
const WChar kNoIdentifierLine[] = KQ_W("Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)");

}  // namespace

int CJNIWrapper::DescribeException(JNIEnv* env) {
  try {
    if (!env->ExceptionCheck()) return 1;
    ScopedLocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    env->ExceptionClear();
    WString description;
    if (thrown) {
      ScopedLocalRef<jclass> cls(env, env->GetObjectClass(thrown.get()));
      jmethodID toString = cls ? env->GetMethodID(cls.get(), "toString", "()Ljava/lang/String;") : nullptr;
      if (toString != nullptr) {
        ScopedLocalRef<jstring> text(env, static_cast<jstring>(env->CallObjectMethod(thrown.get(), toString)));
        // A toString that throws in turn leaves no description.
        if (env->ExceptionCheck()) env->ExceptionClear();
        kq::AssignJString(env, text.get(), &description);
      } else if (env->ExceptionCheck()) {
        env->ExceptionClear();
      }
    }
    // The description is written whole, however long.
    WriteLineLevel3(KQ_W("Descrption is failed"));
    WriteLineLevel3(description);
    return 0;
  } catch (...) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    WriteLine(KQ_W("DescribeException::Exception is occured..."));
    return 0;
  }
}

namespace {

// CErrorValue and its two methods, kept once found: every result of every
// operation is decoded through them, and a class of the application's class
// loader is never unloaded, so a later lookup would find the same again.
// Only a complete, successful lookup is kept.
struct ErrorValueClass {
  jclass cls;  // global reference
  jmethodID getErrorID;
  jmethodID getOrdinalValue;
};
std::atomic<const ErrorValueClass*> g_errorValueClass{nullptr};

void KeepErrorValueClass(JNIEnv* env, jclass cls, jmethodID getErrorID, jmethodID getOrdinalValue) noexcept {
  jclass global = static_cast<jclass>(env->NewGlobalRef(cls));
  if (global == nullptr) return;
  auto* kept = new (std::nothrow) ErrorValueClass{global, getErrorID, getOrdinalValue};
  const ErrorValueClass* expected = nullptr;
  if (kept == nullptr || !g_errorValueClass.compare_exchange_strong(expected, kept, std::memory_order_acq_rel)) {
    env->DeleteGlobalRef(global);
    delete kept;
  }
}

}  // namespace

uint32_t CJNIWrapper::GetErrorId(JNIEnv* env, jobject errorValue) {
  try {
    if (errorValue == nullptr) return KQ_BRIDGE_FAILURE;
    ScopedLocalRef<jclass> found(env);
    jclass cls = nullptr;
    jmethodID getErrorID = nullptr;
    jmethodID getOrdinalValue = nullptr;
    if (const ErrorValueClass* kept = g_errorValueClass.load(std::memory_order_acquire)) {
      cls = kept->cls;
      getErrorID = kept->getErrorID;
      getOrdinalValue = kept->getOrdinalValue;
    } else {
      found.reset(env->FindClass(kErrorValueClass));
      if (!found) {
        DescribeException(env);
        WriteLine(kCantFindClassLine);
        return KQ_BRIDGE_FAILURE;
      }
      cls = found.get();
      getErrorID = env->GetMethodID(cls, "getErrorID", "()Lcom/kq/KQCloudPluginInterface/ERRORID;");
      if (getErrorID == nullptr) {
        DescribeException(env);
        WriteLine(kCantGetMethodLine);
        return KQ_BRIDGE_FAILURE;
      }
      getOrdinalValue = env->GetMethodID(cls, "getOrdinalValue", "()I");
      if (getOrdinalValue == nullptr) {
        DescribeException(env);
        WriteLine(kCantGetMethodLine);
        return KQ_BRIDGE_FAILURE;
      }
      KeepErrorValueClass(env, cls, getErrorID, getOrdinalValue);
    }
    // A result of another class would make the calls below undefined: it is
    // treated like an error object without an identifier.
    if (!env->IsInstanceOf(errorValue, cls)) {
      WriteLine(kNoIdentifierLine);
      return KQ_BRIDGE_FAILURE;
    }
    ScopedLocalRef<jobject> identifier(env, env->CallObjectMethod(errorValue, getErrorID));
    // A getErrorID that throws answers null, and is described below.
    if (!identifier || env->ExceptionCheck()) {
      DescribeException(env);
      WriteLine(kNoIdentifierLine);
      return KQ_BRIDGE_FAILURE;
    }
    const jint ordinal = env->CallIntMethod(errorValue, getOrdinalValue);
    // A getOrdinalValue that throws has no ordinal; its 0 must not pass for
    // success.
    if (DescribeException(env) == 0) return KQ_BRIDGE_FAILURE;
    return MapErrorId(ordinal);
  } catch (...) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    WriteLine(KQ_W("GetErrorId:: Exception is occured"));
    return KQ_BRIDGE_FAILURE;
  }
}

uint32_t CJNIWrapper::MapErrorId(int32_t ordinal) { return kq::CodeOfOrdinal(ordinal); }
