// Walks a source folder and lists the regular files to back up.
#ifndef KQHOST_TREE_H_
#define KQHOST_TREE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kqhost {

struct SourceFile {
  std::filesystem::path path;  // full path on disk
  std::string rel;             // '/'-separated path below the root, as the file system names it
  uint64_t size = 0;
};

struct TreeListing {
  std::vector<SourceFile> files;     // sorted by rel
  std::vector<std::string> skipped;  // "rel: reason" for links, devices, unreadable folders
  std::vector<std::string> errors;   // "rel: reason" for entries that should have been backed up but cannot be
};

// Regular files only; symbolic links are not followed (they are listed in
// `skipped`).  Every name is kept as the file system has it (on Linux: bytes,
// UTF-8 or not); ObjectNameFor makes it storable.
TreeListing ListTree(const std::filesystem::path& root);

}  // namespace kqhost

#endif  // KQHOST_TREE_H_
