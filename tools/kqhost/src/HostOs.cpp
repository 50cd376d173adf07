#include "HostOs.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kqhost {

namespace {
std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

#ifdef _WIN32
std::string LastWin32Error() {
  DWORD code = GetLastError();
  char buf[512] = {0};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[--n] = 0;
  return n ? std::string(buf) : "error " + std::to_string(code);
}
// FILETIME counts 100 ns ticks since 1601-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000LL;
#endif
}  // namespace

SharedLibrary::~SharedLibrary() { Close(); }

bool SharedLibrary::Open(const std::filesystem::path& path, std::string* error) {
  Close();
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryW(path.wstring().c_str()));
  if (handle_ == nullptr) *error = LastWin32Error();
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* e = dlerror();
    *error = e ? e : "dlopen failed";
  }
#endif
  return handle_ != nullptr;
}

void* SharedLibrary::Symbol(const char* name, std::string* error) const {
  if (handle_ == nullptr) {
    *error = "library not loaded";
    return nullptr;
  }
#ifdef _WIN32
  void* sym = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  if (sym == nullptr) *error = LastWin32Error();
#else
  dlerror();
  void* sym = dlsym(handle_, name);
  if (sym == nullptr) {
    const char* e = dlerror();
    *error = e ? e : std::string("symbol ") + name + " not found";
  }
#endif
  return sym;
}

void SharedLibrary::Close() {
  if (handle_ == nullptr) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
  handle_ = nullptr;
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

bool GetFileMtimeNs(const std::filesystem::path& path, int64_t* mtimeNs, std::string* error) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data)) {
    *error = LastWin32Error();
    return false;
  }
  int64_t ticks =
      (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  *mtimeNs = (ticks - kUnixEpochIn100ns) * 100;
  return true;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  *mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
#endif
}

bool SetFileMtimeNs(const std::filesystem::path& path, int64_t mtimeNs, std::string* error) {
#ifdef _WIN32
  HANDLE h = CreateFileW(path.wstring().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = LastWin32Error();
    return false;
  }
  int64_t ticks = mtimeNs / 100 + kUnixEpochIn100ns;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xffffffff);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
  if (!ok) *error = LastWin32Error();
  CloseHandle(h);
  return ok != 0;
#else
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // leave the access time alone
  int64_t sec = mtimeNs / 1000000000LL;
  int64_t nsec = mtimeNs % 1000000000LL;
  if (nsec < 0) {
    nsec += 1000000000LL;
    sec -= 1;
  }
  times[1].tv_sec = static_cast<time_t>(sec);
  times[1].tv_nsec = static_cast<long>(nsec);
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
#endif
}

namespace {

// What the watchdog needs after the grace period.  Allocated once and never
// freed: the watchdog may still look at it while the process is exiting.
struct Registry {
  std::timed_mutex mu;
  uint64_t next = 1;
  std::map<uint64_t, std::string> work;
#ifdef _WIN32
  std::map<uint64_t, std::filesystem::path> parts;
#else
  std::map<uint64_t, std::pair<int, std::string> > parts;  // folder descriptor, temporary name
#endif
  bool abandoned = false;  // set when the watchdog has removed the partial files
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
    for (const auto& part : r.parts) {
#ifdef _WIN32
      std::error_code ec;
      std::filesystem::remove(part.second, ec);
#else
      unlinkat(part.second.first, part.second.second.c_str(), 0);
#endif
    }
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

namespace {

std::string TempName() {
  static std::mutex mu;
  static std::mt19937_64 random{std::random_device{}()};
  char buf[40];
  std::lock_guard<std::mutex> lock(mu);
  std::snprintf(buf, sizeof buf, ".kqhost-%016llx.part", static_cast<unsigned long long>(random()));
  return buf;
}

std::vector<std::string> Segments(const std::string& rel) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t slash = rel.find('/', start);
    out.push_back(rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return out;
    start = slash + 1;
  }
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

}  // namespace

#ifdef _WIN32

struct RestoreFile::State {
  std::filesystem::path dir, target, temp;
  std::FILE* out = nullptr;
  uint64_t partId = 0;
};

bool RestoreRoot::Open(const std::filesystem::path& dest, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dest, ec);
  if (ec || !std::filesystem::is_directory(dest, ec)) {
    *error = ec ? ec.message() : "not a folder";
    return false;
  }
  path_ = dest;
  return true;
}

RestoreRoot::~RestoreRoot() = default;

RestoreFile::RestoreFile(const RestoreRoot& root, const std::string& rel) : state_(new State) {
  std::vector<std::string> segs = Segments(rel);
  std::filesystem::path dir = root.path_;
  std::string walked;
  for (size_t i = 0; i + 1 < segs.size(); ++i) {
    dir /= std::filesystem::u8path(segs[i]);
    walked += (walked.empty() ? "" : "/") + segs[i];
    std::error_code ec;
    auto st = std::filesystem::symlink_status(dir, ec);
    if (std::filesystem::is_symlink(st)) {
      delete state_;
      Fail(walked + " is a symbolic link in the destination; not followed");
    }
    if (!std::filesystem::exists(st)) std::filesystem::create_directory(dir, ec);
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(dir, ec))) {
      delete state_;
      Fail("cannot create the folder " + walked);
    }
  }
  state_->dir = dir;
  state_->target = dir / std::filesystem::u8path(segs.back());
}

RestoreFile::~RestoreFile() {
  if (state_->out != nullptr) std::fclose(state_->out);
  if (!state_->temp.empty()) {
    std::error_code ec;
    std::filesystem::remove(state_->temp, ec);
  }
  if (state_->partId != 0) {
    Registry& r = Reg();
    std::lock_guard<std::timed_mutex> lock(r.mu);
    r.parts.erase(state_->partId);
  }
  delete state_;
}

bool RestoreFile::TargetExists() const {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(state_->target, ec));
}

void RestoreFile::Write(const unsigned char* data, size_t n) {
  if (state_->out == nullptr) {
    for (int attempt = 0; attempt < 10 && state_->out == nullptr; ++attempt) {
      std::filesystem::path temp = state_->dir / TempName();
      state_->out = _wfopen(temp.wstring().c_str(), L"wxb");
      if (state_->out != nullptr) state_->temp = temp;
    }
    if (state_->out == nullptr) Fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    Registry& r = Reg();
    std::lock_guard<std::timed_mutex> lock(r.mu);
    state_->partId = r.next++;
    r.parts.emplace(state_->partId, state_->temp);
  }
  if (n > 0 && std::fwrite(data, 1, n, state_->out) != n) Fail(std::string("write failed: ") + std::strerror(errno));
}

bool RestoreFile::Commit(int64_t mtimeNs, bool overwrite) {
  if (state_->out == nullptr) Write(nullptr, 0);
  int rc = std::fclose(state_->out);
  state_->out = nullptr;
  if (rc != 0) Fail(std::string("write failed: ") + std::strerror(errno));
  std::string error;
  if (!SetFileMtimeNs(state_->temp, mtimeNs, &error)) Fail("cannot set the modification time: " + error);
  Registry& r = Reg();
  std::lock_guard<std::timed_mutex> lock(r.mu);
  if (g_interrupted.load() || r.abandoned) Fail("interrupted");
  if (!overwrite && TargetExists()) return false;
  if (!MoveFileExW(state_->temp.wstring().c_str(), state_->target.wstring().c_str(),
                   overwrite ? MOVEFILE_REPLACE_EXISTING : 0)) {
    if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) return false;
    Fail("cannot move the restored file into place: " + LastWin32Error());
  }
  state_->temp.clear();
  return true;
}

#else

struct RestoreFile::State {
  int dirFd = -1;
  std::string name, temp;
  int fd = -1;
  uint64_t partId = 0;
};

bool RestoreRoot::Open(const std::filesystem::path& dest, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dest, ec);
  fd_ = open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) *error = std::strerror(errno);
  return fd_ >= 0;
}

RestoreRoot::~RestoreRoot() {
  if (fd_ >= 0) close(fd_);
}

RestoreFile::RestoreFile(const RestoreRoot& root, const std::string& rel) : state_(new State) {
  std::vector<std::string> segs = Segments(rel);
  int dir = dup(root.fd_);
  std::string walked;
  for (size_t i = 0; i + 1 < segs.size() && dir >= 0; ++i) {
    const char* seg = segs[i].c_str();
    walked += (walked.empty() ? "" : "/") + segs[i];
    int next = openat(dir, seg, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && (mkdirat(dir, seg, 0777) == 0 || errno == EEXIST))
      next = openat(dir, seg, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int err = errno;
    struct stat st;
    bool isLink = next < 0 && fstatat(dir, seg, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    close(dir);
    dir = next;
    if (dir < 0) {
      delete state_;
      if (isLink) Fail(walked + " is a symbolic link in the destination; not followed");
      Fail("cannot open the folder " + walked + ": " + std::strerror(err));
    }
  }
  if (dir < 0) {
    delete state_;
    Fail(std::string("cannot open the destination: ") + std::strerror(errno));
  }
  state_->dirFd = dir;
  state_->name = segs.back();
}

RestoreFile::~RestoreFile() {
  {
    Registry& r = Reg();
    std::lock_guard<std::timed_mutex> lock(r.mu);
    if (state_->fd >= 0) close(state_->fd);
    if (!state_->temp.empty()) unlinkat(state_->dirFd, state_->temp.c_str(), 0);
    if (state_->partId != 0) r.parts.erase(state_->partId);
  }
  close(state_->dirFd);
  delete state_;
}

bool RestoreFile::TargetExists() const {
  struct stat st;
  return fstatat(state_->dirFd, state_->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

void RestoreFile::Write(const unsigned char* data, size_t n) {
  if (state_->fd < 0) {
    Registry& r = Reg();
    std::lock_guard<std::timed_mutex> lock(r.mu);
    if (r.abandoned) Fail("interrupted");
    for (int attempt = 0; attempt < 10 && state_->fd < 0; ++attempt) {
      std::string temp = TempName();
      state_->fd = openat(state_->dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (state_->fd >= 0)
        state_->temp = temp;
      else if (errno != EEXIST)
        break;
    }
    if (state_->fd < 0) Fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    state_->partId = r.next++;
    r.parts.emplace(state_->partId, std::make_pair(state_->dirFd, state_->temp));
  }
  while (n > 0) {
    ssize_t k = write(state_->fd, data, n);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) Fail(std::string("write failed: ") + std::strerror(errno));
    data += k;
    n -= static_cast<size_t>(k);
  }
}

bool RestoreFile::Commit(int64_t mtimeNs, bool overwrite) {
  if (state_->fd < 0) Write(nullptr, 0);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  int64_t sec = mtimeNs / 1000000000LL, nsec = mtimeNs % 1000000000LL;
  if (nsec < 0) {
    nsec += 1000000000LL;
    sec -= 1;
  }
  times[1].tv_sec = static_cast<time_t>(sec);
  times[1].tv_nsec = static_cast<long>(nsec);
  if (futimens(state_->fd, times) != 0) Fail(std::string("cannot set the modification time: ") + std::strerror(errno));
  int rc = close(state_->fd);
  state_->fd = -1;
  if (rc != 0) Fail(std::string("write failed: ") + std::strerror(errno));

  Registry& r = Reg();
  std::lock_guard<std::timed_mutex> lock(r.mu);
  if (g_interrupted.load() || r.abandoned) Fail("interrupted");
  const char* temp = state_->temp.c_str();
  const char* name = state_->name.c_str();
  if (overwrite) {
    if (renameat(state_->dirFd, temp, state_->dirFd, name) != 0)
      Fail(std::string("cannot move the restored file into place: ") + std::strerror(errno));
  } else if (renameat2(state_->dirFd, temp, state_->dirFd, name, RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS)
      Fail(std::string("cannot move the restored file into place: ") + std::strerror(errno));
    // A file system without the no-replace rename: a hard link never replaces either.
    if (linkat(state_->dirFd, temp, state_->dirFd, name, 0) != 0) {
      if (errno == EEXIST) return false;
      Fail(std::string("cannot move the restored file into place: ") + std::strerror(errno));
    }
    unlinkat(state_->dirFd, temp, 0);
  }
  state_->temp.clear();
  return true;
}

#endif

std::filesystem::path ExecutableDir() {
#ifdef _WIN32
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  if (n == 0 || n >= 32768) return {};
  return std::filesystem::path(std::wstring(buf, n)).parent_path();
#else
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p.parent_path();
#endif
}

}  // namespace kqhost
