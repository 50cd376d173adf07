// Everything a command needs to reach storage: the Java VM, the plug-in
// instance and kqhost's object layer, set up in that order.
#ifndef KQHOST_HOST_H_
#define KQHOST_HOST_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClassArchive.h"
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
  // Small files (at most kSmallFile bytes) moved at once, beside the `threads` lane of larger ones: each waits a
  // round trip, not for bytes, so a far link needs many in flight (at most an eighth of the VM's heap of arrays).
  unsigned smallThreads = 16;
  bool showProgress = false;
  // Backup: the optimising compiler is kept for MD5; every other command runs on the quick one only (see Host.cpp).
  bool sendsData = false;
  // Restore and verify: the class archive is recorded by a run that reads data (see ClassArchive.h).
  bool readsData = false;
};

// The bytes per plug-in call and per stored block kqhost accepts.
inline constexpr uint64_t kMinBlockSize = 1024;
inline constexpr uint64_t kMaxBlockSize = 256u << 20;

// The value of an item of a connection string, found as the library finds
// it: items split at ';', the name before the first '=', name and value
// trimmed, the name compared without regard to case.  nullopt when absent.
std::optional<std::string> ConnectionItem(const std::string& connection, const std::string& name);

// Reconciles the Container= and BlockSize= items a user wrote into the
// connection string with --container (or KQHOST_CONTAINER) and --block-size:
// the item wins, and is taken into *options, unless the matching option was
// also given with another value.  Returns why they cannot both hold (empty
// when they can).  The text names the items and options, never the string,
// which holds the key.
std::string ReconcileConnectionItems(HostOptions* options, bool blockSizeGiven);

// The text handed to InitLibrary: the connection string with the library's
// own Container=, BlockSize= and ListLength= items appended unless the string
// has them already.  Throws std::runtime_error when the options disagree with
// the string's own items or the container name would add items of its own.
std::string InitArgument(const HostOptions& options);

// How many of `requested` threads, each moving blocks of `blockSize` bytes,
// fit a Java heap of `maxHeap` bytes: every call in flight holds one array of
// a block in the heap, the library's own buffers may take a quarter of it and
// its requests and the collector need about half, so the calls' arrays get a
// quarter (measured: a restore of 8 MiB blocks under -Xmx64m peaks at 60 MiB
// with one thread and fits two, not four).  At least 1; `requested` when the
// heap is unknown (maxHeap <= 0).
unsigned ThreadsThatFit(unsigned requested, uint64_t blockSize, int64_t maxHeap);

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
  // ThreadsThatFit for the VM this host started (`requested` for an instance
  // someone else made).
  unsigned Threads(unsigned requested) const;
  int64_t maxHeap() const { return maxHeap_; }

 private:
  ICloudPluginInterface* external_ = nullptr;
  ClassArchive archive_;
  std::unique_ptr<Jvm> jvm_;
  std::unique_ptr<PluginInstance> plugin_;
  std::unique_ptr<ObjectStore> store_;
  uint64_t blockSize_ = 0;
  int64_t maxHeap_ = -1;
};

using HostFactory = std::function<std::unique_ptr<Host>(const HostOptions&)>;

}  // namespace kqhost

#endif  // KQHOST_HOST_H_
