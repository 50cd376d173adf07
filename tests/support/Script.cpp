#include "tests/support/Script.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdio>

#include "bridge/ScopedJni.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

// One call of a static method of com.kq.testdouble.Script: every local
// reference it makes lives in a local frame that ends with it.
class Call {
 public:
  Call() : env_(CurrentEnv()) {
    if (env_ == nullptr || env_->PushLocalFrame(16) != JNI_OK) {
      ADD_FAILURE() << "the test script needs an attached thread";
      env_ = nullptr;
    }
  }
  ~Call() {
    if (env_ != nullptr) env_->PopLocalFrame(nullptr);
  }
  // Ends the call's frame, keeping `result` as a local reference of the caller's.
  jobject Keep(jobject result) {
    JNIEnv* env = env_;
    env_ = nullptr;
    return env != nullptr ? env->PopLocalFrame(result) : nullptr;
  }

  JNIEnv* env() const { return env_; }
  jstring Str(const std::string& utf8) {
    const WString text = W(utf8);
    return env_ ? env_->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()))
                : nullptr;
  }
  jobjectArray Strs(const std::vector<std::string>& texts, bool modifiedUtf8 = false) {
    jclass string = env_ ? env_->FindClass("java/lang/String") : nullptr;
    jobjectArray array = string ? env_->NewObjectArray(static_cast<jsize>(texts.size()), string, nullptr) : nullptr;
    for (size_t i = 0; array != nullptr && i < texts.size(); ++i) {
      ScopedLocalRef<jstring> text(env_, modifiedUtf8 ? env_->NewStringUTF(texts[i].c_str()) : Str(texts[i]));
      env_->SetObjectArrayElement(array, static_cast<jsize>(i), text.get());
    }
    return array;
  }

  // Calls the method; its result if `object` says it answers an object.
  template <typename... Args> jobject Run(bool object, const char* method, const char* signature, Args... args) {
    jclass cls = env_ ? env_->FindClass("com/kq/testdouble/Script") : nullptr;
    jmethodID id = cls ? env_->GetStaticMethodID(cls, method, signature) : nullptr;
    if (env_ == nullptr || Failed(method)) return nullptr;
    jobject result = nullptr;
    if (object) {
      result = env_->CallStaticObjectMethod(cls, id, args...);
    } else {
      env_->CallStaticVoidMethod(cls, id, args...);
    }
    return Failed(method) ? nullptr : result;
  }

 private:
  // Fails the test with the text of a pending Java exception, and clears it.
  bool Failed(const char* what) {
    if (!env_->ExceptionCheck()) return false;
    jthrowable thrown = env_->ExceptionOccurred();
    env_->ExceptionClear();
    jmethodID toString = env_->GetMethodID(env_->GetObjectClass(thrown), "toString", "()Ljava/lang/String;");
    auto text = static_cast<jstring>(env_->CallObjectMethod(thrown, toString));
    if (env_->ExceptionCheck()) env_->ExceptionClear();
    ADD_FAILURE() << "Script." << what << " threw " << Utf8(env_, text);
    return true;
  }

  JNIEnv* env_;
};

void CallWithTwo(const char* method, const std::string& first, const std::string& second) {
  Call call;
  call.Run(false, method, "(Ljava/lang/String;Ljava/lang/String;)V", call.Str(first), call.Str(second));
}

}  // namespace

void Script::Reset() { Call().Run(false, "reset", "()V"); }

void Script::ClearJournal() { Call().Run(false, "clearJournal", "()V"); }

void Script::Returns(const std::string& key, const std::string& value) { CallWithTwo("returnsValue", key, value); }

void Script::ReturnsBuilt(const std::string& key, const std::string& className,
                          const std::vector<std::string>& assignments) {
  Call call;
  call.Run(false, "returnsBuilt", "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/String;)V", call.Str(key),
           call.Str(className), call.Strs(assignments));
}

void Script::Throws(const std::string& key, const std::string& message) { CallWithTwo("throwsOn", key, message); }

void Script::SetReadCount(const std::string& key, int64_t count) {
  Call call;
  call.Run(false, "setReadCount", "(Ljava/lang/String;J)V", call.Str(key), static_cast<jlong>(count));
}

std::vector<std::string> Script::Journal() {
  std::vector<std::string> entries;
  Call call;
  auto journal = static_cast<jobjectArray>(call.Run(true, "journal", "()[Ljava/lang/String;"));
  for (jsize i = 0, length = journal ? call.env()->GetArrayLength(journal) : 0; i < length; ++i) {
    ScopedLocalRef<jstring> entry(call.env(), static_cast<jstring>(call.env()->GetObjectArrayElement(journal, i)));
    entries.push_back(Utf8(call.env(), entry.get()));
  }
  return entries;
}

jobject Script::Parse(const std::string& value) {
  Call call;
  return call.Keep(call.Run(true, "parse", "(Ljava/lang/String;)Ljava/lang/Object;", call.Str(value)));
}

jobject Script::Build(const std::string& className, const std::vector<std::string>& modifiedUtf8) {
  Call call;
  return call.Keep(call.Run(true, "build", "(Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/Object;",
                            call.Str(className), call.Strs(modifiedUtf8, true)));
}

std::string Script::Describe(jobject value) {
  Call call;
  return Utf8(call.env(),
              static_cast<jstring>(call.Run(true, "describe", "(Ljava/lang/Object;)Ljava/lang/String;", value)));
}

std::string Script::Bytes(const void* data, size_t size) {
  // CRC-32 (IEEE 802.3, reflected), as java.util.zip.CRC32 computes it.
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= static_cast<const unsigned char*>(data)[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  char text[64];
  std::snprintf(text, sizeof text, "bytes(len=%zu,crc=%08x)", size, crc ^ 0xFFFFFFFFu);
  return text;
}

}  // namespace test
}  // namespace kq
