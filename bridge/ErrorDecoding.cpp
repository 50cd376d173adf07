// Java exceptions and CErrorValue results turned into the host's codes.
#include "bridge/ErrorDecoding.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "bridge/CallFrame.h"
#include "bridge/JavaNames.h"
#include "bridge/JniWrapper.h"
#include "bridge/RecordSupport.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"

using kq::ScopedLocalRef;

int CJNIWrapper::DescribeException(JNIEnv* env) {
  try {
    if (!env->ExceptionCheck()) return 1;
    ScopedLocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    env->ExceptionClear();
    WString description;
    if (thrown) {
      ScopedLocalRef<jclass> cls(env, env->GetObjectClass(thrown.get()));
      jmethodID toString = cls ? env->GetMethodID(cls.get(), "toString", kq::jni::kToStringSignature) : nullptr;
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
    WriteLineLevel3(kq::text::kDescrptionIsFailed);
    WriteLineLevel3(description);
    return 0;
  } catch (...) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    WriteLine(kq::text::kDescribeExceptionExceptionIsOccured);
    return 0;
  }
}

namespace kq {
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

void KeepErrorValueClass(JNIEnv* env, const ErrorValueClass& found) noexcept {
  jclass global = static_cast<jclass>(env->NewGlobalRef(found.cls));
  if (global == nullptr) return;
  auto* kept = new (std::nothrow) ErrorValueClass{global, found.getErrorID, found.getOrdinalValue};
  const ErrorValueClass* expected = nullptr;
  if (kept == nullptr || !g_errorValueClass.compare_exchange_strong(expected, kept, std::memory_order_acq_rel)) {
    env->DeleteGlobalRef(global);
    delete kept;
  }
}

enum class Lookup { kFound, kNoClass, kNoMethod };

// The one lookup both decoders share.  On failure the Java exception of the
// failed call is left pending for the caller to report its own way; `local`
// holds the class while it is not kept.
Lookup FindErrorValueClass(JNIEnv* env, ErrorValueClass* out, ScopedLocalRef<jclass>* local) {
  if (const ErrorValueClass* kept = g_errorValueClass.load(std::memory_order_acquire)) {
    *out = *kept;
    return Lookup::kFound;
  }
  local->reset(env->FindClass(jni::kErrorValueClass));
  if (!*local) return Lookup::kNoClass;
  out->cls = local->get();
  out->getErrorID = env->GetMethodID(out->cls, "getErrorID", jni::kGetErrorIdSignature);
  if (out->getErrorID == nullptr) return Lookup::kNoMethod;
  out->getOrdinalValue = env->GetMethodID(out->cls, "getOrdinalValue", "()I");
  if (out->getOrdinalValue == nullptr) return Lookup::kNoMethod;
  KeepErrorValueClass(env, *out);
  return Lookup::kFound;
}

constexpr int32_t kUnreadableOrdinal = 40;

// The console side reports to the standard output, not to the log.
void Print(const char* text) noexcept {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

void ForgetErrorValueClass(JNIEnv* env) {
  const ErrorValueClass* kept = g_errorValueClass.exchange(nullptr, std::memory_order_acq_rel);
  if (kept == nullptr) return;
  env->DeleteGlobalRef(kept->cls);
  delete kept;
}

int ClearExceptionWithConsoleNote(JNIEnv* env) {
  if (env == nullptr || !env->ExceptionCheck()) return 1;
  ScopedLocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
  env->ExceptionClear();
  Print(text::kConsoleExceptionNote);
  return 0;
}

void ReadErrorOrdinal(JNIEnv* env, jobject errorValue, int32_t* ordinal) {
  int32_t value = kUnreadableOrdinal;
  if (env != nullptr) {
    try {
      ErrorValueClass found{};
      ScopedLocalRef<jclass> local(env);
      // The identifier itself is not asked for here: getErrorID only has to
      // exist.
      switch (FindErrorValueClass(env, &found, &local)) {
        case Lookup::kNoClass:
          ClearExceptionWithConsoleNote(env);
          Print(text::kCantFindErrorClass);
          break;
        case Lookup::kNoMethod:
          ClearExceptionWithConsoleNote(env);
          Print(text::kCantGetErrorMethod);
          break;
        case Lookup::kFound:
          if (errorValue == nullptr) break;
          if (!env->IsInstanceOf(errorValue, found.cls)) throw record::ReadFailure();
          const jint raw = env->CallIntMethod(errorValue, found.getOrdinalValue);
          record::ThrowIfPending(env);
          value = static_cast<int32_t>(raw);
          break;
      }
    } catch (...) {
      ClearExceptionWithConsoleNote(env);
      Print(text::kCantFindErrorClass);
      value = kUnreadableOrdinal;
    }
  }
  if (ordinal != nullptr) *ordinal = value;
}

}  // namespace kq

uint32_t CJNIWrapper::GetErrorId(JNIEnv* env, jobject errorValue) {
  try {
    if (errorValue == nullptr) return KQ_BRIDGE_FAILURE;
    kq::ErrorValueClass found{};
    ScopedLocalRef<jclass> local(env);
    switch (kq::FindErrorValueClass(env, &found, &local)) {
      case kq::Lookup::kNoClass:
        DescribeException(env);
        WriteLine(kq::text::kCantFindErrorClassLine);
        return KQ_BRIDGE_FAILURE;
      case kq::Lookup::kNoMethod:
        DescribeException(env);
        WriteLine(kq::text::kCantGetErrorMethodLine);
        return KQ_BRIDGE_FAILURE;
      case kq::Lookup::kFound:
        break;
    }
    // A result of another class would make the calls below undefined: it is
    // treated like an error object without an identifier.
    if (!env->IsInstanceOf(errorValue, found.cls)) {
      WriteLine(kq::text::kNoErrorIdentifierLine);
      return KQ_BRIDGE_FAILURE;
    }
    ScopedLocalRef<jobject> identifier(env, env->CallObjectMethod(errorValue, found.getErrorID));
    // A getErrorID that throws answers null, and is described below.
    if (!identifier || env->ExceptionCheck()) {
      DescribeException(env);
      WriteLine(kq::text::kNoErrorIdentifierLine);
      return KQ_BRIDGE_FAILURE;
    }
    const jint ordinal = env->CallIntMethod(errorValue, found.getOrdinalValue);
    // A getOrdinalValue that throws has no ordinal; its 0 must not pass for
    // success.
    if (DescribeException(env) == 0) return KQ_BRIDGE_FAILURE;
    return MapErrorId(ordinal);
  } catch (...) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    WriteLine(kq::text::kGetErrorIdExceptionIsOccured);
    return KQ_BRIDGE_FAILURE;
  }
}

uint32_t CJNIWrapper::MapErrorId(int32_t ordinal) { return kq::CodeOfOrdinal(ordinal); }
