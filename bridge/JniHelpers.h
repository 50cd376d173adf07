// The bridge's generic JNI helpers: reporting a pending Java exception,
// finding the library's class and methods, and the one cache of lookups.
// They know the log and JNI, nothing of CJNIWrapper or of any operation, so
// the frame, the error decoders and the readers all build on them.
#ifndef KQ_BRIDGE_JNIHELPERS_H_
#define KQ_BRIDGE_JNIHELPERS_H_

#include <jni.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <initializer_list>

class CJNIWrapperLog;

namespace kq {
namespace jni {

// 1 when no Java exception was pending; 0 when one was: it is then cleared
// and its toString() written to the log (level 3) under "Descrption is
// failed".
int DescribeException(JNIEnv* env, CJNIWrapperLog* log) noexcept;

// FindClass of the library's class; null (described, with its line) when
// it cannot be found.  A local reference.
jclass FindLibraryClass(JNIEnv* env, CJNIWrapperLog* log) noexcept;

// The method of the library's class `cls` (may be null); null, with the
// exception described and the three "Method is not got" lines, when it
// cannot be found.
jmethodID FindLibraryMethod(JNIEnv* env, CJNIWrapperLog* log, jclass cls, const char* name,
                            const char* signature) noexcept;

// ---- the lookup cache ----

enum class MemberKind : unsigned char { kField, kMethod, kStaticMethod };

// A field or method the bridge looks up, by the name and JNI signature it
// passes to GetFieldID, GetMethodID or GetStaticMethodID.
struct Member {
  const char* name;
  const char* signature;
  MemberKind kind;
};

inline constexpr size_t kMaxMembers = 9;

// The answer of one complete lookup: the class, as a global reference, and
// an identifier per member in the order of the members (a field's in
// `fields`, a method's in `methods`).
struct KeptIds {
  jclass cls = nullptr;
  std::array<jfieldID, kMaxMembers> fields{};
  std::array<jmethodID, kMaxMembers> methods{};
};

// One class and the members the bridge looks up on it, with the answer kept
// once a lookup found all of them.  The answers never change while the class
// is loaded, and a class held by a global reference is not unloaded; a
// lookup that failed is not kept, so it is made, and reported, afresh each
// time, as it was the first time.
//
// Every KeptLookup of the process is listed (First, Next): the list is what
// the bridge asks of the Java classes, and what the contract test checks
// against the library's jar.  So a KeptLookup must have static storage
// duration at namespace scope: the list is built while the program starts.
class KeptLookup {
 public:
  // `className` as given to FindClass; null for the library's class, which
  // the frame takes from the library object.
  KeptLookup(const char* className, std::initializer_list<Member> members) noexcept;
  KeptLookup(const char* className, const Member* members, size_t count) noexcept;
  KeptLookup(const KeptLookup&) = delete;
  KeptLookup& operator=(const KeptLookup&) = delete;

  const char* className() const noexcept { return className_; }
  const Member* begin() const noexcept { return members_.data(); }
  const Member* end() const noexcept { return members_.data() + count_; }
  size_t size() const noexcept { return count_; }

  // The kept answer, or null when none is kept yet.
  const KeptIds* Kept() const noexcept { return kept_.load(std::memory_order_acquire); }
  // Keeps the answer `ids` found on `cls` (a local reference is fine: a
  // global one is made), unless another thread kept one first.
  void Keep(JNIEnv* env, jclass cls, const KeptIds& ids) const noexcept;

  static const KeptLookup* First() noexcept;
  const KeptLookup* Next() const noexcept { return next_; }

 private:
  friend void ForgetKeptLookups(JNIEnv* env);

  const char* className_;
  std::array<Member, kMaxMembers> members_{};
  size_t count_;
  mutable std::atomic<const KeptIds*> kept_{nullptr};
  const KeptLookup* next_;
};

// For tests that make lookups fail: drops every kept answer, so that the
// next use looks up afresh.  Not safe while another thread calls the bridge.
void ForgetKeptLookups(JNIEnv* env);

}  // namespace jni
}  // namespace kq

#endif  // KQ_BRIDGE_JNIHELPERS_H_
