#include "Plugin.h"

#include "Text.h"

namespace kqhost {

namespace {

// The plug-in turns the Java library's error ordinals into these codes;
// 2, 40 and 41 are the plug-in's own.
const char* CodeName(uint32_t code) {
  switch (code) {
    case 0: return "SUCCESS";
    case 1: return "FAILURE";
    case 2: return "no Java bridge in the plug-in";
    case 4: return "OBJECT_NOT_FOUND";
    case 5: return "CONTAINER_NOT_FOUND";
    case 6: return "ACCESS_DENIED";
    case 7: return "INVALID_ARGUMENT";
    case 8: return "AUTHENTICATION_FAILED";
    case 9: return "OBJECT_ALREADY_EXISTS";
    case 10: return "CONTAINER_ALREADY_EXISTS";
    case 11: return "INVALID_HANDLE";
    case 12: return "HANDLE_IN_USE";
    case 13: return "READ_FAILED: object is archived: run restore --rehydrate, then retry in some hours";
    case 14: return "BUFFER_UNAVAILABLE";
    case 15: return "WRITE_FAILED";
    case 16: return "COMMIT_FAILED";
    case 17: return "DELETE_FAILED";
    case 18: return "INVALID_METADATA";
    case 19: return "METADATA_NOT_FOUND";
    case 20: return "NETWORK_ERROR";
    case 21: return "TIMEOUT";
    case 22: return "THROTTLED";
    case 23: return "SERVICE_UNAVAILABLE";
    case 24: return "NOT_SUPPORTED";
    case 25: return "QUOTA_EXCEEDED";
    case 26: return "CONFLICT";
    case 27: return "PRECONDITION_FAILED";
    case 29: return "INVALID_CONNECTION_STRING";
    case 30: return "INVALID_CONFIGURATION";
    case 31: return "INVALID_NAME";
    case 32: return "OFFSET_OUT_OF_RANGE";
    case 33: return "SIZE_MISMATCH";
    case 34: return "INTEGRITY_ERROR";
    case 35: return "ACCOUNT_INFO_UNAVAILABLE";
    case 36: return "STORAGE_KEY_UNAVAILABLE";
    case 37: return "JOB_INFO_REJECTED";
    case 38: return "BACKUP_NOT_ALLOWED";
    case 40: return "bridge failure, see the plug-in log";
    case 41: return "Java byte array could not be made";
    case 42: return "CANCELLED";
    case 43: return "OUT_OF_MEMORY";
    case 45: return "LIBRARY_CLOSED";
    case 46: return "SESSION_CLOSED";
    case 47: return "INTERNAL_ERROR";
    default: return nullptr;
  }
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
