#include "HostOs.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
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
  int64_t ticks = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                  data.ftLastWriteTime.dwLowDateTime;
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

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

bool InterruptRequested() { return g_interrupted.load(); }

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
