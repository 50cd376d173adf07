#include "Tree.h"

#include <algorithm>
#include <system_error>

namespace kqhost {

namespace fs = std::filesystem;

namespace {

std::string Join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

void Walk(const fs::path& dir, const std::string& relDir, TreeListing* out) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec), end;
  if (ec) {
    out->errors.push_back((relDir.empty() ? "." : relDir) + ": cannot list folder: " + ec.message());
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != end; it.increment(ec)) {
    if (ec) {
      out->errors.push_back((relDir.empty() ? "." : relDir) + ": listing stopped: " + ec.message());
      break;
    }
    entries.push_back(*it);
  }
  for (const auto& entry : entries) {
    std::string name = entry.path().filename().u8string();
    std::string rel = Join(relDir, name);
    std::error_code sec;
    fs::file_status st = entry.symlink_status(sec);
    if (sec) {
      out->errors.push_back(rel + ": " + sec.message());
      continue;
    }
    if (fs::is_symlink(st)) {
      out->skipped.push_back(rel + ": symbolic link, not followed");
    } else if (fs::is_directory(st)) {
      Walk(entry.path(), rel, out);
    } else if (fs::is_regular_file(st)) {
      uint64_t size = entry.file_size(sec);
      if (sec) {
        out->errors.push_back(rel + ": " + sec.message());
        continue;
      }
      out->files.push_back(SourceFile{entry.path(), rel, size});
    } else {
      out->skipped.push_back(rel + ": not a regular file");
    }
  }
}

}  // namespace

TreeListing ListTree(const fs::path& root) {
  TreeListing out;
  Walk(root, "", &out);
  std::sort(out.files.begin(), out.files.end(), [](const SourceFile& a, const SourceFile& b) { return a.rel < b.rel; });
  return out;
}

}  // namespace kqhost
