// CErrorValue results turned into the host's codes.
#include "bridge/ErrorDecoding.h"

#include <cstdio>

#include "bridge/JavaNames.h"
#include "bridge/JniHelpers.h"
#include "bridge/RecordSupport.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"

using kq::ScopedLocalRef;

namespace kq {
namespace {

// CErrorValue and its two methods: every result of every operation is
// decoded through them.
const jni::KeptLookup kErrorValue{jni::kErrorValueClass,
                                  {{"getErrorID", jni::kGetErrorIdSignature, jni::MemberKind::kMethod},
                                   {"getOrdinalValue", "()I", jni::MemberKind::kMethod}}};

struct ErrorValueClass {
  jclass cls;
  jmethodID getErrorID;
  jmethodID getOrdinalValue;
};

enum class Lookup { kFound, kNoClass, kNoMethod };

// The one lookup both decoders share.  On failure the Java exception of the
// failed call is left pending for the caller to report its own way; `local`
// holds the class while it is not kept.
Lookup FindErrorValueClass(JNIEnv* env, ErrorValueClass* out, ScopedLocalRef<jclass>* local) {
  if (const jni::KeptIds* kept = kErrorValue.Kept()) {
    *out = ErrorValueClass{kept->cls, kept->methods[0], kept->methods[1]};
    return Lookup::kFound;
  }
  local->reset(env->FindClass(kErrorValue.className()));
  if (!*local) return Lookup::kNoClass;
  jni::KeptIds ids;
  size_t i = 0;
  for (const jni::Member& method : kErrorValue) {
    ids.methods[i] = env->GetMethodID(local->get(), method.name, method.signature);
    if (ids.methods[i++] == nullptr) return Lookup::kNoMethod;
  }
  *out = ErrorValueClass{local->get(), ids.methods[0], ids.methods[1]};
  kErrorValue.Keep(env, local->get(), ids);
  return Lookup::kFound;
}

constexpr int32_t kUnreadableOrdinal = 40;

// The console side reports to the standard output, not to the log.
void Print(const char* text) noexcept {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

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

uint32_t DecodeErrorCode(JNIEnv* env, CJNIWrapperLog* log, jobject errorValue) noexcept {
  try {
    if (errorValue == nullptr) return KQ_BRIDGE_FAILURE;
    ErrorValueClass found{};
    ScopedLocalRef<jclass> local(env);
    switch (FindErrorValueClass(env, &found, &local)) {
      case Lookup::kNoClass:
        jni::DescribeException(env, log);
        WriteLine(log, text::kCantFindErrorClassLine);
        return KQ_BRIDGE_FAILURE;
      case Lookup::kNoMethod:
        jni::DescribeException(env, log);
        WriteLine(log, text::kCantGetErrorMethodLine);
        return KQ_BRIDGE_FAILURE;
      case Lookup::kFound:
        break;
    }
    // A result of another class would make the calls below undefined: it is
    // treated like an error object without an identifier.
    if (!env->IsInstanceOf(errorValue, found.cls)) {
      WriteLine(log, text::kNoErrorIdentifierLine);
      return KQ_BRIDGE_FAILURE;
    }
    ScopedLocalRef<jobject> identifier(env, env->CallObjectMethod(errorValue, found.getErrorID));
    // A getErrorID that throws answers null, and is described below.
    if (!identifier || env->ExceptionCheck()) {
      jni::DescribeException(env, log);
      WriteLine(log, text::kNoErrorIdentifierLine);
      return KQ_BRIDGE_FAILURE;
    }
    const jint ordinal = env->CallIntMethod(errorValue, found.getOrdinalValue);
    // A getOrdinalValue that throws has no ordinal; its 0 must not pass for
    // success.
    if (jni::DescribeException(env, log) == 0) return KQ_BRIDGE_FAILURE;
    return CodeOfOrdinal(ordinal);
  } catch (...) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    WriteLine(log, text::kGetErrorIdExceptionIsOccured);
    return KQ_BRIDGE_FAILURE;
  }
}

}  // namespace kq
