// The frame the commands share: starting the host, the run over a list of
// items with its meter, lanes and summary, and the checks and deletes more
// than one command needs.  Internal to the commands; main.cpp uses Commands.h.
#ifndef KQHOST_COMMANDRUN_H_
#define KQHOST_COMMANDRUN_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "Interrupt.h"
#include "ObjectStore.h"
#include "Text.h"
#include "WorkQueue.h"

namespace kqhost {
namespace detail {

// Starts the host, reporting a failure under `command`; null then.
std::unique_ptr<Host> StartHost(const HostFactory& hosts, const HostOptions& options, const char* command);

// Decides when a run stops handing out work: on Ctrl-C, or once storage has
// stopped answering (every further file would only wait for its retries).
class RunControl {
 public:
  RunControl(ICloudPluginInterface* plugin, const char* command) : plugin_(plugin), command_(command) {}

  bool Cancelled() const { return InterruptRequested() || unreachable_.load(); }
  bool Unreachable() const { return unreachable_.load(); }

  // Called after an item failed: asks the plug-in whether storage still answers.
  void AfterFailure();

 private:
  ICloudPluginInterface* plugin_;
  const char* command_;
  std::mutex mu_;
  std::atomic<bool> unreachable_{false};
  std::atomic<bool> memoryReported_{false};
};

// The threads of a run: as many of --threads as the VM's heap holds blocks for.
unsigned RunThreads(const Host& host, const HostOptions& options, const char* command);

struct Tally {
  std::atomic<uint64_t> done{0}, failed{0}, bytes{0};
};

std::string Count(uint64_t n, const char* noun);

// One backup, restore or verify over a list of items: the progress meter,
// the early stop, the counts and the summary line.
class Run {
 public:
  Run(const char* command, ICloudPluginInterface* plugin, uint64_t items, uint64_t bytes, bool showProgress)
      : command_(command), items_(items), meter_(command, items, bytes, showProgress), control_(plugin, command) {}

  ProgressMeter& meter() { return meter_; }
  // After Items: whether any item failed or was never tried.
  bool AnyFailed() const { return tally_.failed.load() > 0 || tally_.done.load() < items_; }
  std::function<bool()> Cancelled() {
    return [this] { return control_.Cancelled(); };
  }

  // Runs work(k) for every item on `threads` threads.  work returns the
  // bytes it handled; a throw is that item's failure, reported under label(k).
  template <typename Work, typename Label> void Items(unsigned threads, Work work, Label label) {
    RunParallel(
        items_, threads, [&](size_t k) { One(k, work, label); }, Cancelled());
  }

  // As Items, in two lanes at once: the items small(k) names on `smallThreads`
  // threads, the others on `threads`, each lane in the items' order.  A small
  // item waits a round trip rather than for bytes, so many go at once.
  // Either lane stops handing out work on Ctrl-C or once storage stops answering.
  template <typename Work, typename Label, typename Small>
  void Lanes(unsigned threads, unsigned smallThreads, Small small, Work work, Label label) {
    std::vector<size_t> large, little;
    for (size_t k = 0; k < items_; ++k) (small(k) ? little : large).push_back(k);
    // A few small files gain nothing from a lane of their own: they take their turn after the large ones.
    if (little.size() <= threads) return Items(threads, work, label);
    auto lane = [&](const std::vector<size_t>& items, unsigned n) {
      RunParallel(
          items.size(), n, [&](size_t i) { One(items[i], work, label); }, Cancelled());
    };
    std::thread largeLane;
    if (!large.empty()) largeLane = std::thread([&] { lane(large, threads); });
    lane(little, smallThreads);
    if (largeLane.joinable()) largeLane.join();
  }

  // "backup: 12 files, 200.1 MB in 4.30 s (46.5 MB/s)" plus what went wrong;
  // returns the exit status.  `refused` counts items failed before the run;
  // `notes` are shown after the counts ("3 unchanged").
  int Finish(const char* noun, uint64_t refused, const std::vector<std::string>& notes = {});

 private:
  template <typename Work, typename Label> void One(size_t k, Work& work, Label& label) {
    try {
      WorkInProgress busy(Printable(label(k)));
      tally_.bytes += work(k);
      ++tally_.done;
      meter_.FileDone();
    } catch (const std::exception& e) {
      ++tally_.failed;
      Console::Error(std::string(command_) + ": " + Printable(label(k)) + ": " + e.what());
      control_.AfterFailure();
    }
  }

  const char* command_;
  uint64_t items_;
  ProgressMeter meter_;
  RunControl control_;
  Tally tally_;
};

// Refuses a prefix the store cannot hold as it is, with the reason.
bool PrefixUsable(const char* command, const std::string& prefix);

// Files up to this size go in the lane of small ones (HostOptions::smallThreads).
constexpr uint64_t kSmallFile = 1u << 20;

// The small lane's arrays (up to kSmallFile each) draw on an eighth of the VM's heap, beside the quarter the
// larger files' blocks may take: -Xmx64m moves 8 small files at once, -Xmx256m the default 16.
unsigned SmallThreads(const Host& host, const HostOptions& options);

// Deletes the named objects, `threads` at once; each failure is reported
// under `command` with the object's name.  Answers the number that failed;
// `deleted` gets the number deleted (an interrupt leaves the rest untried).
uint64_t DeleteAll(ObjectStore& store, const std::vector<std::string>& names, unsigned threads, const char* command,
                   uint64_t* deleted);

// Lists the objects under a prefix, reporting a failure as a message.
bool ListObjects(Host& host, const char* command, const std::string& prefix, std::vector<StoredObject>* out);

}  // namespace detail
}  // namespace kqhost

#endif  // KQHOST_COMMANDRUN_H_
