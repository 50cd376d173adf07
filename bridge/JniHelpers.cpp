#include "bridge/JniHelpers.h"

#include <new>

#include "bridge/JavaNames.h"
#include "bridge/JniStrings.h"
#include "bridge/ScopedJni.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

namespace kq {
namespace jni {

int DescribeException(JNIEnv* env, CJNIWrapperLog* log) noexcept {
  try {
    if (!env->ExceptionCheck()) return 1;
    ScopedLocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    env->ExceptionClear();
    WString description;
    if (thrown) {
      ScopedLocalRef<jclass> cls(env, env->GetObjectClass(thrown.get()));
      jmethodID toString = cls ? env->GetMethodID(cls.get(), "toString", kToStringSignature) : nullptr;
      if (toString != nullptr) {
        ScopedLocalRef<jstring> text(env, static_cast<jstring>(env->CallObjectMethod(thrown.get(), toString)));
        // A toString that throws in turn leaves no description.
        if (env->ExceptionCheck()) env->ExceptionClear();
        AssignJString(env, text.get(), &description);
      } else if (env->ExceptionCheck()) {
        env->ExceptionClear();
      }
    }
    // The description is written whole, however long.
    WriteLineLevel3(log, text::kDescrptionIsFailed);
    WriteLineLevel3(log, description);
    return 0;
  } catch (...) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    WriteLine(log, text::kDescribeExceptionExceptionIsOccured);
    return 0;
  }
}

jclass FindLibraryClass(JNIEnv* env, CJNIWrapperLog* log) noexcept {
  jclass cls = env->FindClass(kLibraryClass);
  if (cls == nullptr) {
    DescribeException(env, log);
    WriteLine(log, text::kGetAzurePlugInClassClassObjectIsNotGot);
  }
  return cls;
}

jmethodID FindLibraryMethod(JNIEnv* env, CJNIWrapperLog* log, jclass cls, const char* name,
                            const char* signature) noexcept {
  if (cls != nullptr) {
    jmethodID method = env->GetMethodID(cls, name, signature);
    if (method != nullptr) return method;
  }
  DescribeException(env, log);
  try {
    WriteLine(log, text::kMethodIsNotGotPrefix);
    WriteLine(log, platform::Widen(name));
    WriteLine(log, platform::Widen(signature));
  } catch (...) {
    // No memory for the readable name: the lines cannot be made.
    WriteLine(log, text::kGetAzurePlugInObjectMethodExceptionIsOccured);
  }
  return nullptr;
}

// ---- the lookup cache ----

namespace {
// Constant-initialised, so it is null before any KeptLookup is constructed,
// whatever the order in which the program's files are initialised.
const KeptLookup* g_first = nullptr;
}  // namespace

KeptLookup::KeptLookup(const char* className, std::initializer_list<Member> members) noexcept
    : KeptLookup(className, members.begin(), members.size()) {}

KeptLookup::KeptLookup(const char* className, const Member* members, size_t count) noexcept
    : className_(className), count_(count < kMaxMembers ? count : kMaxMembers), next_(g_first) {
  for (size_t i = 0; i < count_; ++i) members_[i] = members[i];
  g_first = this;
}

const KeptLookup* KeptLookup::First() noexcept { return g_first; }

void KeptLookup::Keep(JNIEnv* env, jclass cls, const KeptIds& ids) const noexcept {
  if (Kept() != nullptr || cls == nullptr) return;
  jclass global = static_cast<jclass>(env->NewGlobalRef(cls));
  KeptIds* kept = global != nullptr ? new (std::nothrow) KeptIds(ids) : nullptr;
  const KeptIds* expected = nullptr;
  if (kept != nullptr) kept->cls = global;
  if (kept == nullptr || !kept_.compare_exchange_strong(expected, kept, std::memory_order_acq_rel)) {
    if (global != nullptr) env->DeleteGlobalRef(global);
    delete kept;
  }
}

void ForgetKeptLookups(JNIEnv* env) {
  for (const KeptLookup* lookup = g_first; lookup != nullptr; lookup = lookup->next_) {
    const KeptIds* kept = lookup->kept_.exchange(nullptr, std::memory_order_acq_rel);
    if (kept == nullptr) continue;
    env->DeleteGlobalRef(kept->cls);
    delete kept;
  }
}

}  // namespace jni
}  // namespace kq
