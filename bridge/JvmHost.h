// CJVMHost: the process-wide holder of the host's JavaVM.
#ifndef KQ_BRIDGE_JVMHOST_H_
#define KQ_BRIDGE_JVMHOST_H_

#include <jni.h>

#include <cstdint>

#include "kq/CloudPluginInterface.h"

class CJVMHost {
 public:
  // The one holder of the process, built when the library is loaded.
  static CJVMHost& Instance();

  // Every bridge records the host's VM here; the last one made wins.
  void RegisterVM(JavaVM* vm);
  // 0 when a JavaVM pointer was handed out through `out`; 40 otherwise.
  uint32_t AcquireJVM(const WString& installPath, JavaVM** out);
};

#endif  // KQ_BRIDGE_JVMHOST_H_
