// The few operating-system facilities the plug-in needs, behind one narrow
// interface.  platform_win32.cpp implements them with the Win32 API and
// platform_posix.cpp reproduces the same semantics on POSIX systems.
// Nothing outside platform/ may call the operating system directly.
#ifndef KQ_PLATFORM_PLATFORM_H_
#define KQ_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "kq/CloudPluginInterface.h"  // WChar, WString

// Wide string literal in the platform's WChar type: KQ_W("text").
#ifdef _WIN32
#define KQ_W(s) L##s
#else
#define KQ_W(s) u##s
#endif

namespace kq {

// Text borrowed for the length of a call: a WString, a literal or a part of
// either, with no copy made.
using WStringView = std::basic_string_view<WChar>;

namespace platform {

// The separator between path components ('\\' on Windows, '/' elsewhere).
extern const WChar kPathSeparator;

// A mutex shared by name between every thread of every process on the
// machine, like a Win32 named mutex created with a NULL DACL: anyone may open
// it, and when its holder dies it is released (abandoned) so that the other
// users go on.  Recursive for the thread that holds it.
class NamedMutex {
 public:
  explicit NamedMutex(const char* name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  bool valid() const;
  // Waits without time limit.  False only when the mutex could not be made.
  bool Lock();
  void Unlock();

 private:
  struct Impl;
  Impl* impl_;
};

// Re-entrant lock for one process (a Win32 critical section).
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  struct Impl;
  Impl* impl_;
};

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~CriticalSectionLock() { cs_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& cs_;
};

// A file name converted to the system's form once, for a file that is opened
// again and again (the log's, once per record).
class SystemPath {
 public:
  SystemPath() = default;
  explicit SystemPath(const WString& path);
  // False when the name has no system form (an unpaired surrogate, a zero
  // unit inside); opening it then fails.
  bool ok() const { return ok_; }

 private:
  friend class File;
#ifdef _WIN32
  WString path_;
#else
  std::string path_;
#endif
  bool ok_ = false;
};

// A file opened for reading and writing, shared for reading and writing with
// other handles and processes, created when missing (Win32 OPEN_ALWAYS).
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool OpenAlways(const WString& path);
  bool OpenAlways(const SystemPath& path);
  bool is_open() const;
  bool SeekToEnd();
  // Writes all bytes; false on any failure.
  bool Write(const void* data, size_t bytes);
  // Current size in bytes, 0 when unknown or not open.
  int64_t Size() const;
  void Close();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Creates one directory level; false if it failed (for instance it exists).
bool CreateDirectoryOnce(const WString& path);
// True when a file of exactly this name exists (a directory search).
bool FileExists(const WString& path);
// Renames; fails, like MoveFile, when the target exists.
bool RenameFile(const WString& from, const WString& to);
bool DeleteFileAt(const WString& path);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime Now();
uint32_t ProcessId();
uint32_t ThreadId();

// Narrow text for the standard output and for C APIs: the system's ANSI code
// page on Windows (WideCharToMultiByte, CP_ACP), UTF-8 elsewhere.  Text that
// cannot be converted comes back empty.
std::string WideToAnsi(const WString& text);
// ASCII/UTF-8 text widened to UTF-16.
WString Widen(const std::string& utf8);

}  // namespace platform
}  // namespace kq

#endif  // KQ_PLATFORM_PLATFORM_H_
