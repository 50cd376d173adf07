#include "bridge/AutoAttachJVM.h"

#include "log/HostTexts.h"
#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

AutoAttachJVM::AutoAttachJVM(JavaVM* vm, CJNIWrapperLog* log) noexcept
    : vm_(nullptr), log_(log), env_(nullptr), attached_(false) {
  try {
    if (vm == nullptr) {
      kq::WriteLine(log_, kq::text::kJVMIsPassedAsANULL);
      return;
    }
    vm_ = vm;
    void* env = nullptr;
    const jint state = vm_->GetEnv(&env, JNI_VERSION_1_6);
    if (state == JNI_OK && env != nullptr) {
      env_ = static_cast<JNIEnv*>(env);
      return;
    }
    if (state == JNI_EDETACHED) {
      JNIEnv* attachedEnv = nullptr;
      if (vm_->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&attachedEnv), nullptr) == JNI_OK &&
          attachedEnv != nullptr) {
        env_ = attachedEnv;
        attached_ = true;
        return;
      }
    }
    kq::WriteLine(log_, kq::text::kThreadIsNotAttachedProperly);
    env_ = nullptr;
  } catch (...) {
    env_ = nullptr;
    kq::WriteLine(log_, kq::text::kExceptionIsOccuredInTheAutoAttachJVM);
  }
}

AutoAttachJVM::~AutoAttachJVM() {
  if (attached_ && vm_ != nullptr) vm_->DetachCurrentThread();
}
