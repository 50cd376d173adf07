// Internal helpers shared by the result readers and the metadata conversions.
// Not part of the bridge's interface to operations.
#ifndef KQ_BRIDGE_RECORDSUPPORT_H_
#define KQ_BRIDGE_RECORDSUPPORT_H_

#include <jni.h>

#include "bridge/JniStrings.h"
#include "bridge/ResultReaders.h"
#include "bridge/ScopedJni.h"

namespace kq {
namespace record {

// Thrown inside a reader or a conversion loop when a JNI call left a Java
// exception pending, or when an object is not of the class the code needs.
// It never leaves this layer: every public function catches it, clears the
// Java exception (ClearExceptionWithConsoleNote) and applies its failure rule.
struct ReadFailure {};

inline void ThrowIfPending(JNIEnv* env) {
  if (env->ExceptionCheck()) throw ReadFailure();
}

// The class, or null with the lookup's exception cleared.
inline ScopedLocalRef<jclass> FindClass(JNIEnv* env, const char* name) {
  ScopedLocalRef<jclass> cls(env, env->FindClass(name));
  if (!cls) ClearExceptionWithConsoleNote(env);
  return cls;
}

// The field, or null with the lookup's exception cleared.
inline jfieldID FindField(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  if (cls == nullptr) return nullptr;
  jfieldID id = env->GetFieldID(cls, name, signature);
  if (id == nullptr) ClearExceptionWithConsoleNote(env);
  return id;
}

// An object field as a scoped reference of type T; throws when reading it
// left a Java exception pending.
template <typename T = jobject> ScopedLocalRef<T> ObjectField(JNIEnv* env, jobject object, jfieldID id) {
  ScopedLocalRef<T> value(env, static_cast<T>(env->GetObjectField(object, id)));
  ThrowIfPending(env);
  return value;
}

// Calls visit(element) for each non-null element of `array` in index order.
// Each element's reference is dropped before the next is taken, so arrays of
// any length keep the same few references alive.
template <typename Visit> void ForEachElement(JNIEnv* env, jobjectArray array, Visit&& visit) {
  const jsize length = env->GetArrayLength(array);
  ThrowIfPending(env);
  for (jsize i = 0; i < length; ++i) {
    ScopedLocalRef<jobject> element(env, env->GetObjectArrayElement(array, i));
    ThrowIfPending(env);
    if (element) visit(element.get());
  }
}

// A copy of a Java string's text (null for a null string or a failed
// allocation, which callers treat alike); throws when the copy left a Java
// exception pending.
inline MallocedText TakeText(JNIEnv* env, jstring text) {
  MallocedText copy(JStringToWide(env, text));
  ThrowIfPending(env);
  return copy;
}

}  // namespace record
}  // namespace kq

#endif  // KQ_BRIDGE_RECORDSUPPORT_H_
