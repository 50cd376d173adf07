// Conversions between the host's UTF-16 text and Java strings.  Both sides
// use UTF-16 code units, so nothing is re-encoded: the units are copied.
#ifndef KQ_BRIDGE_JNISTRINGS_H_
#define KQ_BRIDGE_JNISTRINGS_H_

#include <jni.h>

#include <cstdlib>
#include <memory>

#include "kq/CloudPluginInterface.h"

static_assert(sizeof(WChar) == sizeof(jchar), "WChar must be one UTF-16 code unit");

namespace kq {

// A copy of a Java string's text, zero-terminated, in a buffer from malloc;
// null for a null string or when the copy cannot be allocated.  The caller
// frees it (MallocedText does that).
WChar* JStringToWide(JNIEnv* env, jstring text);

struct FreeDeleter {
  void operator()(WChar* p) const noexcept { std::free(p); }
};
using MallocedText = std::unique_ptr<WChar, FreeDeleter>;

// Assigns the text of `text` to *out when the Java string is not null and
// its copy succeeded; returns whether it assigned.  The host's string gets
// the characters up to the first zero code unit.
bool AssignJString(JNIEnv* env, jstring text, WString* out);

// A new Java string with the code units of `text` before its first zero.
// A null text gives the empty Java string; a null env gives null.
jstring WideToJString(JNIEnv* env, const WChar* text);
inline jstring WideToJString(JNIEnv* env, const WString& text) { return WideToJString(env, text.c_str()); }

}  // namespace kq

#endif  // KQ_BRIDGE_JNISTRINGS_H_
