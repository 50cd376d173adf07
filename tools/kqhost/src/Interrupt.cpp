#include "Interrupt.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>
#include <utility>

namespace kqhost {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

// What the watchdog needs after the grace period.  Allocated once and never
// freed: the watchdog may still look at it while the process is exiting.
struct Registry {
  std::timed_mutex mu;
  uint64_t next = 1;
  std::map<uint64_t, std::string> work;
  std::map<uint64_t, std::function<void()> > parts;  // how to remove each partial file
  bool abandoned = false;                            // set when the watchdog has removed the partial files
};

Registry& Reg() {
  static Registry* registry = new Registry;
  return *registry;
}

void Watchdog() {
  while (!g_interrupted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(kInterruptGraceMs));
  // Still running: some call has not come back.  Do not wait for it.
  Registry& r = Reg();
  std::string names;
  size_t count = 0;
  if (r.mu.try_lock_for(std::chrono::milliseconds(200))) {
    r.abandoned = true;
    for (const auto& part : r.parts) part.second();
    for (const auto& item : r.work) {
      if (count < 5) names += (count ? ", " : "") + item.second;
      ++count;
    }
    r.mu.unlock();
  }
  if (count > 0) {
    std::string line = "kqhost: interrupted; abandoned " + std::to_string(count) +
                       (count == 1 ? " transfer" : " transfers") + " still waiting for storage (" + names +
                       (count > 5 ? ", ..." : "") + "); their partial data is discarded\n";
    std::fputs(line.c_str(), stderr);
  } else {
    std::fputs("kqhost: interrupted\n", stderr);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(130);
}

}  // namespace

void InstallInterruptHandler() {
  Reg();
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  std::thread(Watchdog).detach();
}

bool InterruptRequested() { return g_interrupted.load(); }

WorkInProgress::WorkInProgress(std::string label) {
  Registry& r = Reg();
  std::lock_guard<std::timed_mutex> lock(r.mu);
  id_ = r.next++;
  r.work.emplace(id_, std::move(label));
}

WorkInProgress::~WorkInProgress() {
  Registry& r = Reg();
  std::lock_guard<std::timed_mutex> lock(r.mu);
  r.work.erase(id_);
}

PartialFiles::PartialFiles() : lock_(Reg().mu) {}

bool PartialFiles::Interrupted() const { return g_interrupted.load() || Reg().abandoned; }

bool PartialFiles::Abandoned() const { return Reg().abandoned; }

uint64_t PartialFiles::Add(std::function<void()> remove) {
  Registry& r = Reg();
  const uint64_t id = r.next++;
  r.parts.emplace(id, std::move(remove));
  return id;
}

void PartialFiles::Drop(uint64_t id) { Reg().parts.erase(id); }

}  // namespace kqhost
