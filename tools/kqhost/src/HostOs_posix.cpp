// HostOs.h on POSIX systems.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace kqhost
