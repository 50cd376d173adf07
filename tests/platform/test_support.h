// Helpers shared by the platform and log tests: scratch folders, whole-file
// reads and writes, bounded waiting, and child processes that can be killed.
#ifndef KQ_TESTS_PLATFORM_TEST_SUPPORT_H_
#define KQ_TESTS_PLATFORM_TEST_SUPPORT_H_

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Platform.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kq {
namespace testing {

namespace fs = std::filesystem;

inline WString ToWide(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return platform::Widen(path.string());
#endif
}

// A name no other test run on this machine uses (mutex names, folders).
inline std::string UniqueName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return stem + "-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(counter++);
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  explicit TempDir(const std::string& stem = "kq-test") : path_(fs::temp_directory_path() / UniqueName(stem)) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  WString wide() const { return ToWide(path_); }

  // Empties the folder but keeps it.
  void Clear() const {
    for (const auto& entry : fs::directory_iterator(path_)) fs::remove_all(entry.path());
  }

 private:
  fs::path path_;
};

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Polls `done` until it holds or `limit` passes.  Used to wait for events
// that must happen, never to judge how fast they happen.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A helper executable run as a separate process.  A child still running when
// this goes away is killed, so a failed test leaves nothing behind.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() {
    if (started_ && !reaped_) {
      Kill();
      Wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::string& exe, const std::vector<std::string>& args) {
#ifdef _WIN32
    std::wstring command = L"\"" + platform::Widen(exe) + L"\"";
    for (const std::string& arg : args) command += L" \"" + platform::Widen(arg) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
#else
    std::vector<std::string> all;
    all.push_back(exe);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
#endif
    started_ = true;
    return true;
  }

  // Ends the child at once, as a crash would (SIGKILL / TerminateProcess).
  void Kill() {
    if (!started_ || reaped_) return;
#ifdef _WIN32
    TerminateProcess(process_, 137);
#else
    kill(pid_, SIGKILL);
#endif
  }

  // Waits for the child to end; its exit code, or -1 when it did not exit.
  int Wait() {
    if (!started_) return -1;
    if (reaped_) return status_;
#ifdef _WIN32
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    status_ = GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
    CloseHandle(process_);
#else
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
      if (errno != EINTR) break;
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    reaped_ = true;
    return status_;
  }

 private:
  bool started_ = false;
  bool reaped_ = false;
  int status_ = -1;
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
};

}  // namespace testing
}  // namespace kq

#endif  // KQ_TESTS_PLATFORM_TEST_SUPPORT_H_
