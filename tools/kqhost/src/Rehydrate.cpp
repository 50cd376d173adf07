#include "Rehydrate.h"

#include <exception>
#include <utility>
#include <vector>

#include "Console.h"
#include "ObjectMeta.h"
#include "Plugin.h"
#include "Text.h"

namespace kqhost {

int RunRehydrate(const HostOptions& options, const std::string& prefix, const HostFactory& hosts) {
  std::unique_ptr<Host> host;
  try {
    host = hosts(options);
  } catch (const std::exception& e) {
    Console::Error(std::string("restore --rehydrate: ") + e.what());
    return kExitSetup;
  }
  const std::string normalized = NormalizePrefix(prefix);
  std::vector<StoredObject> objects;
  try {
    objects = host->store().List(normalized);
  } catch (const std::exception& e) {
    Console::Error("restore --rehydrate: cannot list '" + normalized + "': " + e.what());
    return kExitFailed;
  }
  if (objects.empty()) {
    Console::Error("restore --rehydrate: no objects under '" + normalized + "' (wrong --prefix or container?)");
    return kExitFailed;
  }
  const WString property = *Utf8ToWide(kRehydrateProperty);
  const WString hot = *Utf8ToWide("Hot");
  size_t failed = 0;
  for (const auto& object : objects) {
    auto name = Utf8ToWide(object.name);
    uint32_t code = name ? host->plugin()->SetObjectMetaData(*name, {property, PluginValueRecord{hot, 0}}) : 7u;
    if (code != 0) {
      Console::Error("restore --rehydrate: " + object.name + ": plug-in code " + DescribeCode(code));
      ++failed;
    }
  }
  Console::Out("restore --rehydrate: asked for " + std::to_string(objects.size() - failed) + " of " +
               std::to_string(objects.size()) +
               " objects; Azure brings archived objects back within hours, then run restore again");
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace kqhost
