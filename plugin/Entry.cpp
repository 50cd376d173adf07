// The plug-in's one exported function.
#include <new>

#include "kq/CloudPluginInterface.h"
#include "plugin/KQAzureCommunicationMgr.h"

extern "C" KQ_PLUGIN_API ICloudPluginInterface* KQ_CDECL CreateInstance(WString installPath, JavaVM*** jvmHandle) {
  // Null only when the instance cannot be allocated; everything else that
  // fails shows later in the log and in the operations' codes.
  return new (std::nothrow) KQAzureCommunicationMgr(installPath, jvmHandle);
}
