// The one frame every bridge operation runs in.  An operation states only
// what is its own: an OperationInfo (Java method, signature, the name its
// exception line carries, and its few deviations when the library's class or
// method is missing) and a body that builds the arguments, makes the call
// through JavaCall, reads the result and returns the code.
//
//   return RunOperation(kCloseObject, [&](kq::JavaCall& call) {
//     auto handle = call.String(objectHandle);
//     auto result = call.CallObject(handle.get());
//     return call.ErrorCode(result.get());
//   });
#ifndef KQ_BRIDGE_CALLFRAME_H_
#define KQ_BRIDGE_CALLFRAME_H_

#include <jni.h>

#include <utility>

#include "bridge/AutoAttachJVM.h"
#include "bridge/ErrorDecoding.h"
#include "bridge/JniHelpers.h"
#include "bridge/JniStrings.h"
#include "bridge/JniWrapper.h"
#include "bridge/ScopedJni.h"
#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"
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

struct OperationInfo {
  OperationInfo(const char* method, const char* signature, const WChar* name,
                ClassMissing classMissing = ClassMissing::kLookupFails, const WChar* classMissingLine = nullptr,
                const WChar* methodMissingLine = nullptr) noexcept
      : method(method),
        signature(signature),
        name(name),
        classMissing(classMissing),
        classMissingLine(classMissingLine),
        methodMissingLine(methodMissingLine),
        lookup(nullptr, {{method, signature, jni::MemberKind::kMethod}}) {}

  const char* method;     // Java method name
  const char* signature;  // its JNI signature
  const WChar* name;      // the name in "<name>::Exception is occured..."
  ClassMissing classMissing;
  const WChar* classMissingLine;
  // Written after the lookup's own lines when the method is not found.
  const WChar* methodMissingLine;
  // The method, kept with the class it was found on.  A call on that class
  // (the library's class is not unloaded while its object is referenced)
  // takes it from here; a call on any other class looks it up afresh.
  jni::KeptLookup lookup;
};

// The state of one operation inside the frame, handed to its body.
class JavaCall {
 public:
  JavaCall(CJNIWrapperLog* log, JNIEnv* env, jobject object, jmethodID method) noexcept
      : log_(log), env_(env), object_(object), method_(method) {}

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
  // (Describe) before it makes any other JNI call.
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

  // 1 when no Java exception is pending; else describes it to the log and
  // clears it, and answers 0.
  int Describe() const noexcept { return jni::DescribeException(env_, log_); }
  // The host's code for a bare CErrorValue result.
  uint32_t ErrorCode(jobject errorValue) const noexcept { return DecodeErrorCode(env_, log_, errorValue); }

  void Line(WStringView text) const noexcept { WriteLine(log_, text); }
  // message + text, with nothing in between; the log joins them in its own
  // record buffer, so no line makes a string of its own.
  void Line(WStringView message, WStringView text) const noexcept { WriteLine(log_, message, text); }
  void LineLevel3(WStringView text) const noexcept { WriteLineLevel3(log_, text); }

 private:
  CJNIWrapperLog* log_;
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
            if (op.classMissingLine != nullptr) kq::WriteLine(m_pLog, op.classMissingLine);
            return KQ_BRIDGE_FAILURE;
          case kq::ClassMissing::kDescribeAndFail:
            kq::jni::DescribeException(env, m_pLog);
            if (op.classMissingLine != nullptr) kq::WriteLine(m_pLog, op.classMissingLine);
            return KQ_BRIDGE_FAILURE;
        }
      }
      const kq::jni::KeptIds* kept = cls ? op.lookup.Kept() : nullptr;
      jmethodID method = kept != nullptr && env->IsSameObject(kept->cls, cls.get()) ? kept->methods[0] : nullptr;
      if (method == nullptr) {
        method = kq::jni::FindLibraryMethod(env, m_pLog, cls.get(), op.method, op.signature);
        if (method == nullptr) {
          if (op.methodMissingLine != nullptr) kq::WriteLine(m_pLog, op.methodMissingLine);
          return KQ_BRIDGE_FAILURE;
        }
        kq::jni::KeptIds found;
        found.methods[0] = method;
        op.lookup.Keep(env, cls.get(), found);
      }
      kq::JavaCall call(m_pLog, env, m_ObjKQAzurePlugInLibrary, method);
      return std::forward<Body>(body)(call);
    } catch (...) {
      kq::WriteLine(m_pLog, op.name, kq::text::kExceptionLineSuffix);
      return KQ_BRIDGE_FAILURE;
    }
  } catch (...) {
    return KQ_BRIDGE_FAILURE;
  }
}

#endif  // KQ_BRIDGE_CALLFRAME_H_
