// Win32 implementation of the platform layer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <climits>
#include <new>

#include "platform/Platform.h"

namespace kq {
namespace platform {

const WChar kPathSeparator = L'\\';

namespace {

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

}  // namespace

// ---------------------------------------------------------------------------
// Named mutexes

struct NamedMutex::Impl {
  HANDLE handle;
};

NamedMutex::NamedMutex(const char* name) : impl_(nullptr) {
  if (name == nullptr) return;
  try {
    WString wideName = Widen(name);
    // A NULL DACL (present but empty of rules) lets every account open the
    // mutex, so processes of other users can share the log.
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return;
    if (!SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE)) return;
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = FALSE;
    HANDLE h = CreateMutexW(&sa, FALSE, wideName.c_str());
    if (h == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
      // It exists already with a stricter descriptor: open what we may.
      h = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, wideName.c_str());
    }
    if (h == nullptr) return;
    impl_ = new (std::nothrow) Impl{h};
    if (impl_ == nullptr) CloseHandle(h);
  } catch (...) {
    impl_ = nullptr;
  }
}

NamedMutex::~NamedMutex() {
  if (impl_ != nullptr) {
    CloseHandle(impl_->handle);
    delete impl_;
  }
}

bool NamedMutex::valid() const { return impl_ != nullptr; }

bool NamedMutex::Lock() {
  if (impl_ == nullptr) return false;
  DWORD rc = WaitForSingleObject(impl_->handle, INFINITE);
  // An abandoned mutex (its holder died) now belongs to this thread.
  return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

void NamedMutex::Unlock() {
  if (impl_ != nullptr) ReleaseMutex(impl_->handle);
}

// ---------------------------------------------------------------------------
// Critical sections

struct CriticalSection::Impl {
  CRITICAL_SECTION cs;
};

CriticalSection::CriticalSection() : impl_(new (std::nothrow) Impl) {
  if (impl_ != nullptr) InitializeCriticalSection(&impl_->cs);
}

CriticalSection::~CriticalSection() {
  if (impl_ != nullptr) {
    DeleteCriticalSection(&impl_->cs);
    delete impl_;
  }
}

void CriticalSection::Enter() {
  if (impl_ != nullptr) EnterCriticalSection(&impl_->cs);
}

void CriticalSection::Leave() {
  if (impl_ != nullptr) LeaveCriticalSection(&impl_->cs);
}

// ---------------------------------------------------------------------------
// Files

File::~File() { Close(); }

bool File::OpenAlways(const WString& path) {
  Close();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

// Windows takes the UTF-16 name as it is.
SystemPath::SystemPath(const WString& path) : path_(path), ok_(true) {}

bool File::OpenAlways(const SystemPath& path) { return path.ok() && OpenAlways(path.path_); }

bool File::is_open() const { return handle_ != nullptr; }

bool File::SeekToEnd() {
  if (handle_ == nullptr) return false;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_END) != 0;
}

bool File::Write(const void* data, size_t bytes) {
  if (handle_ == nullptr) return false;
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    DWORD chunk = bytes > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    bytes -= written;
  }
  return true;
}

int64_t File::Size() const {
  if (handle_ == nullptr) return 0;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(AsHandle(handle_), &size)) return 0;
  return static_cast<int64_t>(size.QuadPart);
}

void File::Close() {
  if (handle_ != nullptr) {
    CloseHandle(AsHandle(handle_));
    handle_ = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Directories and names

bool CreateDirectoryOnce(const WString& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool FileExists(const WString& path) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(path.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool RenameFile(const WString& from, const WString& to) { return MoveFileW(from.c_str(), to.c_str()) != 0; }

bool DeleteFileAt(const WString& path) { return DeleteFileW(path.c_str()) != 0; }

// ---------------------------------------------------------------------------
// Time and identifiers

LocalTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

uint32_t ProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

uint32_t ThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

// ---------------------------------------------------------------------------
// Text

std::string WideToAnsi(const WString& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
  const int units = static_cast<int>(text.size());
  int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), units, &out[0], bytes, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  out.resize(static_cast<size_t>(bytes));
  return out;
}

WString Widen(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return WString();
  const int bytes = static_cast<int>(utf8.size());
  int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
  if (units <= 0) return WString();
  WString out(static_cast<size_t>(units), L'\0');
  units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, &out[0], units);
  if (units <= 0) return WString();
  out.resize(static_cast<size_t>(units));
  return out;
}

}  // namespace platform
}  // namespace kq
