// Makes chosen JNI calls of the current thread fail the way the VM fails
// them: the call answers null (or 0) and leaves a Java exception pending.
//
// The thread's JNIEnv keeps its address (HotSpot finds the thread from it);
// only its function table is swapped for a copy in which a few entries first
// ask whether this call is the one to fail and otherwise pass on to the
// original (checked, under -Xcheck:jni) functions.
#ifndef KQ_TESTS_RECORDS_JNIFAULTS_H_
#define KQ_TESTS_RECORDS_JNIFAULTS_H_

#include <jni.h>

#include <cstdarg>
#include <utility>
#include <string>

namespace kq {
namespace test {

class ScopedJniFault {
 public:
  enum class Call {
    kFindClass,    // FindClass(name)
    kGetFieldID,   // GetFieldID(.., name, ..)
    kGetMethodID,  // GetMethodID(.., name, ..) and GetStaticMethodID
    kGetField,     // Get<Object|Long|Boolean|Int>Field of `field`
    kStringChars,  // GetStringChars
    kCallInt,      // Call<Int>Method
    kNewObject,    // NewObject
  };

  // Fails the `nth` call (1-based) of `call` that matches `name` (an empty
  // name matches every call); 0 fails every matching call.
  ScopedJniFault(JNIEnv* env, Call call, std::string name = std::string(), int nth = 0)
      : env_(env), saved_(env->functions) {
    Start(call, std::move(name), nullptr, nth);
  }
  // Fails reading the field `name` (of signature `signature`) of `cls`.
  ScopedJniFault(JNIEnv* env, jclass cls, const char* name, const char* signature, int nth = 0)
      : env_(env), saved_(env->functions) {
    Start(Call::kGetField, std::string(), env->GetFieldID(cls, name, signature), nth);
  }
  ~ScopedJniFault() {
    env_->functions = saved_;
    env_->DeleteGlobalRef(state().exceptionClass);
  }
  ScopedJniFault(const ScopedJniFault&) = delete;
  ScopedJniFault& operator=(const ScopedJniFault&) = delete;

  // How many calls were made to fail.
  int failures() const { return state().failures; }

 private:
  struct State {
    const JNINativeInterface_* real;
    JNINativeInterface_ table;
    Call call;
    std::string name;
    jfieldID field;
    int nth;
    int seen;
    int failures;
    jclass exceptionClass;
  };
  static State& state() {
    static State s;
    return s;
  }

  void Start(Call call, std::string name, jfieldID field, int nth) {
    State& s = state();
    s.real = saved_;
    s.call = call;
    s.name = std::move(name);
    s.field = field;
    s.nth = nth;
    s.seen = 0;
    s.failures = 0;
    jclass error = env_->FindClass("java/lang/IllegalStateException");
    s.exceptionClass = static_cast<jclass>(env_->NewGlobalRef(error));
    env_->DeleteLocalRef(error);
    s.table = *saved_;
    s.table.FindClass = &FindClass;
    s.table.GetFieldID = &GetFieldID;
    s.table.GetMethodID = &GetMethodID;
    s.table.GetStaticMethodID = &GetStaticMethodID;
    s.table.GetObjectField = &GetObjectField;
    s.table.GetLongField = &GetLongField;
    s.table.GetBooleanField = &GetBooleanField;
    s.table.GetIntField = &GetIntField;
    s.table.GetStringChars = &GetStringChars;
    s.table.CallIntMethodV = &CallIntMethodV;
    s.table.NewObjectV = &NewObjectV;
    env_->functions = &s.table;
  }

  // Whether this call is to fail; if so, throws the injected exception.
  static bool Fail(JNIEnv* env, Call call, const char* name, jfieldID field = nullptr) {
    State& s = state();
    if (call != s.call) return false;
    if (call == Call::kGetField && field != s.field) return false;
    if (!s.name.empty() && (name == nullptr || s.name != name)) return false;
    ++s.seen;
    if (s.nth != 0 && s.seen != s.nth) return false;
    ++s.failures;
    s.real->ThrowNew(env, s.exceptionClass, "injected JNI failure");
    return true;
  }

  static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    return Fail(env, Call::kFindClass, name) ? nullptr : state().real->FindClass(env, name);
  }
  static jfieldID JNICALL GetFieldID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return Fail(env, Call::kGetFieldID, name) ? nullptr : state().real->GetFieldID(env, cls, name, sig);
  }
  static jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return Fail(env, Call::kGetMethodID, name) ? nullptr : state().real->GetMethodID(env, cls, name, sig);
  }
  static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return Fail(env, Call::kGetMethodID, name) ? nullptr : state().real->GetStaticMethodID(env, cls, name, sig);
  }
  static jobject JNICALL GetObjectField(JNIEnv* env, jobject obj, jfieldID id) {
    return Fail(env, Call::kGetField, nullptr, id) ? nullptr : state().real->GetObjectField(env, obj, id);
  }
  static jlong JNICALL GetLongField(JNIEnv* env, jobject obj, jfieldID id) {
    return Fail(env, Call::kGetField, nullptr, id) ? 0 : state().real->GetLongField(env, obj, id);
  }
  static jboolean JNICALL GetBooleanField(JNIEnv* env, jobject obj, jfieldID id) {
    return Fail(env, Call::kGetField, nullptr, id) ? JNI_FALSE : state().real->GetBooleanField(env, obj, id);
  }
  static jint JNICALL GetIntField(JNIEnv* env, jobject obj, jfieldID id) {
    return Fail(env, Call::kGetField, nullptr, id) ? 0 : state().real->GetIntField(env, obj, id);
  }
  static const jchar* JNICALL GetStringChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    return Fail(env, Call::kStringChars, nullptr) ? nullptr : state().real->GetStringChars(env, text, isCopy);
  }
  static jint JNICALL CallIntMethodV(JNIEnv* env, jobject obj, jmethodID id, va_list args) {
    return Fail(env, Call::kCallInt, nullptr) ? 0 : state().real->CallIntMethodV(env, obj, id, args);
  }
  static jobject JNICALL NewObjectV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    return Fail(env, Call::kNewObject, nullptr) ? nullptr : state().real->NewObjectV(env, cls, id, args);
  }

  JNIEnv* env_;
  const JNINativeInterface_* saved_;
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_RECORDS_JNIFAULTS_H_
