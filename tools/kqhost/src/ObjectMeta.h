// What kqhost records about each file in its object's metadata, and the
// mapping between object names and relative file paths.
#ifndef KQHOST_OBJECT_META_H_
#define KQHOST_OBJECT_META_H_

#include <cstdint>
#include <optional>
#include <string>

#include "kq/CloudPluginInterface.h"

namespace kqhost {

// Metadata keys.  Azure metadata names must be identifiers (no '-'), and the
// service may hand them back in another case, so they are lower-case words.
inline constexpr const char* kMetaSize = "kqsize";
inline constexpr const char* kMetaMtime = "kqmtime";
inline constexpr const char* kMetaSha256 = "kqsha256";

struct FileMeta {
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // nanoseconds since 1970-01-01 UTC
  std::string sha256;   // 64 lowercase hex digits
};

MetaDataMap EncodeMeta(const FileMeta& meta);
// Reads the three entries (keys compared without regard to case).  On a
// missing or malformed entry returns nullopt and says why in *problem.
std::optional<FileMeta> DecodeMeta(const MetaDataMap& map, std::string* problem);

// "", "a", "a/" and "/a/" all normalise: "" stays "", the others become "a/".
std::string NormalizePrefix(const std::string& prefix);

// True when `rel` ('/'-separated, UTF-8) is a plain relative path that cannot
// escape the folder it is restored into: no empty, "." or ".." segment, no
// backslash, no NUL, no leading '/', and valid UTF-8.
bool IsSafeRelativePath(const std::string& rel);

// The object name for a file: prefix + rel.
std::string ObjectNameFor(const std::string& normalizedPrefix, const std::string& rel);
// The relative path an object restores to, or nullopt when the name does not
// start with the prefix or would not be a safe relative path.
std::optional<std::string> RelativePathOf(const std::string& normalizedPrefix, const std::string& objectName);

}  // namespace kqhost

#endif  // KQHOST_OBJECT_META_H_
