#include "Host.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "HostOs.h"
#include "ObjectMeta.h"
#include "Text.h"

namespace kqhost {

namespace {

std::string_view Trimmed(std::string_view text) {
  // As Java's String.trim(): every character up to the space.
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A block size as the library reads it (a decimal number, '+' allowed) and kqhost can use.
std::optional<uint64_t> ParseBlockSizeItem(const std::string& text) {
  std::string_view digits(text);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  auto value = ParseSize(digits);
  if (!value || *value < kMinBlockSize || *value > kMaxBlockSize) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> ConnectionItem(const std::string& connection, const std::string& name) {
  size_t start = 0;
  while (start <= connection.size()) {
    size_t end = connection.find(';', start);
    if (end == std::string::npos) end = connection.size();
    std::string_view item = std::string_view(connection).substr(start, end - start);
    size_t eq = item.find('=');
    if (eq != std::string_view::npos && SameNameIgnoringCase(Trimmed(item.substr(0, eq)), name))
      return std::string(Trimmed(item.substr(eq + 1)));
    start = end + 1;
  }
  return std::nullopt;
}

std::string ReconcileConnectionItems(HostOptions* options, bool blockSizeGiven) {
  if (auto container = ConnectionItem(options->connection, "Container")) {
    std::string problem = CheckContainerName(*container);
    if (!problem.empty()) return "the connection string's Container item: " + problem;
    if (!options->container.empty() && options->container != *container)
      return "the connection string says Container=" + *container + " but --container (or KQHOST_CONTAINER) says " +
             options->container + "; give one of them, or the same name in both";
    options->container = *container;
  }
  if (auto text = ConnectionItem(options->connection, "BlockSize")) {
    auto size = ParseBlockSizeItem(*text);
    if (!size)
      return "the connection string's BlockSize item is not a number of bytes between " +
             std::to_string(kMinBlockSize) + " and " + std::to_string(kMaxBlockSize);
    if (blockSizeGiven && options->blockSize != *size)
      return "the connection string says BlockSize=" + std::to_string(*size) + " but --block-size says " +
             std::to_string(options->blockSize) + "; give one of them, or the same size in both";
    options->blockSize = *size;
  }
  return "";
}

std::string InitArgument(const HostOptions& options) {
  // The container goes into the configuration string: a name with ';' or
  // '=' would add items of its own (another endpoint, say).
  if (!options.container.empty()) {
    std::string problem = CheckContainerName(options.container);
    if (!problem.empty()) throw std::runtime_error("--container " + problem);
  }
  HostOptions agreed = options;
  std::string conflict = ReconcileConnectionItems(&agreed, true);
  if (!conflict.empty()) throw std::runtime_error(conflict);
  // The library never picks the development store by itself: without a connection string, ask for it.
  std::string arg = options.connection.empty() ? "UseDevelopmentStorage=true" : options.connection;
  auto add = [&arg](const char* name, const std::string& value) {
    if (ConnectionItem(arg, name)) return;  // the user's own item stands; the library refuses one twice
    if (!arg.empty() && arg.back() != ';') arg.push_back(';');
    arg += std::string(name) + "=" + value;
  };
  if (!options.container.empty()) add("Container", options.container);
  add("BlockSize", std::to_string(options.blockSize));
  // Listings carry each object's real length, which ls -l shows beside the recorded size.
  add("ListLength", "true");
  return arg;
}

namespace {

bool HasOptionStartingWith(const std::vector<std::string>& options, const std::string& start) {
  for (const auto& o : options)
    if (o.compare(0, start.size(), start) == 0) return true;
  return false;
}

// A file the VM reads as it starts, in the installation root, which several kqhost runs may share: written aside
// and renamed into place, and only when its text changed, so that a VM starting beside this run never reads half
// of it. Empty when it cannot be written.
std::filesystem::path WriteVmFile(const std::filesystem::path& file, const std::string& text) {
  {
    std::ifstream in(file, std::ios::binary);
    std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in && old == text) return file;
  }
  std::filesystem::path part = file;
  part += "." + std::to_string(ProcessId());
  std::error_code ec;
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) ec = std::make_error_code(std::errc::io_error);
  }
  if (!ec) std::filesystem::rename(part, file, ec);
  if (!ec) return file;
  std::filesystem::remove(part, ec);
  return {};
}

// The library logs through java.util.logging, whose default console handler
// would mix INFO lines into kqhost's output: keep warnings and worse.
constexpr char kLoggingConfig[] =
    "handlers=java.util.logging.ConsoleHandler\n"
    ".level=WARNING\n"
    "java.util.logging.ConsoleHandler.level=WARNING\n"
    "java.util.logging.SimpleFormatter.format=java: %4$s: %5$s%6$s%n\n";

// The optimising compiler for the MD5 digest alone: only it makes MD5 fast (620 MB/s against 330 MB/s on the quick
// one, Java 17 here), while on the rest of the library it spent more CPU compiling than its code saved (1.2 s of a
// 512 MiB backup's 5.1 s). Compiler directives came with Java 9; Java 8 keeps the VM's default.
constexpr char kSendCompilerDirectives[] =
    "[ { match: [\"sun/security/provider/MD5.*\", \"sun/security/provider/DigestBase.*\"], c2: { Exclude: false } },\n"
    "  { match: \"*.*\", c2: { Exclude: true } } ]\n";

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
    auto config = WriteVmFile(options.installRoot / "kqhost-logging.properties", kLoggingConfig);
    if (!config.empty()) jvmOptions.push_back("-Djava.util.logging.config.file=" + config.u8string());
  }
  // -Xrs leaves Ctrl-C to kqhost, which stops between chunks and never
  // commits a half-sent object, instead of the VM exiting under it.
  jvmOptions.push_back("-Xrs");
  // Every command but backup runs on the quick compiler alone: its Java work is starting up, a few requests, copies
  // and CRC32C, which that compiler makes as fast as the optimising one, whose own compiling then only costs CPU
  // (1.5-2 s for a 512 MiB restore on a machine whose cores the transfer needs; 0.8 s of a listing's 2 s). A backup
  // also hashes every byte it sends with MD5: the optimising compiler is kept for that alone. A --jvm-option naming
  // the compiler wins.
  const std::filesystem::path javaHome = ResolvedJavaHome(options.javaHome);
  if (!HasOptionStartingWith(options.jvmOptions, "-XX:TieredStopAtLevel") &&
      !HasOptionStartingWith(options.jvmOptions, "-XX:-TieredCompilation") &&
      !HasOptionStartingWith(options.jvmOptions, "-XX:+TieredCompilation") &&
      !HasOptionStartingWith(options.jvmOptions, "-XX:CompilerDirectivesFile")) {
    if (!options.sendsData) {
      jvmOptions.push_back("-XX:TieredStopAtLevel=1");
    } else if (JavaFeatureVersion(javaHome) >= 9) {
      auto directives = WriteVmFile(options.installRoot / "kqhost-backup-compiler.json", kSendCompilerDirectives);
      if (!directives.empty()) {
        // Quiet: the VM would print that it took them into kqhost's output. Its errors and warnings still show.
        jvmOptions.push_back("-XX:+UnlockDiagnosticVMOptions");
        jvmOptions.push_back("-XX:-DisplayVMOutput");
        jvmOptions.push_back("-XX:CompilerDirectivesFile=" + directives.u8string());
      }
    }
  }
  // The class archive stays out of the way of any archive option of the caller's own.
  if (!HasOptionStartingWith(options.jvmOptions, "-Xshare") &&
      !HasOptionStartingWith(options.jvmOptions, "-XX:SharedArchiveFile") &&
      !HasOptionStartingWith(options.jvmOptions, "-XX:DumpLoadedClassList") &&
      !HasOptionStartingWith(options.jvmOptions, "-XX:ArchiveClassesAtExit")) {
    archive_ = ClassArchive(UserCacheDir(), javaHome, jars, options.readsData);
    for (auto& option : archive_.VmOptions()) jvmOptions.push_back(option);
  }
  jvmOptions.insert(jvmOptions.end(), options.jvmOptions.begin(), options.jvmOptions.end());
  jvm_ = Jvm::Create(options.javaHome, jars, jvmOptions, &error);
  if (!jvm_) throw std::runtime_error(error);
  maxHeap_ = jvm_->MaxHeapBytes();
  blockSize_ = options.blockSize;

  plugin_ = std::make_unique<PluginInstance>(options.pluginPath, options.installRoot, jvm_->vm());
  plugin_->Init(InitArgument(options));
  store_ = std::make_unique<ObjectStore>(plugin_->get(), static_cast<size_t>(options.blockSize));
}

Host::Host(ICloudPluginInterface* plugin, size_t blockSize)
    : external_(plugin), store_(std::make_unique<ObjectStore>(plugin, blockSize)), blockSize_(blockSize) {}

unsigned Host::Threads(unsigned requested) const { return ThreadsThatFit(requested, blockSize_, maxHeap_); }

unsigned ThreadsThatFit(unsigned requested, uint64_t blockSize, int64_t maxHeap) {
  if (maxHeap <= 0 || blockSize == 0) return requested;
  uint64_t fit = static_cast<uint64_t>(maxHeap) / 4 / blockSize;
  return static_cast<unsigned>(std::max<uint64_t>(1, std::min<uint64_t>(requested, fit)));
}

Host::~Host() {
  store_.reset();
  plugin_.reset();
  // The first run of a VM and class path leaves the archive for the ones after it; a failure only means they
  // start as this one did (the reason is kept beside the archive).
  std::string ignored;
  archive_.MakeIfRecorded(&ignored);
  jvm_.reset();
}

}  // namespace kqhost
