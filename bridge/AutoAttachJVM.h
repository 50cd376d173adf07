// Gives the calling host thread a JNIEnv for the length of one bridge call.
#ifndef KQ_BRIDGE_AUTOATTACHJVM_H_
#define KQ_BRIDGE_AUTOATTACHJVM_H_

#include <jni.h>

class CJNIWrapperLog;

// A thread that is not attached to the VM is attached as a daemon for the
// scope and detached at its end.  A thread that the host has already attached
// is used as it is and left attached: the host may have Java frames on it,
// and detaching it would pull the VM out from under them.
class AutoAttachJVM {
 public:
  AutoAttachJVM(JavaVM* vm, CJNIWrapperLog* log) noexcept;
  ~AutoAttachJVM();
  AutoAttachJVM(const AutoAttachJVM&) = delete;
  AutoAttachJVM& operator=(const AutoAttachJVM&) = delete;

  // The thread's environment, or null when the thread could not be attached.
  JNIEnv* env() const noexcept { return env_; }
  // True when this scope attached the thread (and so will detach it).
  bool attached() const noexcept { return attached_; }

 private:
  JavaVM* vm_;
  CJNIWrapperLog* log_;
  JNIEnv* env_;
  bool attached_;
};

#endif  // KQ_BRIDGE_AUTOATTACHJVM_H_
