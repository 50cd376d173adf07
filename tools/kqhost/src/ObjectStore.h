// kqhost's file-level operations, expressed in the plug-in's object calls.
#ifndef KQHOST_OBJECT_STORE_H_
#define KQHOST_OBJECT_STORE_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ObjectMeta.h"
#include "kq/CloudPluginInterface.h"

namespace kqhost {

// A failure about one file or object that is not a plug-in code (I/O, a
// changed source, a checksum mismatch).
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StoredObject {
  std::string name;                // full object name (UTF-8)
  std::optional<FileMeta> meta;    // nullopt when the metadata is not kqhost's
  std::string metaProblem;         // why meta is missing
  std::optional<uint64_t> length;  // the object's real length, when the listing carries it
  bool folderMarker = false;       // a directory placeholder, not a file
};

class ObjectStore {
 public:
  // `chunkSize` is the most bytes one plug-in call carries; files up to that
  // size go up in one WriteObject-with-metadata call.
  ObjectStore(ICloudPluginInterface* plugin, size_t chunkSize);

  size_t chunkSize() const { return chunkSize_; }

  // Uploads a file and commits it with its size, mtime and SHA-256.  The
  // object appears only when every byte is in; on any failure nothing is
  // committed.  `progress` receives byte counts as chunks go out; `cancelled`
  // is polled between chunks.  Returns the metadata stored.
  FileMeta PutFile(const std::filesystem::path& file, const std::string& objectName,
                   const std::function<void(uint64_t)>& progress, const std::function<bool()>& cancelled);

  // Takes every chunk of a read, in order.
  using Sink = std::function<void(const unsigned char*, size_t)>;

  // Reads `size` bytes of an object in ranges of chunkSize, handing each to
  // every sink (each on a thread of its own, so a write and a hash overlap).
  // Throws PluginError, or FileError when the object is shorter or longer.
  void ReadAll(const std::string& objectName, uint64_t size, const std::vector<Sink>& sinks,
               const std::function<bool()>& cancelled);

  // The objects whose names start with `prefix`, with their metadata, sorted by name.
  std::vector<StoredObject> List(const std::string& prefix);

  void Delete(const std::string& objectName);

 private:
  ICloudPluginInterface* plugin_;
  size_t chunkSize_;
};

}  // namespace kqhost

#endif  // KQHOST_OBJECT_STORE_H_
