#include "Host.h"

#include <fstream>
#include <system_error>

#include "ObjectMeta.h"

namespace kqhost {

std::string InitArgument(const HostOptions& options) {
  // The container goes into the configuration string: a name with ';' or
  // '=' would add items of its own (another endpoint, say).
  if (!options.container.empty()) {
    std::string problem = CheckContainerName(options.container);
    if (!problem.empty()) throw std::runtime_error("--container " + problem);
  }
  // The library never picks the development store by itself: without a connection string, ask for it.
  std::string arg = options.connection.empty() ? "UseDevelopmentStorage=true" : options.connection;
  auto add = [&arg](const std::string& item) {
    if (!arg.empty() && arg.back() != ';') arg.push_back(';');
    arg += item;
  };
  if (!options.container.empty()) add("Container=" + options.container);
  add("BlockSize=" + std::to_string(options.blockSize));
  return arg;
}

namespace {

bool HasOptionStartingWith(const std::vector<std::string>& options, const std::string& start) {
  for (const auto& o : options)
    if (o.compare(0, start.size(), start) == 0) return true;
  return false;
}

// The library logs through java.util.logging, whose default console handler
// would mix INFO lines into kqhost's output: keep warnings and worse.
std::filesystem::path WriteLoggingConfig(const std::filesystem::path& folder) {
  std::filesystem::path file = folder / "kqhost-logging.properties";
  std::ofstream out(file, std::ios::trunc);
  out << "handlers=java.util.logging.ConsoleHandler\n"
         ".level=WARNING\n"
         "java.util.logging.ConsoleHandler.level=WARNING\n"
         "java.util.logging.SimpleFormatter.format=java: %4$s: %5$s%6$s%n\n";
  return out ? file : std::filesystem::path();
}

}  // namespace

Host::Host(const HostOptions& options) {
  std::string error;
  auto jars = LibraryJars(options.javaLibDir, &error);
  if (jars.empty()) throw std::runtime_error(error);

  // The plug-in makes only the last level of <root>/Plugin/Azure/Log itself.
  std::error_code ec;
  std::filesystem::create_directories(options.installRoot / "Plugin" / "Azure", ec);
  if (ec)
    throw std::runtime_error("cannot create the installation root " + options.installRoot.u8string() + ": " +
                             ec.message());

  std::vector<std::string> jvmOptions;
  jars.insert(jars.end(), options.extraClassPath.begin(), options.extraClassPath.end());
  if (!HasOptionStartingWith(options.jvmOptions, "-Djava.util.logging.config.file=")) {
    auto config = WriteLoggingConfig(options.installRoot);
    if (!config.empty()) jvmOptions.push_back("-Djava.util.logging.config.file=" + config.u8string());
  }
  // -Xrs leaves Ctrl-C to kqhost, which stops between chunks and never
  // commits a half-sent object, instead of the VM exiting under it.
  jvmOptions.push_back("-Xrs");
  jvmOptions.insert(jvmOptions.end(), options.jvmOptions.begin(), options.jvmOptions.end());
  jvm_ = Jvm::Create(options.javaHome, jars, jvmOptions, &error);
  if (!jvm_) throw std::runtime_error(error);

  plugin_ = std::make_unique<PluginInstance>(options.pluginPath, options.installRoot, jvm_->vm());
  plugin_->Init(InitArgument(options));
  store_ = std::make_unique<ObjectStore>(plugin_->get(), static_cast<size_t>(options.blockSize));
}

Host::Host(ICloudPluginInterface* plugin, size_t blockSize)
    : external_(plugin), store_(std::make_unique<ObjectStore>(plugin, blockSize)) {}

Host::~Host() {
  store_.reset();
  plugin_.reset();
  jvm_.reset();
}

}  // namespace kqhost
