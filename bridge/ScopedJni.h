// Scoped owners for JNI resources.  Every local reference the bridge makes is
// held by one of these, so each is deleted exactly once on every path out of
// an operation, including early returns and C++ exceptions.
#ifndef KQ_BRIDGE_SCOPEDJNI_H_
#define KQ_BRIDGE_SCOPEDJNI_H_

#include <jni.h>

#include <cstddef>

namespace kq {

// Owns one JNI local reference of type T (jobject, jclass, jstring, ...).
// DeleteLocalRef is one of the few JNI functions that may be called while a
// Java exception is pending, so the destructor is safe on every path.
template <typename T> class ScopedLocalRef {
 public:
  ScopedLocalRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
  explicit ScopedLocalRef(JNIEnv* env) noexcept : env_(env), ref_(nullptr) {}
  ~ScopedLocalRef() { reset(); }

  ScopedLocalRef(ScopedLocalRef&& other) noexcept : env_(other.env_), ref_(other.release()) {}
  ScopedLocalRef& operator=(ScopedLocalRef&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      env_ = other.env_;
    }
    return *this;
  }
  ScopedLocalRef(const ScopedLocalRef&) = delete;
  ScopedLocalRef& operator=(const ScopedLocalRef&) = delete;

  void reset(T ref = nullptr) noexcept {
    if (ref_ != nullptr && ref_ != ref) env_->DeleteLocalRef(ref_);
    ref_ = ref;
  }
  // Gives up ownership without deleting.
  T release() noexcept {
    T ref = ref_;
    ref_ = nullptr;
    return ref;
  }
  T get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

 private:
  JNIEnv* env_;
  T ref_;
};

// Holds the characters of a Java string (GetStringChars) until scope end.
class ScopedStringChars {
 public:
  ScopedStringChars(JNIEnv* env, jstring text) noexcept
      : env_(env), text_(text), chars_(text != nullptr ? env->GetStringChars(text, nullptr) : nullptr) {}
  ~ScopedStringChars() {
    if (chars_ != nullptr) env_->ReleaseStringChars(text_, chars_);
  }
  ScopedStringChars(const ScopedStringChars&) = delete;
  ScopedStringChars& operator=(const ScopedStringChars&) = delete;

  const jchar* get() const noexcept { return chars_; }
  jsize size() const noexcept { return chars_ != nullptr ? env_->GetStringLength(text_) : 0; }

 private:
  JNIEnv* env_;
  jstring text_;
  const jchar* chars_;
};

// Clears a Java exception left pending when the scope ends, so that nothing
// the bridge did can leave an exception on a host thread.
class PendingExceptionGuard {
 public:
  explicit PendingExceptionGuard(JNIEnv* env) noexcept : env_(env) {}
  ~PendingExceptionGuard() {
    if (env_ != nullptr && env_->ExceptionCheck()) env_->ExceptionClear();
  }
  PendingExceptionGuard(const PendingExceptionGuard&) = delete;
  PendingExceptionGuard& operator=(const PendingExceptionGuard&) = delete;

 private:
  JNIEnv* env_;
};

}  // namespace kq

#endif  // KQ_BRIDGE_SCOPEDJNI_H_
