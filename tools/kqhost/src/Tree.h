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
  std::string rel;             // '/'-separated UTF-8 path below the root
  uint64_t size = 0;
};

struct TreeListing {
  std::vector<SourceFile> files;     // sorted by rel
  std::vector<std::string> skipped;  // "rel: reason" for links, devices, unreadable folders
  std::vector<std::string> errors;   // "rel: reason" for entries that should have been backed up but cannot be
};

// Regular files only; symbolic links are not followed (they are listed in
// `skipped`).  Names that are not valid UTF-8, or that could not be restored
// safely, go to `errors`.
TreeListing ListTree(const std::filesystem::path& root);

}  // namespace kqhost

#endif  // KQHOST_TREE_H_
