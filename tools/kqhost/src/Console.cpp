#include "Console.h"

#include <cstdio>

#include "Text.h"

namespace kqhost {

namespace {
std::mutex g_out;
size_t g_progressWidth = 0;  // characters of progress line now on screen
bool g_quiet = false;

void WipeLocked() {
  if (g_progressWidth == 0) return;
  std::fprintf(stdout, "\r%*s\r", static_cast<int>(g_progressWidth), "");
  std::fflush(stdout);
  g_progressWidth = 0;
}
}  // namespace

void Console::Error(const std::string& message) {
  std::lock_guard<std::mutex> lock(g_out);
  WipeLocked();
  std::fprintf(stderr, "kqhost: %s\n", message.c_str());
  std::fflush(stderr);
}

void Console::SetQuiet(bool quiet) {
  std::lock_guard<std::mutex> lock(g_out);
  g_quiet = quiet;
}

void Console::Out(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_out);
  if (g_quiet) return;
  WipeLocked();
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

void Console::Progress(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_out);
  std::fprintf(stdout, "\r%s", line.c_str());
  if (line.size() < g_progressWidth) std::fprintf(stdout, "%*s", static_cast<int>(g_progressWidth - line.size()), "");
  std::fflush(stdout);
  g_progressWidth = line.size() > g_progressWidth ? line.size() : g_progressWidth;
}

void Console::ClearProgress() {
  std::lock_guard<std::mutex> lock(g_out);
  WipeLocked();
}

ProgressMeter::ProgressMeter(const char* verb, uint64_t totalFiles, uint64_t totalBytes, bool show)
    : verb_(verb), totalFiles_(totalFiles), totalBytes_(totalBytes), start_(std::chrono::steady_clock::now()) {
  if (show) thread_ = std::thread([this] { Loop(); });
}

ProgressMeter::~ProgressMeter() { Stop(); }

void ProgressMeter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) return;
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
    Console::ClearProgress();
  }
}

double ProgressMeter::ElapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string ProgressMeter::Line() const {
  double secs = ElapsedSeconds();
  uint64_t bytes = bytes_.load();
  std::string eta = "--:--";
  if (bytes > 0 && secs > 0.5 && totalBytes_ >= bytes)
    eta = FormatDuration(static_cast<double>(totalBytes_ - bytes) * secs / static_cast<double>(bytes));
  return std::string(verb_) + ": files " + std::to_string(files_.load()) + "/" + std::to_string(totalFiles_) + "  " +
         FormatBytes(bytes) + " of " + FormatBytes(totalBytes_) + "  " + FormatRate(bytes, secs) + "  ETA " + eta;
}

void ProgressMeter::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    cv_.wait_for(lock, std::chrono::milliseconds(250));
    if (stopping_) break;
    std::string line = Line();
    lock.unlock();
    Console::Progress(line);
    lock.lock();
  }
}

}  // namespace kqhost
