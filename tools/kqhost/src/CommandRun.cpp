#include "CommandRun.h"

#include <exception>

#include "ObjectMeta.h"
#include "Plugin.h"

namespace kqhost {

std::unique_ptr<Host> StartRealHost(const HostOptions& options) { return std::make_unique<Host>(options); }

namespace detail {

std::unique_ptr<Host> StartHost(const HostFactory& hosts, const HostOptions& options, const char* command) {
  try {
    return hosts(options);
  } catch (const std::exception& e) {
    Console::Error(std::string(command) + ": " + e.what());
    return nullptr;
  }
}

void RunControl::AfterFailure() {
  std::lock_guard<std::mutex> lock(mu_);
  if (unreachable_.load() || InterruptRequested()) return;
  uint32_t rc = plugin_->CheckConnectivity();
  if (rc == KQ_OUT_OF_MEMORY || rc == KQ_ARRAY_NOT_MADE || rc == KQ_BUFFER_UNAVAILABLE) {
    // The check itself ran out of memory: that says nothing about storage,
    // and the files still to come may well fit once the heap has room.
    if (!memoryReported_.exchange(true))
      Console::Error(std::string(command_) + ": the Java VM is short of memory (CheckConnectivity: plug-in code " +
                     DescribeCode(rc) + "); going on with the other files");
    return;
  }
  if (rc != KQ_OK) {
    unreachable_.store(true);
    Console::Error(std::string(command_) + ": storage does not answer (CheckConnectivity: plug-in code " +
                   DescribeCode(rc) + "); stopping");
  }
}

unsigned RunThreads(const Host& host, const HostOptions& options, const char* command) {
  unsigned threads = host.Threads(options.threads);
  if (threads < options.threads)
    Console::Error(std::string(command) + ": note: " + std::to_string(options.threads) + " threads of " +
                   FormatBytes(options.blockSize) + " blocks do not fit the Java VM's heap of " +
                   FormatBytes(static_cast<uint64_t>(host.maxHeap())) + "; using " + std::to_string(threads));
  return threads;
}

std::string Count(uint64_t n, const char* noun) { return std::to_string(n) + " " + noun + (n == 1 ? "" : "s"); }

int Run::Finish(const char* noun, uint64_t refused, const std::vector<std::string>& notes) {
  meter_.Stop();
  const double seconds = meter_.ElapsedSeconds();
  uint64_t failed = tally_.failed.load() + refused;
  uint64_t notTried = items_ - std::min<uint64_t>(items_, tally_.done.load() + tally_.failed.load());
  std::string line = std::string(command_) + ": " + Count(tally_.done.load(), noun) + ", " +
                     FormatBytes(tally_.bytes.load()) + " in " + FormatSeconds(seconds) + " (" +
                     FormatRate(tally_.bytes.load(), seconds) + ")";
  for (const auto& note : notes) line += ", " + note;
  if (failed > 0) line += ", " + std::to_string(failed) + " failed";
  if (notTried > 0) line += ", " + std::to_string(notTried) + " not attempted";
  Console::Out(line);
  if (InterruptRequested()) {
    Console::Error(std::string(command_) + ": interrupted");
    return kExitInterrupted;
  }
  if (failed > 0 || notTried > 0 || control_.Unreachable()) {
    Console::Error(std::string(command_) + ": FAILED");
    return kExitFailed;
  }
  return kExitOk;
}

bool PrefixUsable(const char* command, const std::string& prefix) {
  std::string problem = CheckPrefix(prefix);
  if (problem.empty()) return true;
  Console::Error(std::string(command) + ": --prefix '" + Printable(prefix) + "': " + problem);
  return false;
}

unsigned SmallThreads(const Host& host, const HostOptions& options) {
  return ThreadsThatFit(options.smallThreads, kSmallFile, host.maxHeap() / 2);
}

uint64_t DeleteAll(ObjectStore& store, const std::vector<std::string>& names, unsigned threads, const char* command,
                   uint64_t* deleted) {
  std::atomic<uint64_t> failed{0}, done{0};
  RunParallel(
      names.size(), threads,
      [&](size_t k) {
        try {
          store.Delete(names[k]);
          ++done;
        } catch (const std::exception& e) {
          Console::Error(std::string(command) + ": " + Printable(names[k]) + ": " + e.what());
          ++failed;
        }
      },
      [] { return InterruptRequested(); });
  *deleted = done.load();
  return failed.load();
}

bool ListObjects(Host& host, const char* command, const std::string& prefix, std::vector<StoredObject>* out) {
  try {
    *out = host.store().List(prefix);
    return true;
  } catch (const std::exception& e) {
    Console::Error(std::string(command) + ": cannot list '" + Printable(prefix) + "': " + e.what());
    return false;
  }
}

}  // namespace detail
}  // namespace kqhost
