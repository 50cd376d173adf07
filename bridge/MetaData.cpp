// Object metadata between the host's MetaDataMap and the Java library's
// CPluginMetaData arrays, and the folder sub-lists the plug-in hands out.
#include "bridge/MetaData.h"

#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

namespace kq {

void FreeObjectSubList(ObjectSubList* subList, CJNIWrapperLog* log) noexcept {
  if (subList == nullptr) return;
  try {
    // The list owns its maps; a null map pointer is simply skipped.
    for (auto& entry : *subList) {
      delete entry.second;
      entry.second = nullptr;
    }
    subList->clear();
    delete subList;
  } catch (...) {
    try {
      if (log != nullptr) log->Write(KQ_W("exception is occured in FreeObjectSubListMemory"));
    } catch (...) {
      // Nothing may leave the slot.
    }
  }
}

}  // namespace kq
