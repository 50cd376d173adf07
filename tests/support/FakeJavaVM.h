// A JavaVM whose invocation functions the test scripts, for the failures a
// real JVM will not produce: a refused attach, an environment that is not
// there.  Counts every call.  Calls other than GetEnv, the attaches and the
// detach answer JNI_ERR.
#ifndef KQ_TESTS_SUPPORT_FAKEJAVAVM_H_
#define KQ_TESTS_SUPPORT_FAKEJAVAVM_H_

#include <jni.h>

#include <atomic>

namespace kq {
namespace test {

class FakeJavaVM {
 public:
  FakeJavaVM();
  FakeJavaVM(const FakeJavaVM&) = delete;
  FakeJavaVM& operator=(const FakeJavaVM&) = delete;

  JavaVM* vm() { return &vm_; }

  // What the functions answer.
  jint getEnvResult = JNI_EDETACHED;
  jint attachResult = JNI_ERR;
  JNIEnv* attachEnv = nullptr;  // handed out by a successful attach

  std::atomic<int> getEnvCalls{0};
  std::atomic<int> attachCalls{0};  // both attach functions
  std::atomic<int> detachCalls{0};
  std::atomic<int> otherCalls{0};

 private:
  static FakeJavaVM& Of(JavaVM* vm);
  static jint JNICALL GetEnv(JavaVM* vm, void** env, jint version);
  static jint JNICALL Attach(JavaVM* vm, void** env, void* args);
  static jint JNICALL Detach(JavaVM* vm);
  static jint JNICALL Destroy(JavaVM* vm);

  JNIInvokeInterface_ functions_;
  JavaVM vm_;
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_FAKEJAVAVM_H_
