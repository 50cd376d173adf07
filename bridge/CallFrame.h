// The one frame every bridge operation runs in.  An operation states only
// what is its own: an OperationInfo (Java method, signature, the name its
// exception line carries, and its few deviations when the library's class or
// method is missing) and a body that builds the arguments, makes the call
// through JavaCall, reads the result and returns the code.
//
//   return RunOperation(kCloseObject, [&](kq::JavaCall& call) {
//     auto handle = call.String(objectHandle);
//     auto result = call.CallObject(handle.get());
//     return call.bridge().GetErrorId(call.env(), result.get());
//   });
#ifndef KQ_BRIDGE_CALLFRAME_H_
#define KQ_BRIDGE_CALLFRAME_H_

#include <jni.h>

#include <atomic>
#include <new>
#include <utility>

#include "bridge/AutoAttachJVM.h"
#include "bridge/JniStrings.h"
#include "bridge/JniWrapper.h"
#include "bridge/ScopedJni.h"
#include "log/HostTexts.h"
#include "platform/Platform.h"

namespace kq {

// What an operation does when GetObjectClass of the library object yields
// nothing.  Most go on to the method lookup, which then fails with its own
// three lines; a few stop at once, some with a line of their own.
enum class ClassMissing {
  kLookupFails,      // go on to the lookup (it writes its lines), 40
  kFail,             // 40, no line
  kFailWithLine,     // write classMissingLine, 40
  kDescribeAndFail,  // DescribeException, then classMissingLine if any, 40
};

// The Java method an operation found, kept with the class it was found on.
// The library's class is not unloaded while its object is referenced, so the
// next call on that class would find the same method again; a call on any
// other class looks it up afresh.  Only a successful lookup is kept.
class MethodCache {
 public:
  MethodCache() = default;
  MethodCache(const MethodCache&) = delete;
  MethodCache& operator=(const MethodCache&) = delete;

  jmethodID Find(JNIEnv* env, jclass cls) const noexcept {
    const Entry* entry = entry_.load(std::memory_order_acquire);
    return entry != nullptr && env->IsSameObject(entry->cls, cls) ? entry->method : nullptr;
  }
  void Keep(JNIEnv* env, jclass cls, jmethodID method) const noexcept {
    if (entry_.load(std::memory_order_acquire) != nullptr) return;
    jclass global = static_cast<jclass>(env->NewGlobalRef(cls));
    Entry* entry = global != nullptr ? new (std::nothrow) Entry{global, method} : nullptr;
    const Entry* expected = nullptr;
    if (entry == nullptr || !entry_.compare_exchange_strong(expected, entry, std::memory_order_acq_rel)) {
      if (global != nullptr) env->DeleteGlobalRef(global);
      delete entry;
    }
  }

 private:
  // Lives as long as the process: the operation descriptions are static.
  struct Entry {
    jclass cls;  // global reference
    jmethodID method;
  };
  mutable std::atomic<const Entry*> entry_{nullptr};
};

struct OperationInfo {
  const char* method;     // Java method name
  const char* signature;  // its JNI signature
  const WChar* name;      // the name in "<name>::Exception is occured..."
  ClassMissing classMissing = ClassMissing::kLookupFails;
  const WChar* classMissingLine = nullptr;
  // Written after the lookup's own lines when the method is not found.
  const WChar* methodMissingLine = nullptr;
  MethodCache methodCache{};
};

// The state of one operation inside the frame, handed to its body.
class JavaCall {
 public:
  JavaCall(CJNIWrapper& bridge, JNIEnv* env, jobject object, jmethodID method) noexcept
      : bridge_(bridge), env_(env), object_(object), method_(method) {}

  CJNIWrapper& bridge() const noexcept { return bridge_; }
  JNIEnv* env() const noexcept { return env_; }
  jobject object() const noexcept { return object_; }
  jmethodID method() const noexcept { return method_; }

  // A Java string of the host text, owned by the caller's scope.
  ScopedLocalRef<jstring> String(const WString& text) const { return {env_, WideToJString(env_, text)}; }
  ScopedLocalRef<jstring> String(const WChar* text) const { return {env_, WideToJString(env_, text)}; }

  // Calls the operation's method.  A Java exception thrown by the method
  // shows as a null result; it is cleared here, because the operations go on
  // making JNI calls and must not do so with an exception pending.
  template <typename... Args> ScopedLocalRef<jobject> CallObject(Args... args) const {
    ScopedLocalRef<jobject> result(env_, env_->CallObjectMethod(object_, method_, args...));
    if (env_->ExceptionCheck()) env_->ExceptionClear();
    return result;
  }
  // Same, but leaves a Java exception pending for the operation to describe
  // (bridge().DescribeException) before it makes any other JNI call.
  template <typename... Args> ScopedLocalRef<jobject> CallObjectKeepingException(Args... args) const {
    ScopedLocalRef<jobject> result(env_, env_->CallObjectMethod(object_, method_, args...));
    // Checked (not cleared) so that the next JNI call is legal even when the
    // method returned normally; -Xcheck:jni insists on it.
    static_cast<void>(env_->ExceptionCheck());
    return result;
  }
  template <typename... Args> jlong CallLong(Args... args) const {
    jlong value = env_->CallLongMethod(object_, method_, args...);
    if (env_->ExceptionCheck()) env_->ExceptionClear();
    return value;
  }

  void Line(WStringView text) const noexcept { bridge_.WriteLine(text); }
  // message + text, with nothing in between; the log joins them in its own
  // record buffer, so no line makes a string of its own.
  void Line(WStringView message, WStringView text) const noexcept { bridge_.WriteLine(message, text); }

 private:
  CJNIWrapper& bridge_;
  JNIEnv* env_;
  jobject object_;
  jmethodID method_;
};

}  // namespace kq

template <typename Body> uint32_t CJNIWrapper::RunOperation(const kq::OperationInfo& op, Body&& body) noexcept {
  try {
    AutoAttachJVM scope(m_jvm, m_pLog);
    JNIEnv* env = scope.env();
    if (env == nullptr || m_ObjKQAzurePlugInLibrary == nullptr) return KQ_BRIDGE_FAILURE;
    // Declared after the scope and before every local reference: runs after
    // they are deleted and before the thread is detached.
    kq::PendingExceptionGuard exceptionGuard(env);
    try {
      kq::ScopedLocalRef<jclass> cls(env, env->GetObjectClass(m_ObjKQAzurePlugInLibrary));
      if (!cls) {
        switch (op.classMissing) {
          case kq::ClassMissing::kLookupFails:
            break;
          case kq::ClassMissing::kFail:
            return KQ_BRIDGE_FAILURE;
          case kq::ClassMissing::kFailWithLine:
            if (op.classMissingLine != nullptr) WriteLine(op.classMissingLine);
            return KQ_BRIDGE_FAILURE;
          case kq::ClassMissing::kDescribeAndFail:
            DescribeException(env);
            if (op.classMissingLine != nullptr) WriteLine(op.classMissingLine);
            return KQ_BRIDGE_FAILURE;
        }
      }
      jmethodID method = cls ? op.methodCache.Find(env, cls.get()) : nullptr;
      if (method == nullptr) {
        method = GetAzurePlugInObjectMethod(env, cls.get(), op.method, op.signature);
        if (method == nullptr) {
          if (op.methodMissingLine != nullptr) WriteLine(op.methodMissingLine);
          return KQ_BRIDGE_FAILURE;
        }
        op.methodCache.Keep(env, cls.get(), method);
      }
      kq::JavaCall call(*this, env, m_ObjKQAzurePlugInLibrary, method);
      return std::forward<Body>(body)(call);
    } catch (...) {
      WriteLine(op.name, kq::text::kExceptionLineSuffix);
      return KQ_BRIDGE_FAILURE;
    }
  } catch (...) {
    return KQ_BRIDGE_FAILURE;
  }
}

#endif  // KQ_BRIDGE_CALLFRAME_H_
