// restore --rehydrate: asks storage to bring archived objects back online.
#ifndef KQHOST_REHYDRATE_H_
#define KQHOST_REHYDRATE_H_

#include <string>

#include "Commands.h"

namespace kqhost {

// The object property the Java library treats as a rehydration request (value: the tier to return to).
inline constexpr const char* kRehydrateProperty = "kq.rehydrate";

// Asks for every object under the prefix to be rehydrated to the Hot tier and returns at once: Azure takes
// hours, after which a plain restore reads the objects.  An object that is not archived just moves to Hot.
int RunRehydrate(const HostOptions& options, const std::string& prefix, const HostFactory& hosts = StartRealHost);

}  // namespace kqhost

#endif  // KQHOST_REHYDRATE_H_
