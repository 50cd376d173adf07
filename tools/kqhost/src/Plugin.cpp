#include "Plugin.h"

#include "Text.h"

namespace kqhost {

namespace {

// The plug-in's own table names every code it answers.
const char* CodeName(uint32_t code) {
  // An archived object must be brought back before it can be read: say how.
  if (code == KQ_READ_FAILED)
    return "READ_FAILED: object is archived: run restore --rehydrate, then retry in some hours";
  const kq::ReturnCodeInfo* info = kq::FindReturnCode(code);
  if (info == nullptr) return nullptr;
  return info->description != nullptr ? info->description : info->name;
}

}  // namespace

std::string DescribeCode(uint32_t code) {
  const char* name = CodeName(code);
  return std::to_string(code) + (name ? std::string(" (") + name + ")" : std::string());
}

PluginError::PluginError(const std::string& operation, uint32_t code)
    : std::runtime_error(operation + " failed: plug-in code " + DescribeCode(code)), code_(code) {}

PluginError::PluginError(const std::string& operation, uint32_t code, const std::string& detail)
    : std::runtime_error(operation + " failed: plug-in code " + DescribeCode(code) + ", " + detail), code_(code) {}

PluginInstance::PluginInstance(const std::filesystem::path& library, const std::filesystem::path& installRoot,
                               JavaVM* vm)
    : vm_(vm), vmLocation_(&vm_) {
  std::string error;
  if (!library_.Open(library, &error))
    throw std::runtime_error("cannot load the plug-in " + library.u8string() + ": " + error);
  auto create = reinterpret_cast<CreateInstanceFn>(library_.Symbol("CreateInstance", &error));
  if (create == nullptr)
    throw std::runtime_error("the plug-in " + library.u8string() + " exports no CreateInstance: " + error);
  auto root = Utf8ToWide(installRoot.u8string());
  if (!root) throw std::runtime_error("the installation root is not valid UTF-8");
  plugin_ = create(*root, &vmLocation_);
  if (plugin_ == nullptr) throw std::runtime_error("CreateInstance returned no instance");
}

PluginInstance::~PluginInstance() {
  if (plugin_ != nullptr) {
    if (initialised_) plugin_->DeInit();
    plugin_->Release();
  }
  // The plug-in's log writer belongs to the process, not to the instance:
  // unloading the library would pull it from under its own clean-up.
  library_.KeepLoaded();
}

void PluginInstance::Init(const std::string& connection) {
  auto arg = Utf8ToWide(connection);
  if (!arg) throw std::runtime_error("the connection string is not valid UTF-8");
  uint32_t rc = plugin_->InitLibrary(*arg);
  if (rc != KQ_OK) throw PluginError("InitLibrary", rc);
  initialised_ = true;
}

}  // namespace kqhost
