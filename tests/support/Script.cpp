#include "tests/support/Script.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "bridge/ScopedJni.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

// One call of a static method of com.kq.testdouble.Script: the calling
// thread's environment (attached for the call if it was not), the class,
// and the local references made for the arguments, all released at the end.
class ScriptCall {
 public:
  ScriptCall() {
    env_ = CurrentEnv();
    if (env_ == nullptr && TestVm() != nullptr &&
        TestVm()->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr) == JNI_OK) {
      attached_ = true;
    }
    if (env_ == nullptr) {
      ADD_FAILURE() << "no JVM for the test script";
      return;
    }
    cls_ = std::make_unique<ScopedLocalRef<jclass>>(env_, env_->FindClass("com/kq/testdouble/Script"));
    Failed("class lookup");
  }
  ~ScriptCall() {
    args_.clear();
    cls_.reset();
    if (attached_) TestVm()->DetachCurrentThread();
  }
  ScriptCall(const ScriptCall&) = delete;
  ScriptCall& operator=(const ScriptCall&) = delete;

  bool ok() const { return env_ != nullptr && cls_ && *cls_; }
  JNIEnv* env() const { return env_; }

  jstring String(const std::string& utf8) {
    const WString text = W(utf8);
    return Keep(env_->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size())));
  }
  jobjectArray Strings(const std::vector<std::string>& texts) {
    ScopedLocalRef<jclass> stringClass(env_, env_->FindClass("java/lang/String"));
    jobjectArray array = Keep(env_->NewObjectArray(static_cast<jsize>(texts.size()), stringClass.get(), nullptr));
    for (size_t i = 0; i < texts.size() && array != nullptr; ++i) {
      env_->SetObjectArrayElement(array, static_cast<jsize>(i), String(texts[i]));
    }
    return array;
  }
  jbyteArray Bytes(const std::vector<uint8_t>& data) {
    jbyteArray array = Keep(env_->NewByteArray(static_cast<jsize>(data.size())));
    if (array != nullptr && !data.empty()) {
      env_->SetByteArrayRegion(array, 0, static_cast<jsize>(data.size()), reinterpret_cast<const jbyte*>(data.data()));
    }
    return array;
  }

  template <typename... Args>
  void Void(const char* method, const char* signature, Args... args) {
    if (!ok()) return;
    jmethodID id = env_->GetStaticMethodID(cls_->get(), method, signature);
    if (Failed(method)) return;
    env_->CallStaticVoidMethod(cls_->get(), id, args...);
    Failed(method);
  }

  template <typename... Args>
  ScopedLocalRef<jobject> Object(const char* method, const char* signature, Args... args) {
    ScopedLocalRef<jobject> result(env_);
    if (!ok()) return result;
    jmethodID id = env_->GetStaticMethodID(cls_->get(), method, signature);
    if (Failed(method)) return result;
    result.reset(env_->CallStaticObjectMethod(cls_->get(), id, args...));
    Failed(method);
    return result;
  }

  std::string Text(jstring text) const {
    if (text == nullptr) return "null";
    ScopedStringChars chars(env_, text);
    if (chars.get() == nullptr) return std::string();
    return U8(WString(reinterpret_cast<const WChar*>(chars.get()), static_cast<size_t>(chars.size())));
  }

 private:
  template <typename T>
  T Keep(T ref) {
    args_.emplace_back(env_, ref);
    return ref;
  }

  // Fails the test with the text of a pending Java exception, and clears it.
  bool Failed(const char* what) {
    if (env_ == nullptr || !env_->ExceptionCheck()) return false;
    ScopedLocalRef<jthrowable> thrown(env_, env_->ExceptionOccurred());
    env_->ExceptionClear();
    ScopedLocalRef<jclass> cls(env_, env_->GetObjectClass(thrown.get()));
    jmethodID toString = env_->GetMethodID(cls.get(), "toString", "()Ljava/lang/String;");
    ScopedLocalRef<jstring> text(env_, static_cast<jstring>(env_->CallObjectMethod(thrown.get(), toString)));
    if (env_->ExceptionCheck()) env_->ExceptionClear();
    ADD_FAILURE() << "Script." << what << " threw " << Text(text.get());
    return true;
  }

  JNIEnv* env_ = nullptr;
  bool attached_ = false;
  std::unique_ptr<ScopedLocalRef<jclass>> cls_;
  std::vector<ScopedLocalRef<jobject>> args_;
};

constexpr char kKeyAndText[] = "(Ljava/lang/String;Ljava/lang/String;)V";

}  // namespace

void Script::Reset() { ScriptCall().Void("reset", "()V"); }

void Script::ClearJournal() { ScriptCall().Void("clearJournal", "()V"); }

void Script::Returns(const std::string& key, const std::string& value) {
  ScriptCall call;
  if (call.ok()) call.Void("returnsValue", kKeyAndText, call.String(key), call.String(value));
}

void Script::ReturnsNull(const std::string& key) { Returns(key, "null"); }

void Script::ReturnsBuilt(const std::string& key, const std::string& className,
                          const std::vector<std::string>& assignments) {
  ScriptCall call;
  if (call.ok()) {
    call.Void("returnsBuilt", "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/String;)V", call.String(key),
              call.String(className), call.Strings(assignments));
  }
}

void Script::Throws(const std::string& key, const std::string& message) {
  ScriptCall call;
  if (call.ok()) call.Void("throwsOn", kKeyAndText, call.String(key), call.String(message));
}

void Script::SetReadCount(const std::string& key, int64_t count) {
  ScriptCall call;
  if (call.ok()) call.Void("setReadCount", "(Ljava/lang/String;J)V", call.String(key), static_cast<jlong>(count));
}

void Script::SetReadData(const std::string& key, const std::vector<uint8_t>& data) {
  ScriptCall call;
  if (call.ok()) call.Void("setReadData", "(Ljava/lang/String;[B)V", call.String(key), call.Bytes(data));
}

std::vector<std::string> Script::Journal() {
  std::vector<std::string> entries;
  ScriptCall call;
  ScopedLocalRef<jobject> journal = call.Object("journal", "()[Ljava/lang/String;");
  if (!journal) return entries;
  auto array = static_cast<jobjectArray>(journal.get());
  const jsize length = call.env()->GetArrayLength(array);
  for (jsize i = 0; i < length; ++i) {
    ScopedLocalRef<jstring> entry(call.env(), static_cast<jstring>(call.env()->GetObjectArrayElement(array, i)));
    entries.push_back(call.Text(entry.get()));
  }
  return entries;
}

std::string Script::Bytes(const void* data, size_t size) {
  // CRC-32 (IEEE 802.3, reflected), as java.util.zip.CRC32 computes it.
  uint32_t crc = 0xFFFFFFFFu;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  char text[64];
  std::snprintf(text, sizeof text, "bytes(len=%zu,crc=%08x)", size, crc);
  return text;
}

}  // namespace test
}  // namespace kq
