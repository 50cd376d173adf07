// The few operating-system calls kqhost needs, behind one header so the rest
// of the tool is plain standard C++ (POSIX and Win32 bodies in HostOs.cpp).
#ifndef KQHOST_HOST_OS_H_
#define KQHOST_HOST_OS_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kqhost {

// A loaded shared library (dlopen / LoadLibrary).  Unloaded on destruction.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Loads the library; on failure returns false and fills *error.
  bool Open(const std::filesystem::path& path, std::string* error);
  // The address of an exported symbol, or null (and *error filled).
  void* Symbol(const char* name, std::string* error) const;
  void Close();
  // Forgets the handle without unloading: the library stays mapped until the process ends.
  void KeepLoaded() { handle_ = nullptr; }

 private:
  void* handle_ = nullptr;
};

// True when standard output is an interactive terminal.
bool StdoutIsTerminal();

// Modification time of a file as nanoseconds since 1970-01-01 UTC.
bool GetFileMtimeNs(const std::filesystem::path& path, int64_t* mtimeNs, std::string* error);
bool SetFileMtimeNs(const std::filesystem::path& path, int64_t mtimeNs, std::string* error);

// Ctrl-C and SIGTERM only raise a flag: transfers stop between chunks and
// no new work is handed out.  A watchdog thread then gives the calls still
// running kInterruptGraceMs to return; if they have not (a request stalled
// inside the library), it removes the partial files it knows of, names the
// work it abandons and ends the process with status 130 without waiting.
// Write sessions cut off that way are never committed.
inline constexpr int kInterruptGraceMs = 1000;
void InstallInterruptHandler();
bool InterruptRequested();

// Work in progress, named in the message of an abandoned run.
class WorkInProgress {
 public:
  explicit WorkInProgress(std::string label);
  ~WorkInProgress();
  WorkInProgress(const WorkInProgress&) = delete;
  WorkInProgress& operator=(const WorkInProgress&) = delete;

 private:
  uint64_t id_;
};

// A file restored below a destination folder.  Every folder on the way is
// opened relative to the one before without following symbolic links (a
// link planted in the destination is refused, never followed); missing
// folders are created.  The data goes to a temporary file in the target's
// folder, named ".kqhost-<random>.part": short, so a long target name cannot
// push it past the file system's name limit, and created exclusively, so it
// never replaces anything.  Commit moves it over the target; until then, and
// on interrupt, it is removed.
class RestoreRoot;
class RestoreFile {
 public:
  // `rel` is '/'-separated, already checked to be a plain relative path.
  RestoreFile(const RestoreRoot& root, const std::string& rel);  // throws std::runtime_error
  ~RestoreFile();
  RestoreFile(const RestoreFile&) = delete;
  RestoreFile& operator=(const RestoreFile&) = delete;

  // Whether something (a file, a folder, a link) already has the target's name.
  bool TargetExists() const;
  void Write(const unsigned char* data, size_t n);  // creates the temporary file on first use
  // Sets the modification time, closes, and moves the file into place.
  // Without `overwrite` an existing target is kept and Commit returns false.
  // Refused (throws) once an interrupt has been seen.
  bool Commit(int64_t mtimeNs, bool overwrite);

 private:
  struct State;
  State* state_;
};

class RestoreRoot {
 public:
  // Opens (creating it if missing) the destination folder.
  bool Open(const std::filesystem::path& dest, std::string* error);
  ~RestoreRoot();

 private:
  friend class RestoreFile;
#ifdef _WIN32
  std::filesystem::path path_;
#else
  int fd_ = -1;
#endif
};

// The folder that holds the running executable (empty if unknown).
std::filesystem::path ExecutableDir();

}  // namespace kqhost

#endif  // KQHOST_HOST_OS_H_
