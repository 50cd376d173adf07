// HostOs.h on POSIX systems.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "HostOs.h"
#include "PosixTime.h"

namespace kqhost {

SharedLibrary::~SharedLibrary() { Close(); }

bool SharedLibrary::Open(const std::filesystem::path& path, std::string* error) {
  Close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* e = dlerror();
    *error = e ? e : "dlopen failed";
  }
  return handle_ != nullptr;
}

void* SharedLibrary::Symbol(const char* name, std::string* error) const {
  if (handle_ == nullptr) {
    *error = "library not loaded";
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(handle_, name);
  if (sym == nullptr) {
    const char* e = dlerror();
    *error = e ? e : std::string("symbol ") + name + " not found";
  }
  return sym;
}

void SharedLibrary::Close() {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

bool GetFileMtimeNs(const std::filesystem::path& path, int64_t* mtimeNs, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  *mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

bool SetFileMtimeNs(const std::filesystem::path& path, int64_t mtimeNs, std::string* error) {
  const MtimeOnly mtime(mtimeNs);
  if (utimensat(AT_FDCWD, path.c_str(), mtime.times, 0) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p.parent_path();
}

uint64_t ProcessId() { return static_cast<uint64_t>(getpid()); }

std::filesystem::path UserCacheDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::filesystem::path(xdg);
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::filesystem::path(home) / ".cache";
  return {};
}

bool RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& output, int timeoutMs,
                std::string* error) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    *error = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      *error = std::string("waiting for ") + argv[0] + ": " + std::strerror(errno);
      return false;
    }
    bool late = std::chrono::steady_clock::now() >= deadline;
    if (late || InterruptRequested()) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      *error = late ? "stopped after " + std::to_string(timeoutMs / 1000) + " s" : "interrupted";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *error = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                             : "ended by signal " + std::to_string(WTERMSIG(status));
  return false;
}

}  // namespace kqhost
