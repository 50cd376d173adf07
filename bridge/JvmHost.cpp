// Placeholder until the JVM holder lands: records nothing, hands out nothing.
#include "bridge/JvmHost.h"

#include "bridge/JniWrapper.h"

CJVMHost& CJVMHost::Instance() {
  static CJVMHost host;
  return host;
}

void CJVMHost::RegisterVM(JavaVM* /*vm*/) {}

uint32_t CJVMHost::AcquireJVM(const WString& /*installPath*/, JavaVM** /*out*/) { return KQ_BRIDGE_FAILURE; }

int CJNIWrapper::InitialiseCommunication(WString /*installPath*/) { return 0; }
