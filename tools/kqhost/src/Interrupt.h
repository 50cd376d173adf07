// Ctrl-C and SIGTERM for kqhost, and what it abandons when a call does not
// come back in time.  Plain standard C++: the same on every system.
#ifndef KQHOST_INTERRUPT_H_
#define KQHOST_INTERRUPT_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace kqhost {

// Ctrl-C and SIGTERM only raise a flag: transfers stop between chunks and
// no new work is handed out.  A watchdog thread then gives the calls still
// running kInterruptGraceMs to return; if they have not (a request stalled
// inside the library), it removes the partial files it knows of, names the
// work it abandons and ends the process with status 130 without waiting.
// Write sessions cut off that way are never committed.
inline constexpr int kInterruptGraceMs = 1000;
void InstallInterruptHandler();
bool InterruptRequested();

// Work in progress, named in the message of an abandoned run.
class WorkInProgress {
 public:
  explicit WorkInProgress(std::string label);
  ~WorkInProgress();
  WorkInProgress(const WorkInProgress&) = delete;
  WorkInProgress& operator=(const WorkInProgress&) = delete;

 private:
  uint64_t id_;
};

// The partial files of restores in progress, which the watchdog removes
// when it abandons the run.  An instance holds the registry's lock for its
// scope, so a check of the interrupt and the step it guards (creating a
// partial file, moving one into place) cannot interleave with the watchdog.
class PartialFiles {
 public:
  PartialFiles();
  PartialFiles(const PartialFiles&) = delete;
  PartialFiles& operator=(const PartialFiles&) = delete;

  // Whether the run was interrupted, or the watchdog removed the partial
  // files already.
  bool Interrupted() const;
  bool Abandoned() const;
  // `remove` deletes the partial file; it runs on the watchdog's thread.
  uint64_t Add(std::function<void()> remove);
  void Drop(uint64_t id);

 private:
  std::lock_guard<std::timed_mutex> lock_;
};

}  // namespace kqhost

#endif  // KQHOST_INTERRUPT_H_
