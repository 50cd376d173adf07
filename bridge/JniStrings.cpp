#include "bridge/JniStrings.h"

#include <cstring>

#include "bridge/ScopedJni.h"

namespace kq {

WChar* JStringToWide(JNIEnv* env, jstring text) {
  if (env == nullptr || text == nullptr) return nullptr;
  ScopedStringChars chars(env, text);
  if (chars.get() == nullptr) {
    // Only an out-of-memory condition makes GetStringChars fail; it leaves an
    // OutOfMemoryError pending, which the operation's frame clears.
    return nullptr;
  }
  const size_t length = static_cast<size_t>(chars.size());
  WChar* copy = static_cast<WChar*>(std::malloc((length + 1) * sizeof(WChar)));
  if (copy == nullptr) return nullptr;
  if (length > 0) std::memcpy(copy, chars.get(), length * sizeof(WChar));
  copy[length] = 0;
  return copy;
}

bool AssignJString(JNIEnv* env, jstring text, WString* out) {
  MallocedText copy(JStringToWide(env, text));
  if (!copy) return false;
  if (out != nullptr) out->assign(copy.get());  // up to the first zero unit
  return true;
}

jstring WideToJString(JNIEnv* env, const WChar* text) {
  if (env == nullptr) return nullptr;
  if (text == nullptr) return env->NewStringUTF("");
  size_t length = 0;
  while (text[length] != 0) ++length;
  return env->NewString(reinterpret_cast<const jchar*>(text), static_cast<jsize>(length));
}

}  // namespace kq
