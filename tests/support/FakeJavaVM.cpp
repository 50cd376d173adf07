#include "tests/support/FakeJavaVM.h"

namespace kq {
namespace test {

FakeJavaVM::FakeJavaVM() : functions_(), vm_() {
  functions_.reserved0 = this;
  functions_.DestroyJavaVM = &Destroy;
  functions_.AttachCurrentThread = &Attach;
  functions_.DetachCurrentThread = &Detach;
  functions_.GetEnv = &GetEnv;
  functions_.AttachCurrentThreadAsDaemon = &Attach;
  vm_.functions = &functions_;
}

FakeJavaVM& FakeJavaVM::Of(JavaVM* vm) { return *static_cast<FakeJavaVM*>(vm->functions->reserved0); }

jint JNICALL FakeJavaVM::GetEnv(JavaVM* vm, void** env, jint /*version*/) {
  FakeJavaVM& fake = Of(vm);
  ++fake.getEnvCalls;
  *env = nullptr;
  return fake.getEnvResult;
}

jint JNICALL FakeJavaVM::Attach(JavaVM* vm, void** env, void* /*args*/) {
  FakeJavaVM& fake = Of(vm);
  ++fake.attachCalls;
  *env = fake.attachResult == JNI_OK ? fake.attachEnv : nullptr;
  return fake.attachResult;
}

jint JNICALL FakeJavaVM::Detach(JavaVM* vm) {
  ++Of(vm).detachCalls;
  return JNI_OK;
}

jint JNICALL FakeJavaVM::Destroy(JavaVM* vm) {
  ++Of(vm).otherCalls;
  return JNI_ERR;
}

}  // namespace test
}  // namespace kq
