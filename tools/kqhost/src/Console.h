// Serialised output for several worker threads, and the progress line.
#ifndef KQHOST_CONSOLE_H_
#define KQHOST_CONSOLE_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace kqhost {

// Messages go through here so that they never tear each other or the
// progress line: an error first wipes the line, which is redrawn on the next tick.
class Console {
 public:
  static void Error(const std::string& message);  // "kqhost: <message>" on stderr
  static void Out(const std::string& line);       // a line on stdout
  static void Progress(const std::string& line);  // redraws the terminal line (no newline)
  static void ClearProgress();
  // Drops Out lines (errors still show); for callers that time the commands.
  static void SetQuiet(bool quiet);
};

// Counts work done and, when enabled, redraws "files a/b, bytes, MB/s, ETA"
// about four times a second from its own thread.
class ProgressMeter {
 public:
  ProgressMeter(const char* verb, uint64_t totalFiles, uint64_t totalBytes, bool show);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  void AddBytes(uint64_t n) { bytes_.fetch_add(n, std::memory_order_relaxed); }
  void FileDone() { files_.fetch_add(1, std::memory_order_relaxed); }
  // Stops the redraw thread and wipes the line.  Idempotent.
  void Stop();

  uint64_t Bytes() const { return bytes_.load(); }
  double ElapsedSeconds() const;

 private:
  void Loop();
  std::string Line() const;

  const char* verb_;
  uint64_t totalFiles_, totalBytes_;
  std::atomic<uint64_t> files_{0}, bytes_{0};
  std::chrono::steady_clock::time_point start_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kqhost

#endif  // KQHOST_CONSOLE_H_
