// The bridge against the real library's jar (java/azure, on this program's
// class path).  Every lookup the bridge makes (the operations' methods, the
// error class's methods, the record readers' fields, the metadata
// conversions' members: the KeptLookup list) is made here as the bridge
// makes it, and must succeed; every public instance method of the library's
// class must be one that the bridge calls, with the same signature.  A
// renamed method, a changed parameter or a field of another type fails here
// instead of in a user's log.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bridge/JavaNames.h"
#include "bridge/JniHelpers.h"
#include "bridge/ScopedJni.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

using jni::KeptLookup;
using jni::Member;
using jni::MemberKind;

// Skips the test, saying why, when Maven has not built the jar.
#define KQ_NEED_LIBRARY_JAR()                                                              \
  if (!std::filesystem::exists(KQ_LIBRARY_JAR))                                            \
  GTEST_SKIP() << KQ_LIBRARY_JAR                                                           \
               << " is not built (mvn -B -f java/azure/pom.xml package -DskipTests); the " \
                  "bridge's lookups were not checked against it"

const char* ClassOf(const KeptLookup& lookup) {
  return lookup.className() != nullptr ? lookup.className() : jni::kLibraryClass;
}

// Whether the member resolves on `cls` as the bridge asks for it; a failed
// lookup's exception is cleared.
bool Resolves(JNIEnv* env, jclass cls, const Member& member) {
  bool found = false;
  switch (member.kind) {
    case MemberKind::kField:
      found = env->GetFieldID(cls, member.name, member.signature) != nullptr;
      break;
    case MemberKind::kMethod:
      found = env->GetMethodID(cls, member.name, member.signature) != nullptr;
      break;
    case MemberKind::kStaticMethod:
      found = env->GetStaticMethodID(cls, member.name, member.signature) != nullptr;
      break;
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  return found;
}

// The class named by a field's or a method result's type, when it is one
// of the library's own ("Lcom/kq/.../X;" or "[Lcom/kq/.../X;"), else "".
std::string LibraryClassIn(const std::string& type) {
  const size_t start = type.find("Lcom/kq/");
  return start == std::string::npos ? "" : type.substr(start + 1, type.find(';', start) - start - 1);
}

TEST(LibraryContract, TheBridgesLookupsAndTheLibrarysPublicMethodsAgree) {
  KQ_NEED_LIBRARY_JAR();
  JNIEnv* env = CurrentEnv();
  ASSERT_NE(env, nullptr);
  std::set<std::string> classes;  // the classes the bridge has lookups of
  for (const KeptLookup* lookup = KeptLookup::First(); lookup != nullptr; lookup = lookup->Next()) {
    classes.insert(ClassOf(*lookup));
  }
  std::vector<std::string> missing, unread;
  std::set<std::string> called;  // "name signature" of the bridge's library methods
  size_t members = 0;
  for (const KeptLookup* lookup = KeptLookup::First(); lookup != nullptr; lookup = lookup->Next()) {
    ScopedLocalRef<jclass> cls(env, env->FindClass(ClassOf(*lookup)));
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (!cls) missing.push_back(std::string("class ") + ClassOf(*lookup));
    for (const Member& member : *lookup) {
      ++members;
      if (ClassOf(*lookup) == std::string(jni::kLibraryClass) && member.kind == MemberKind::kMethod) {
        called.insert(std::string(member.name) + " " + member.signature);
      }
      if (cls && !Resolves(env, cls.get(), member)) {
        missing.push_back(std::string(ClassOf(*lookup)) + "." + member.name + " " + member.signature);
      }
      // Every library class a method answers or a field holds is read by a
      // lookup of its own (a record without a reader row would go unread).
      std::string type = member.signature;
      if (member.kind != MemberKind::kField) type = type.substr(type.find(')') + 1);
      const std::string read = LibraryClassIn(type);
      if (!read.empty() && read != "com/kq/KQCloudPluginInterface/ERRORID" && classes.count(read) == 0) {
        unread.push_back(read + " (" + member.name + ")");
      }
    }
  }
  EXPECT_EQ(missing, std::vector<std::string>{});
  EXPECT_EQ(unread, std::vector<std::string>{});
  // The list is the bridge's whole contract only if it holds every part:
  // the operations (about fifty methods), the records and the metadata.
  EXPECT_GT(members, 80u);

  // Every public instance method the library's class declares (inherited
  // ones are not its own) is one the bridge calls: the jar's own view, by
  // reflection, of each one's name and descriptor.
  ScopedLocalRef<jclass> library(env, env->FindClass(jni::kLibraryClass));
  ASSERT_TRUE(library);
  ScopedLocalRef<jclass> classClass(env, env->FindClass("java/lang/Class"));
  ScopedLocalRef<jclass> methodClass(env, env->FindClass("java/lang/reflect/Method"));
  ScopedLocalRef<jclass> typeClass(env, env->FindClass("java/lang/invoke/MethodType"));
  ASSERT_TRUE(classClass && methodClass && typeClass);
  jmethodID getMethods = env->GetMethodID(classClass.get(), "getDeclaredMethods", "()[Ljava/lang/reflect/Method;");
  jmethodID getName = env->GetMethodID(methodClass.get(), "getName", "()Ljava/lang/String;");
  jmethodID getModifiers = env->GetMethodID(methodClass.get(), "getModifiers", "()I");
  jmethodID getReturnType = env->GetMethodID(methodClass.get(), "getReturnType", "()Ljava/lang/Class;");
  jmethodID getParameterTypes = env->GetMethodID(methodClass.get(), "getParameterTypes", "()[Ljava/lang/Class;");
  jmethodID methodType = env->GetStaticMethodID(typeClass.get(), "methodType",
                                                "(Ljava/lang/Class;[Ljava/lang/Class;)Ljava/lang/invoke/MethodType;");
  jmethodID descriptor = env->GetMethodID(typeClass.get(), "toMethodDescriptorString", "()Ljava/lang/String;");
  ASSERT_FALSE(env->ExceptionCheck());

  // A reflection call; one that throws answers null.
  auto call = [env](jobject object, jmethodID method) {
    jobject result = env->CallObjectMethod(object, method);
    if (env->ExceptionCheck()) env->ExceptionClear();
    return result;
  };
  ScopedLocalRef<jobjectArray> methods(env, static_cast<jobjectArray>(call(library.get(), getMethods)));
  ASSERT_TRUE(methods);
  const jsize count = env->GetArrayLength(methods.get());
  constexpr jint kPublic = 0x1, kStatic = 0x8;
  std::vector<std::string> uncalled;
  size_t declared = 0;
  for (jsize i = 0; i < count; ++i) {
    ScopedLocalRef<jobject> method(env, env->GetObjectArrayElement(methods.get(), i));
    const jint modifiers = env->CallIntMethod(method.get(), getModifiers);
    ASSERT_FALSE(env->ExceptionCheck());
    if ((modifiers & kPublic) == 0 || (modifiers & kStatic) != 0) continue;
    ++declared;
    ScopedLocalRef<jstring> name(env, static_cast<jstring>(call(method.get(), getName)));
    ScopedLocalRef<jobject> result(env, call(method.get(), getReturnType));
    ScopedLocalRef<jobject> parameters(env, call(method.get(), getParameterTypes));
    ScopedLocalRef<jobject> type(
        env, env->CallStaticObjectMethod(typeClass.get(), methodType, result.get(), parameters.get()));
    ASSERT_FALSE(env->ExceptionCheck());
    ScopedLocalRef<jstring> text(env, static_cast<jstring>(call(type.get(), descriptor)));
    const std::string row = Utf8(env, name.get()) + " " + Utf8(env, text.get());
    if (called.count(row) == 0) uncalled.push_back(row);
  }
  EXPECT_EQ(uncalled, std::vector<std::string>{}) << "public methods of the library that the bridge does not call "
                                                     "(or calls with another signature)";
  EXPECT_GT(declared, 40u);
}

}  // namespace
}  // namespace test
}  // namespace kq
