// POSIX implementation of the platform layer.  It keeps the Win32 semantics
// the rest of the plug-in was written against: named mutexes that exclude
// threads and processes alike and are released when their holder dies, files
// opened "always" and shared, renames that refuse to replace, local time with
// milliseconds, and UTF-16 text converted to UTF-8 at the system boundary.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // renameat2, RENAME_NOREPLACE
#endif

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include "platform/Platform.h"
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace kq {
namespace platform {

const WChar kPathSeparator = u'/';

namespace {

// ---------------------------------------------------------------------------
// UTF-16 <-> UTF-8

// Appends the UTF-8 form of `units` to `out` through `put`.  Returns false on
// an unpaired surrogate, which has no UTF-8 form.
template <typename Put> bool EncodeUtf8(const WChar* units, size_t count, Put put) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = static_cast<uint16_t>(units[i]);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= count) return false;
      uint32_t low = static_cast<uint16_t>(units[i + 1]);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      put(static_cast<char>(c));
    } else if (c < 0x800) {
      put(static_cast<char>(0xC0 | (c >> 6)));
      put(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      put(static_cast<char>(0xE0 | (c >> 12)));
      put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      put(static_cast<char>(0xF0 | (c >> 18)));
      put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      put(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

// A path in the file system's encoding.  Short paths (all of the log's) stay
// on the stack so that a log write allocates nothing for its file name.
class NativePath {
 public:
  explicit NativePath(const WString& path) {
    // Every UTF-16 unit takes at most three UTF-8 bytes.
    const size_t worst = path.size() * 3 + 1;
    char* out = stack_;
    if (worst > sizeof(stack_)) {
      heap_.reset(new (std::nothrow) char[worst]);
      out = heap_.get();
      if (out == nullptr) return;
    }
    size_t n = 0;
    bool ok = EncodeUtf8(path.data(), path.size(), [&](char c) { out[n++] = c; });
    // An embedded NUL would silently name another file.
    if (!ok || std::memchr(out, '\0', n) != nullptr) return;
    out[n] = '\0';
    ok_ = true;
    str_ = out;
  }
  bool ok() const { return ok_; }
  const char* c_str() const { return str_; }

 private:
  char stack_[1024];
  std::unique_ptr<char[]> heap_;
  const char* str_ = "";
  bool ok_ = false;
};

// ---------------------------------------------------------------------------
// Named mutexes
//
// Each name maps to one lock file, created world-readable and writable so
// that every account can open it, and held with flock().  The kernel drops a
// flock when its last descriptor closes, so a process that dies holding the
// mutex releases it, as Windows abandons a mutex.  flock() belongs to the
// open file description, not to a thread, so inside a process one recursive
// (and robust: an exiting owner thread abandons it) pthread mutex per name
// picks the owning thread first, and the flock is taken on its first level.

// Counts the forks that made this process.  Whatever a process caches about
// itself (its id, its threads' ids, its lock-file descriptors) is checked
// against it, since a child made by fork() inherits the caches but not what
// they describe.
std::atomic<unsigned> g_forkGeneration{0};

void OnForkChild() { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }

// Must run before anything is cached, or a fork would go unnoticed.
void EnsureForkHook() {
  static const int registered = pthread_atfork(nullptr, nullptr, &OnForkChild);
  (void)registered;
}

std::string LockDirectory() {
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK | X_OK) == 0) {
    return "/dev/shm";
  }
  return "/tmp";
}

// Names may hold any character; anything but [A-Za-z0-9._-] is escaped as
// %XX so that different names never share a file.
std::string LockFilePath(const char* name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string path = LockDirectory();
  path += "/kq-mutex-";
  for (const char* p = name; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
        c == '.') {
      path += static_cast<char>(c);
    } else {
      path += '%';
      path += kHex[c >> 4];
      path += kHex[c & 15];
    }
  }
  return path;
}

// Opens the lock file, creating it for everybody when it is missing.  The
// file is opened read-only: flock() needs no more, and it also works on a
// file another account created.  Creating with O_EXCL separately from
// opening keeps fs.protected_regular from refusing someone else's file in a
// sticky directory.
int OpenLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fchmod(fd, 0666);  // the umask must not lock other accounts out
      return fd;
    }
    if (errno != EEXIST) return -1;
    // Someone else created it in between (or removed it again): retry.
  }
  return -1;
}

struct MutexEntry {
  std::string path;
  pthread_mutex_t inProcess;
  int fd = -1;
  unsigned generation = 0;  // fork generation fd was opened in
  int depth = 0;            // recursion depth of the owner
  std::atomic<std::thread::id> owner{};
  bool madeInProcess = false;

  ~MutexEntry() {
    if (fd >= 0) close(fd);
    if (madeInProcess) pthread_mutex_destroy(&inProcess);
  }
};

struct MutexRegistry {
  std::mutex lock;
  std::map<std::string, std::weak_ptr<MutexEntry>> byName;
};

MutexRegistry& Registry() {
  // Never destroyed: the log may be written while other statics unwind.
  static MutexRegistry* registry = [] {
    EnsureForkHook();
    return new MutexRegistry;
  }();
  return *registry;
}

std::shared_ptr<MutexEntry> OpenEntry(const char* name) {
  MutexRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  std::weak_ptr<MutexEntry>& slot = registry.byName[name];
  std::shared_ptr<MutexEntry> entry = slot.lock();
  if (entry) return entry;

  entry = std::make_shared<MutexEntry>();
  entry->path = LockFilePath(name);
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return nullptr;
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
#if defined(__GLIBC__) || defined(__FreeBSD__)
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
#endif
  entry->madeInProcess = pthread_mutex_init(&entry->inProcess, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  if (!entry->madeInProcess) return nullptr;
  entry->fd = OpenLockFile(entry->path);
  if (entry->fd < 0) return nullptr;
  entry->generation = g_forkGeneration.load(std::memory_order_relaxed);
  slot = entry;
  return entry;
}

int FlockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

struct NamedMutex::Impl {
  std::shared_ptr<MutexEntry> entry;
};

NamedMutex::NamedMutex(const char* name) : impl_(nullptr) {
  if (name == nullptr) return;
  try {
    std::shared_ptr<MutexEntry> entry = OpenEntry(name);
    if (entry) impl_ = new Impl{std::move(entry)};
  } catch (...) {
    impl_ = nullptr;
  }
}

NamedMutex::~NamedMutex() { delete impl_; }

bool NamedMutex::valid() const { return impl_ != nullptr; }

bool NamedMutex::Lock() {
  if (impl_ == nullptr) return false;
  MutexEntry& e = *impl_->entry;
  int rc = pthread_mutex_lock(&e.inProcess);
#if defined(__GLIBC__) || defined(__FreeBSD__)
  if (rc == EOWNERDEAD) {
    // A thread of this process ended while holding the mutex.  Like a
    // Windows abandoned mutex it passes to this thread; the flock, which
    // belongs to the process, is still held if the dead thread had it.
    pthread_mutex_consistent(&e.inProcess);
    rc = 0;
    if (e.depth > 0) {
      e.depth = 1;
      e.owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
      return true;
    }
  }
#endif
  if (rc != 0) return false;
  if (e.depth == 0) {
    unsigned generation = g_forkGeneration.load(std::memory_order_relaxed);
    if (e.generation != generation) {
      // A forked child shares the parent's open file description, and with
      // it the parent's flock: it needs a description of its own.
      int fd = OpenLockFile(e.path);
      if (fd >= 0) {
        close(e.fd);
        e.fd = fd;
        e.generation = generation;
      }
    }
    if (FlockRetrying(e.fd, LOCK_EX) != 0) {
      pthread_mutex_unlock(&e.inProcess);
      return false;
    }
  }
  ++e.depth;
  e.owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  return true;
}

void NamedMutex::Unlock() {
  if (impl_ == nullptr) return;
  MutexEntry& e = *impl_->entry;
  // Like ReleaseMutex, a thread that does not own the mutex cannot free it.
  if (e.owner.load(std::memory_order_relaxed) != std::this_thread::get_id() || e.depth == 0) return;
  if (--e.depth == 0) {
    e.owner.store(std::thread::id(), std::memory_order_relaxed);
    FlockRetrying(e.fd, LOCK_UN);
  }
  pthread_mutex_unlock(&e.inProcess);
}

// ---------------------------------------------------------------------------
// Critical sections

struct CriticalSection::Impl {
  std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : impl_(new (std::nothrow) Impl) {}
CriticalSection::~CriticalSection() { delete impl_; }
void CriticalSection::Enter() {
  if (impl_ != nullptr) impl_->mutex.lock();
}
void CriticalSection::Leave() {
  if (impl_ != nullptr) impl_->mutex.unlock();
}

// ---------------------------------------------------------------------------
// Files

File::~File() { Close(); }

bool File::OpenAlways(const WString& path) {
  Close();
  NativePath native(path);
  if (!native.ok()) return false;
  int fd;
  do {
    fd = open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  fd_ = fd;
  return fd_ >= 0;
}

bool File::is_open() const { return fd_ >= 0; }

bool File::SeekToEnd() { return fd_ >= 0 && lseek(fd_, 0, SEEK_END) != static_cast<off_t>(-1); }

bool File::Write(const void* data, size_t bytes) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (bytes > 0) {
    ssize_t n = write(fd_, p, bytes);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

int64_t File::Size() const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

void File::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

// ---------------------------------------------------------------------------
// Directories and names

bool CreateDirectoryOnce(const WString& path) {
  NativePath native(path);
  return native.ok() && mkdir(native.c_str(), 0777) == 0;
}

bool FileExists(const WString& path) {
  NativePath native(path);
  struct stat st;
  return native.ok() && lstat(native.c_str(), &st) == 0;
}

bool RenameFile(const WString& from, const WString& to) {
  NativePath source(from);
  NativePath target(to);
  if (!source.ok() || !target.ok()) return false;
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot rename without replacing; fall through.
#endif
  // A hard link fails when the target exists, which makes the test and the
  // move one step.
  if (link(source.c_str(), target.c_str()) == 0) {
    if (unlink(source.c_str()) == 0) return true;
    unlink(target.c_str());
    return false;
  }
  if (errno == EEXIST) return false;
  // No hard links here (or a directory): test, then rename.
  struct stat st;
  if (lstat(target.c_str(), &st) == 0 || errno != ENOENT) return false;
  return rename(source.c_str(), target.c_str()) == 0;
}

bool DeleteFileAt(const WString& path) {
  NativePath native(path);
  return native.ok() && unlink(native.c_str()) == 0;
}

// ---------------------------------------------------------------------------
// Time and identifiers

LocalTime Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t seconds = ts.tv_sec;
  struct tm tm;
  std::memset(&tm, 0, sizeof(tm));
  localtime_r(&seconds, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second, as Windows shows it
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

// Both identifiers are asked for on every log record; each is a system call
// that only a fork can change the answer of, so they are kept.

uint32_t ProcessId() {
  // (fork generation + 1) << 32 | pid; 0 means not known yet.
  static std::atomic<uint64_t> cached{0};
  const uint64_t generation = g_forkGeneration.load(std::memory_order_relaxed) + 1ull;
  uint64_t value = cached.load(std::memory_order_relaxed);
  if ((value >> 32) != generation) {
    EnsureForkHook();
    value = (generation << 32) | static_cast<uint32_t>(getpid());
    cached.store(value, std::memory_order_relaxed);
  }
  return static_cast<uint32_t>(value);
}

namespace {

uint32_t QueryThreadId() {
#if defined(__linux__)
  return static_cast<uint32_t>(syscall(SYS_gettid));
#elif defined(__APPLE__)
  uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return static_cast<uint32_t>(id);
#else
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pthread_self()));
#endif
}

}  // namespace

uint32_t ThreadId() {
  thread_local unsigned cachedGeneration = 0;
  thread_local uint32_t cachedId = 0;
  const unsigned generation = g_forkGeneration.load(std::memory_order_relaxed) + 1u;
  if (cachedGeneration != generation) {
    EnsureForkHook();
    cachedId = QueryThreadId();
    cachedGeneration = generation;
  }
  return cachedId;
}

// ---------------------------------------------------------------------------
// Text

std::string WideToAnsi(const WString& text) {
  std::string out;
  out.reserve(text.size());
  if (!EncodeUtf8(text.data(), text.size(), [&](char c) { out.push_back(c); })) return std::string();
  return out;
}

WString Widen(const std::string& utf8) {
  WString out;
  out.reserve(utf8.size());
  const size_t n = utf8.size();
  size_t i = 0;
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    uint32_t c;
    size_t len;
    uint32_t min;
    if (b < 0x80) {
      c = b, len = 1, min = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F, len = 2, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F, len = 3, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07, len = 4, min = 0x10000;
    } else {
      out.push_back(static_cast<WChar>(0xFFFD));
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < len && i + k < n; ++k) {
      unsigned char cont = static_cast<unsigned char>(utf8[i + k]);
      if ((cont & 0xC0) != 0x80) break;
      c = (c << 6) | (cont & 0x3F);
    }
    if (k < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // Malformed: one replacement character for the bytes consumed.
      out.push_back(static_cast<WChar>(0xFFFD));
      i += k;
      continue;
    }
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<WChar>(0xD800 + (c >> 10)));
      out.push_back(static_cast<WChar>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<WChar>(c));
    }
  }
  return out;
}

}  // namespace platform
}  // namespace kq
