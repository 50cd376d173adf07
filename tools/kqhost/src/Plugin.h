// Loads the plug-in library by path and holds one initialised instance.
#ifndef KQHOST_PLUGIN_H_
#define KQHOST_PLUGIN_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "HostOs.h"
#include "kq/CloudPluginInterface.h"

namespace kqhost {

// A plug-in return code with a readable name: "47 (INTERNAL_ERROR)".
std::string DescribeCode(uint32_t code);

// A failed plug-in operation.  what() reads "<operation> failed: plug-in code N (NAME)".
class PluginError : public std::runtime_error {
 public:
  PluginError(const std::string& operation, uint32_t code);
  PluginError(const std::string& operation, uint32_t code, const std::string& detail);
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};

class PluginInstance {
 public:
  // Loads the library, calls CreateInstance(installRoot, jvm).  Throws
  // std::runtime_error with a plain message on failure.
  PluginInstance(const std::filesystem::path& library, const std::filesystem::path& installRoot, JavaVM* vm);
  // DeInit (when InitLibrary succeeded) and Release; the library stays loaded.
  ~PluginInstance();
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  // InitLibrary with the connection string; throws PluginError.  The text
  // itself never appears in a message.
  void Init(const std::string& connection);

  ICloudPluginInterface* operator->() const { return plugin_; }
  ICloudPluginInterface* get() const { return plugin_; }

 private:
  SharedLibrary library_;
  JavaVM* vm_;
  JavaVM** vmLocation_;
  ICloudPluginInterface* plugin_ = nullptr;
  bool initialised_ = false;
};

}  // namespace kqhost

#endif  // KQHOST_PLUGIN_H_
