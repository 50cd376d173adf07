// RestoreFile.h on POSIX systems: every step relative to an open folder.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "HostOs.h"
#include "PosixTime.h"
#include "RestoreNames.h"

namespace kqhost {

using restore::Fail;

namespace {
// The most one buffered write() hands the kernel.  Writes of several MiB spend
// most of their time filling fresh page-cache pages: on a 2-core virtual
// machine a 512 MiB restore in 8 MiB writes took 0.9-1.4 s of kernel copying,
// in 1 MiB writes about 0.1 s, and smaller pieces gained nothing more.
constexpr size_t kWritePiece = size_t{1} << 20;

// A write past the page cache (O_DIRECT) needs its address, length and file
// offset on the device's block; 4096 is a multiple of the usual 512 and 4096.
// Only chunks of at least kWritePiece go that way: small files and the tail
// of a large one are buffered.
constexpr uint64_t kDirectAlign = 4096;

bool DirectShaped(const unsigned char* data, size_t n, uint64_t offset) {
  return n >= kWritePiece && reinterpret_cast<uintptr_t>(data) % kDirectAlign == 0 && n % kDirectAlign == 0 &&
         offset % kDirectAlign == 0;
}
}  // namespace

struct RestoreFile::State {
  int dirFd = -1;
  std::string name, temp;
  int fd = -1;
  uint64_t partId = 0;
  uint64_t offset = 0;         // bytes written so far
  bool direct = false;         // fd has O_DIRECT set
  bool directRefused = false;  // the file system said no once: buffered from then on

  // Turns O_DIRECT on or off; false when the file system refuses.
  bool SetDirect(bool on) {
#ifdef O_DIRECT
    if (on == direct) return true;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) != 0) return false;
    direct = on;
    return true;
#else
    return !on;
#endif
  }

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    {
      PartialFiles parts;
      if (fd >= 0) close(fd);
      if (!temp.empty()) unlinkat(dirFd, temp.c_str(), 0);
      if (partId != 0) parts.Drop(partId);
    }
    if (dirFd >= 0) close(dirFd);
  }
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

RestoreFile::RestoreFile(const RestoreRoot& root, const std::string& rel) : state_(std::make_unique<State>()) {
  std::vector<std::string> segs = restore::Segments(rel);
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
      if (isLink) Fail(walked + " is a symbolic link in the destination; not followed");
      Fail("cannot open the folder " + walked + ": " + std::strerror(err));
    }
  }
  if (dir < 0) Fail(std::string("cannot open the destination: ") + std::strerror(errno));
  state_->dirFd = dir;
  state_->name = segs.back();
}

RestoreFile::~RestoreFile() = default;

bool RestoreFile::TargetExists() const {
  struct stat st;
  return fstatat(state_->dirFd, state_->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

void RestoreFile::Write(const unsigned char* data, size_t n) {
  if (state_->fd < 0) {
    PartialFiles parts;
    if (parts.Abandoned()) Fail("interrupted");
    for (int attempt = 0; attempt < 10 && state_->fd < 0; ++attempt) {
      std::string temp = restore::TempName();
      state_->fd = openat(state_->dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (state_->fd >= 0)
        state_->temp = temp;
      else if (errno != EEXIST)
        break;
    }
    if (state_->fd < 0) Fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    state_->partId = parts.Add([dirFd = state_->dirFd, temp = state_->temp] { unlinkat(dirFd, temp.c_str(), 0); });
  }
  // Large chunks go past the page cache: they are not read again soon, and
  // filling the cache with them costs more CPU than the device's own copy.
  while (n > 0) {
    bool direct = false;
    if (!state_->directRefused && DirectShaped(data, n, state_->offset)) {
      direct = state_->SetDirect(true);
      state_->directRefused = !direct;
    }
    if (!direct && !state_->SetDirect(false)) Fail(std::string("write failed: ") + std::strerror(errno));
    ssize_t k = write(state_->fd, data, direct ? n : std::min(n, kWritePiece));
    if (k < 0 && errno == EINTR) continue;
    if (k < 0 && errno == EINVAL && direct) {  // a block larger than kDirectAlign, or no O_DIRECT after all
      state_->directRefused = true;
      continue;
    }
    if (k < 0) Fail(std::string("write failed: ") + std::strerror(errno));
    data += k;
    n -= static_cast<size_t>(k);
    state_->offset += static_cast<uint64_t>(k);
  }
}

bool RestoreFile::Commit(int64_t mtimeNs, bool overwrite) {
  if (state_->fd < 0) Write(nullptr, 0);
  const MtimeOnly mtime(mtimeNs);
  if (futimens(state_->fd, mtime.times) != 0) {
    Fail(std::string("cannot set the modification time: ") + std::strerror(errno));
  }
  int rc = close(state_->fd);
  state_->fd = -1;
  if (rc != 0) Fail(std::string("write failed: ") + std::strerror(errno));

  PartialFiles parts;
  if (parts.Interrupted()) Fail("interrupted");
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

}  // namespace kqhost
