// Restoring a file below a destination folder without following links and
// without replacing anything unasked.  The POSIX bodies are in
// RestoreFile_posix.cpp, the Win32 ones in RestoreFile_win32.cpp.
#ifndef KQHOST_RESTOREFILE_H_
#define KQHOST_RESTOREFILE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace kqhost {

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
  // The system's handles and names; it releases them (and removes a
  // temporary file not moved into place) when it ends.
  struct State;
  std::unique_ptr<State> state_;
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

}  // namespace kqhost

#endif  // KQHOST_RESTOREFILE_H_
