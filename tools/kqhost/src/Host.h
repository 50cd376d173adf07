// Everything a command needs to reach storage: the Java VM, the plug-in
// instance and kqhost's object layer, set up in that order.
#ifndef KQHOST_HOST_H_
#define KQHOST_HOST_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Jvm.h"
#include "ObjectStore.h"
#include "Plugin.h"

namespace kqhost {

struct HostOptions {
  std::filesystem::path pluginPath;
  std::filesystem::path javaLibDir;
  std::filesystem::path javaHome;  // the Java installation whose VM runs the library; empty: the build's
  std::filesystem::path installRoot;
  std::string connection;  // holds the account key: never printed
  std::string container;   // empty: the library's default
  uint64_t blockSize = 8u << 20;
  std::vector<std::string> jvmOptions;
  std::vector<std::filesystem::path> extraClassPath;  // after the library's jars
  unsigned threads = 2;
  bool showProgress = false;
};

// The text handed to InitLibrary: the connection string with the library's
// own Container= and BlockSize= items appended.
std::string InitArgument(const HostOptions& options);

class Host {
 public:
  // Starts the VM, loads the plug-in and initialises it.  Throws
  // std::runtime_error (a plain message) or PluginError.
  explicit Host(const HostOptions& options);
  // Drives an instance that someone else made and keeps (tests use an
  // in-process stand-in for the plug-in).
  Host(ICloudPluginInterface* plugin, size_t blockSize);
  ~Host();

  ICloudPluginInterface* plugin() const { return external_ != nullptr ? external_ : plugin_->get(); }
  ObjectStore& store() { return *store_; }

 private:
  ICloudPluginInterface* external_ = nullptr;
  std::unique_ptr<Jvm> jvm_;
  std::unique_ptr<PluginInstance> plugin_;
  std::unique_ptr<ObjectStore> store_;
};

using HostFactory = std::function<std::unique_ptr<Host>(const HostOptions&)>;

}  // namespace kqhost

#endif  // KQHOST_HOST_H_
