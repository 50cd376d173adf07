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
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include "platform/Platform.h"
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <atomic>
#include <chrono>
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
// Each name maps to one POSIX shared-memory segment holding a robust,
// process-shared, recursive pthread mutex.  Anyone may open it (the segment is
// made world-readable and writable), ownership is per thread in every process,
// and when the owner thread or its process dies the kernel marks the mutex so
// that the very next locker, in any process, gets it (EOWNERDEAD), as Windows
// abandons a mutex.  An uncontended lock or unlock is one atomic operation in
// user space: no system call.

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

// The segment's content.  A fresh segment is all zeros (state kFresh); the
// first opener makes the mutex, the others wait for kReady.
struct MutexSegment {
  std::atomic<uint32_t> state;
  pthread_mutex_t mutex;
};
constexpr uint32_t kFresh = 0, kMaking = 1, kRemaking = 2, kReady = 3;
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the state is shared between processes");

// How long an opener waits for another process to finish making the mutex
// (a few microseconds normally).  After that the maker is taken for dead and
// the mutex is made again; after twice that the name is given up (the mutex
// is not valid()).
constexpr auto kMakeDeadline = std::chrono::seconds(2);

// Names may hold any character; anything but [A-Za-z0-9._-] is escaped as
// %XX so that different names never share a segment.
std::string SegmentName(const char* name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string path = "/kq-shm-mutex-";
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

// Opens the segment, creating it for everybody when it is missing.  Creating
// with O_EXCL separately from opening keeps fs.protected_regular from
// refusing someone else's segment in the sticky /dev/shm.
int OpenSegment(const std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fchmod(fd, 0666);  // the umask must not lock other accounts out
      return fd;
    }
    if (errno != EEXIST) return -1;
    // Someone else created it in between (or removed it again): retry.
  }
  return -1;
}

bool MakeMutex(MutexSegment* segment) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool made = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutex_init(&segment->mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return made;
}

// Waits until the segment's mutex is ready, making it if this opener is the
// first (or the maker died).  False when it cannot be made.
bool ReadyMutex(MutexSegment* segment) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    uint32_t state = segment->state.load(std::memory_order_acquire);
    if (state == kReady) return true;
    const bool stale = std::chrono::steady_clock::now() - start > kMakeDeadline;
    if (state == kFresh || (state == kMaking && stale)) {
      const uint32_t claim = state == kFresh ? kMaking : kRemaking;
      if (segment->state.compare_exchange_strong(state, claim, std::memory_order_acq_rel)) {
        if (!MakeMutex(segment)) {
          segment->state.store(kFresh, std::memory_order_release);
          return false;
        }
        segment->state.store(kReady, std::memory_order_release);
        return true;
      }
      continue;
    }
    if (std::chrono::steady_clock::now() - start > 2 * kMakeDeadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// One mapping per name and process, kept for the life of the process: a
// thread may hold the mutex when the last NamedMutex of the name goes, and
// the kernel's robust list points into the mapping.
MutexSegment* MapSegment(const char* name) {
  static std::mutex lock;
  static auto* segments = new std::map<std::string, MutexSegment*>();  // never destroyed
  std::lock_guard<std::mutex> guard(lock);
  MutexSegment*& slot = (*segments)[name];
  if (slot != nullptr) return slot;
  const int fd = OpenSegment(SegmentName(name));
  if (fd < 0) return nullptr;
  // Every opener sizes it: a segment only ever has this one size, and an
  // opener may come before the creator's ftruncate.
  void* mapped = MAP_FAILED;
  if (ftruncate(fd, sizeof(MutexSegment)) == 0) {
    mapped = mmap(nullptr, sizeof(MutexSegment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  close(fd);
  if (mapped == MAP_FAILED) return nullptr;
  auto* segment = static_cast<MutexSegment*>(mapped);
  if (!ReadyMutex(segment)) {
    munmap(mapped, sizeof(MutexSegment));
    return nullptr;
  }
  slot = segment;
  return segment;
}

}  // namespace

struct NamedMutex::Impl {
  MutexSegment* segment;
};

NamedMutex::NamedMutex(const char* name) : impl_(nullptr) {
  if (name == nullptr) return;
  try {
    if (MutexSegment* segment = MapSegment(name)) impl_ = new Impl{segment};
  } catch (...) {
    impl_ = nullptr;
  }
}

NamedMutex::~NamedMutex() { delete impl_; }

bool NamedMutex::valid() const { return impl_ != nullptr; }

bool NamedMutex::Lock() {
  if (impl_ == nullptr) return false;
  pthread_mutex_t* mutex = &impl_->segment->mutex;
  int rc = pthread_mutex_lock(mutex);
  if (rc == EOWNERDEAD) {
    // Its owner died holding it: like a Windows abandoned mutex it passes to
    // this thread, at its first level.
    rc = pthread_mutex_consistent(mutex);
  }
  return rc == 0;
}

void NamedMutex::Unlock() {
  if (impl_ == nullptr) return;
  // Like ReleaseMutex, a thread that does not own the mutex cannot free it:
  // the robust mutex checks the owner and answers EPERM.
  pthread_mutex_unlock(&impl_->segment->mutex);
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

namespace {

int OpenAlwaysAt(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

SystemPath::SystemPath(const WString& path) {
  NativePath native(path);
  if (!native.ok()) return;
  path_ = native.c_str();
  ok_ = true;
}

bool File::OpenAlways(const WString& path) {
  Close();
  NativePath native(path);
  if (!native.ok()) return false;
  fd_ = OpenAlwaysAt(native.c_str());
  return fd_ >= 0;
}

bool File::OpenAlways(const SystemPath& path) {
  Close();
  if (!path.ok()) return false;
  fd_ = OpenAlwaysAt(path.path_.c_str());
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
  // Every log record asks for the time, many within one second: the broken-
  // down local time is worked out once per second and thread (zones and
  // daylight saving change only on whole seconds).
  thread_local time_t cachedSeconds = -1;
  thread_local struct tm cachedTm;
  if (seconds != cachedSeconds) {
    std::memset(&cachedTm, 0, sizeof(cachedTm));
    localtime_r(&seconds, &cachedTm);
    cachedSeconds = seconds;
  }
  const struct tm& tm = cachedTm;
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
