// The VM's class-data archive of the library's classes: the classes a run
// loads are parsed and verified once, then mapped ready-made at every later
// start (a third of an idle start's CPU time here).
#ifndef KQHOST_CLASS_ARCHIVE_H_
#define KQHOST_CLASS_ARCHIVE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kqhost {

// One archive per Java installation and class path, kept in a cache folder
// under a key that changes whenever the VM library, the runtime image or any
// jar does (path, size, modification time). The first run of a key records
// the classes it loads; after it, the JDK's own dumper makes the archive from
// that list into a temporary file, moved into place only once complete (the
// VM cannot survive a damaged archive). A key whose dump failed is not tried
// again. The classes of the data path come only with a run that reads data
// (restore, verify): an archive recorded by any other command is kept as
// provisional (a `.listing` note beside it), mapped by the commands that read
// no data and recorded again by the first run that does, which makes it final.
// A run that maps an archive marks it used (its modification time); when
// another key's archive is made, those no run has used for kUnusedDays (a jar
// set an upgrade replaced, a Java installation gone) go with their notes.
// Off before Java 17 (Java 8 has no application archive, Java 11's
// fails the library's classes), on Windows, without a cache folder, or with
// KQHOST_CLASS_ARCHIVE=off.
class ClassArchive {
 public:
  // How long the dumper may take before it is stopped.
  static constexpr int kDumpTimeoutMs = 120000;
  // How long an archive no run maps is kept (30-40 MB each).
  static constexpr int kUnusedDays = 14;

  ClassArchive() = default;  // off
  ClassArchive(const std::filesystem::path& cacheDir, const std::filesystem::path& javaHome,
               const std::vector<std::filesystem::path>& classPath, bool readsData = false);

  // The VM options for this start: map the archive, record the classes, or none.
  std::vector<std::string> VmOptions() const;
  // After the run: when it recorded, makes the archive (bounded by
  // kDumpTimeoutMs and by Ctrl-C; after Ctrl-C only the recording goes).
  // Returns false with *error when it tried and failed.
  bool MakeIfRecorded(std::string* error);

  bool recording() const { return mode_ == Mode::kRecord; }
  const std::filesystem::path& archive() const { return archive_; }

 private:
  enum class Mode { kOff, kUse, kRecord };
  Mode mode_ = Mode::kOff;
  bool readsData_ = false;
  std::filesystem::path javaHome_, archive_, recording_, failed_, provisional_;
  std::string classPath_;
};

// The feature version of the Java installation (8, 11, 17, ...) from its
// `release` file; 0 when it cannot be told.
int JavaFeatureVersion(const std::filesystem::path& javaHome);

// The archive's key: FNV-1a of each file's path, size and modification time, in hex.
std::string ArchiveKey(const std::vector<std::filesystem::path>& files);

// A class list as the dumper takes it: class names, and the lambda proxies and
// method-handle forms the run spun (archived, they are not made again with
// each start: a restore loads 74 classes from outside the archive instead of
// 495); comments and any other kind of "@" line go.
std::string DumpableClassList(const std::string& recorded);

}  // namespace kqhost

#endif  // KQHOST_CLASS_ARCHIVE_H_
