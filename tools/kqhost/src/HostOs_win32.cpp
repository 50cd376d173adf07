// HostOs.h on Windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "HostOs.h"
#include "Win32Error.h"

namespace kqhost {

namespace {
// FILETIME counts 100 ns ticks since 1601-01-01.
constexpr int64_t kUnixEpochIn100ns = 116444736000000000LL;
}  // namespace

SharedLibrary::~SharedLibrary() { Close(); }

bool SharedLibrary::Open(const std::filesystem::path& path, std::string* error) {
  Close();
  handle_ = reinterpret_cast<void*>(LoadLibraryW(path.wstring().c_str()));
  if (handle_ == nullptr) *error = LastWin32Error();
  return handle_ != nullptr;
}

void* SharedLibrary::Symbol(const char* name, std::string* error) const {
  if (handle_ == nullptr) {
    *error = "library not loaded";
    return nullptr;
  }
  void* sym = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  if (sym == nullptr) *error = LastWin32Error();
  return sym;
}

void SharedLibrary::Close() {
  if (handle_ == nullptr) return;
  FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool GetFileMtimeNs(const std::filesystem::path& path, int64_t* mtimeNs, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data)) {
    *error = LastWin32Error();
    return false;
  }
  int64_t ticks =
      (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  *mtimeNs = (ticks - kUnixEpochIn100ns) * 100;
  return true;
}

bool SetFileMtimeNs(const std::filesystem::path& path, int64_t mtimeNs, std::string* error) {
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
}

std::filesystem::path ExecutableDir() {
  wchar_t buf[32768];
  DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  if (n == 0 || n >= 32768) return {};
  return std::filesystem::path(std::wstring(buf, n)).parent_path();
}

uint64_t ProcessId() { return GetCurrentProcessId(); }

std::filesystem::path UserCacheDir() { return {}; }

bool RunProgram(const std::vector<std::string>&, const std::filesystem::path&, int, std::string* error) {
  *error = "not supported on Windows";
  return false;
}

}  // namespace kqhost
