// CJVMHost: the process-wide holder of the host's JavaVM.
//
// The VM belongs to the host; every bridge records it here when it is made.
// The holder also knows how the Java library's class path is composed from
// the plug-in's jar files and prepares the arguments a VM for the library
// would be started with, but it never starts one: acquiring a VM through the
// holder therefore never succeeds, and the working road to Java is the bridge
// made at instance creation with the host's VM.
#ifndef KQ_BRIDGE_JVMHOST_H_
#define KQ_BRIDGE_JVMHOST_H_

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "kq/CloudPluginInterface.h"
#include "platform/Platform.h"

class CJVMHost {
 public:
  // The one holder of the process.  It is built while the library is loaded
  // and destroyed when it is unloaded.
  static CJVMHost& Instance();

  // Tests make their own holders to start from a clean state.
  CJVMHost();
  ~CJVMHost();
  CJVMHost(const CJVMHost&) = delete;
  CJVMHost& operator=(const CJVMHost&) = delete;

  // Every bridge records the host's VM here; the last one made wins.
  void RegisterVM(JavaVM* vm) noexcept;
  // 0 when a JavaVM pointer was handed out through `out`; 40 otherwise.
  // Builds the class path from `installPath` (the installation root) on
  // every attempt that does not already hold the VM.
  uint32_t AcquireJVM(const WString& installPath, JavaVM** out) noexcept;
  // Prepares the start arguments for a VM with the class-path `option` and
  // answers the environment of a VM started by the holder: none, since the
  // plug-in never starts one.
  JNIEnv* CreateJVM(WString option);

  // What the last acquisition built (a copy, taken under the lock).
  WString ClassPath();
  WString InstallDir();
  int32_t RefCount();
  JavaVM* RegisteredVM() const noexcept { return m_vm.load(); }

 private:
  JNIEnv* m_env;
  WString m_installDir;
  WString m_classPath;
  int32_t m_refCount;
  kq::platform::CriticalSection m_lock;
  // Written by bridge constructors without the lock.
  std::atomic<JavaVM*> m_vm;
  // Only created and closed; nothing waits on it.
  kq::platform::NamedMutex m_hMutex;
};

#endif  // KQ_BRIDGE_JVMHOST_H_
