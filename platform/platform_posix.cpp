// POSIX implementation of the platform layer.  It keeps the Win32 semantics
// the rest of the plug-in was written against: named mutexes that exclude
// threads and processes alike (32-bit and 64-bit ones too) and are released
// when their holder dies, files opened "always" and shared, renames that
// refuse to replace, local time with milliseconds, and UTF-16 text converted
// to UTF-8 at the system boundary.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // renameat2, RENAME_NOREPLACE
#endif

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/file.h>
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
#include <vector>

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
// A name maps to a lock file in /dev/shm, locked with flock(2), and, in each
// process, to one robust recursive pthread mutex that orders the process's
// own threads and counts the holder's levels.  A flock belongs to the open
// file description, which every thread of the process shares, so the file
// alone would let two threads of one process in together; the in-process
// mutex keeps them apart and only its holder takes and drops the file's lock.
//
// Nothing the processes share has a layout: 32-bit and 64-bit processes (whose
// pthread_mutex_t differ in size and layout) meet only in the kernel's lock on
// the file, so both kinds exclude each other as on Windows.  Anyone may open
// the file (it is made world-readable and writable).  When the holder's
// process dies the kernel closes its descriptors and drops the lock; when the
// holder thread ends, its exit releases every level it held (see HeldByThread),
// and should a thread vanish without that, the robust mutex hands it to the
// next thread of its process (EOWNERDEAD), which finds the file still locked
// by its process.  Either way the others go on, as Windows abandons a mutex.
// (The descriptor is close-on-exec; a child forked by the holder shares it
// only until it execs, and keeps a dead holder's lock only while it has not.)
//
// Cost: an uncontended first-level lock or unlock is one flock system call
// and one atomic operation; levels above the first are user space only.

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

// One name in one process (and one fork generation of it).
struct MutexState {
  pthread_mutex_t threads;         // robust, recursive, private to the process
  int fd = -1;                     // the lock file, close-on-exec like a non-inheritable handle
  unsigned generation = 0;         // g_forkGeneration + 1 when opened
  int depth = 0;                   // the holder's levels; changed only by the holder
  std::atomic<uint32_t> owner{0};  // ThreadId() of the holder, 0 when free
};

// Names may hold any character; anything but [A-Za-z0-9._-] is escaped as
// %XX so that different names never share a file.  The prefix differs from
// the earlier shared-memory segments' so that no process takes one for the
// other.
std::string LockFileName(const char* name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string path = "/kq-lock-";
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

// Opens the lock file, creating it for everybody when it is missing.
// Creating with O_EXCL separately from opening keeps fs.protected_regular
// from refusing someone else's file in the sticky /dev/shm.  The file is
// never removed: a process could be waiting on the old one while another
// creates a new one of the same name.
int OpenLockFile(const std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0 && errno == EACCES) fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);  // flock needs no write
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

bool MakeThreadMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool made = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 && pthread_mutex_init(mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return made;
}

// The state of a name in this process, made on first use and after a fork
// (the child's copy shares the parent's file description, and so its lock,
// and may hold a mutex locked by a parent thread it does not have).  States
// are kept for the life of the process: a thread may hold the mutex when the
// last NamedMutex of the name goes.
MutexState* StateOf(const std::string& name) {
  static std::mutex lock;
  static auto* states = new std::map<std::string, MutexState*>();  // never destroyed
  EnsureForkHook();
  const unsigned generation = g_forkGeneration.load(std::memory_order_relaxed) + 1u;
  std::lock_guard<std::mutex> guard(lock);
  MutexState*& slot = (*states)[name];
  if (slot != nullptr && slot->generation == generation) return slot;
  if (slot != nullptr) close(slot->fd);  // the parent's lock is not this process's to drop
  slot = nullptr;
  std::unique_ptr<MutexState> state(new MutexState);
  if (!MakeThreadMutex(&state->threads)) return nullptr;
  state->fd = OpenLockFile(LockFileName(name.c_str()));
  if (state->fd < 0) {
    pthread_mutex_destroy(&state->threads);
    return nullptr;
  }
  state->generation = generation;
  slot = state.release();
  return slot;
}

bool LockFile(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Gives up every level the calling thread holds; the thread must be the holder.
void ReleaseAll(MutexState* state) {
  const int levels = state->depth;
  state->depth = 0;
  state->owner.store(0, std::memory_order_relaxed);
  flock(state->fd, LOCK_UN);
  for (int i = 0; i < levels; ++i) pthread_mutex_unlock(&state->threads);
}

// The named mutexes a thread holds, released when it ends, as Windows
// abandons a dead thread's mutexes to the next waiter in any process.
struct HeldByThread {
  std::vector<MutexState*> held;
  ~HeldByThread() {
    // A child made by fork() while this thread held a mutex inherited the
    // list but not the lock: the state of the parent's is not its own.
    const unsigned generation = g_forkGeneration.load(std::memory_order_relaxed) + 1u;
    for (MutexState* state : held) {
      if (state->generation == generation) ReleaseAll(state);
    }
  }
  void Add(MutexState* state) { held.push_back(state); }
  void Remove(MutexState* state) {
    for (size_t i = 0; i < held.size(); ++i) {
      if (held[i] == state) {
        held[i] = held.back();
        held.pop_back();
        return;
      }
    }
  }
};
thread_local HeldByThread t_held;

}  // namespace

struct NamedMutex::Impl {
  std::string name;
  MutexState* state;
  // The state of this process; another one after a fork.
  MutexState* Current() {
    if (state->generation != g_forkGeneration.load(std::memory_order_relaxed) + 1u) state = StateOf(name);
    return state;
  }
};

NamedMutex::NamedMutex(const char* name) : impl_(nullptr) {
  if (name == nullptr) return;
  try {
    if (MutexState* state = StateOf(name)) impl_ = new Impl{name, state};
  } catch (...) {
    impl_ = nullptr;
  }
}

NamedMutex::~NamedMutex() { delete impl_; }

bool NamedMutex::valid() const { return impl_ != nullptr; }

bool NamedMutex::Lock() {
  if (impl_ == nullptr) return false;
  MutexState* state = nullptr;
  try {
    state = impl_->Current();
    if (state == nullptr) return false;
    int rc = pthread_mutex_lock(&state->threads);
    if (rc == EOWNERDEAD) {
      // Its holder thread vanished with it: it passes to this thread at its
      // first level, the file still locked by this process.
      state->depth = 0;
      rc = pthread_mutex_consistent(&state->threads);
    }
    if (rc != 0) return false;
    if (state->depth == 0) {
      if (!LockFile(state->fd)) {
        pthread_mutex_unlock(&state->threads);
        return false;
      }
      t_held.Add(state);
      state->owner.store(ThreadId(), std::memory_order_relaxed);
    }
    ++state->depth;
    return true;
  } catch (...) {
    // Only the list of held mutexes can throw (out of memory): the levels
    // stay consistent by giving this one up.
    if (state != nullptr && state->depth == 0) {
      flock(state->fd, LOCK_UN);
      pthread_mutex_unlock(&state->threads);
    }
    return false;
  }
}

void NamedMutex::Unlock() {
  if (impl_ == nullptr) return;
  MutexState* state = impl_->Current();
  // Like ReleaseMutex, a thread that does not hold the mutex cannot free it.
  if (state == nullptr || state->owner.load(std::memory_order_relaxed) != ThreadId()) return;
  if (state->depth == 1) {
    t_held.Remove(state);
    ReleaseAll(state);
    return;
  }
  --state->depth;
  pthread_mutex_unlock(&state->threads);
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
