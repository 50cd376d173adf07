// The few operating-system calls kqhost needs, behind one header so the rest
// of the tool is plain standard C++: the POSIX bodies are in HostOs_posix.cpp,
// the Win32 ones in HostOs_win32.cpp.  The interrupt (Interrupt.h) and the
// restored files (RestoreFile.h) are parts of their own, included here for
// the files that use all three.
#ifndef KQHOST_HOST_OS_H_
#define KQHOST_HOST_OS_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Interrupt.h"
#include "RestoreFile.h"

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

// The folder that holds the running executable (empty if unknown).
std::filesystem::path ExecutableDir();

// This process's identifier.
uint64_t ProcessId();

// The user's cache folder ($XDG_CACHE_HOME, else ~/.cache); empty when there is none (and on Windows, where
// nothing kqhost keeps needs one).
std::filesystem::path UserCacheDir();

// Runs argv[0] (a path) with its output and errors to `output`, to its end: false with *error when it could not
// start, failed, ran past timeoutMs or was cut short by Ctrl-C (it is killed then). Not on Windows.
bool RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& output, int timeoutMs,
                std::string* error);

}  // namespace kqhost

#endif  // KQHOST_HOST_OS_H_
