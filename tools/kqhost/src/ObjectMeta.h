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
// Not stored: the library adds the object's real length to each listed
// object's metadata under this reserved name (ListLength=true).
inline constexpr const char* kListedLength = "kq.length";

struct FileMeta {
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // nanoseconds since 1970-01-01 UTC
  std::string sha256;   // 64 lowercase hex digits
};

MetaDataMap EncodeMeta(const FileMeta& meta);
// Reads the three entries (keys compared without regard to case).  On a
// missing or malformed entry returns nullopt and says why in *problem.
std::optional<FileMeta> DecodeMeta(const MetaDataMap& map, std::string* problem);

// The real length a listing carries (kListedLength), or nullopt when it has none.
std::optional<uint64_t> ListedLength(const MetaDataMap& map);

// True when the metadata marks a folder placeholder (hdi_isfolder=true), as
// accounts with a hierarchical namespace keep for every directory.
bool IsFolderMarker(const MetaDataMap& map);

// "", "a", "a/" and "/a/" all normalise: "" stays "", the others become "a/".
std::string NormalizePrefix(const std::string& prefix);

// Why a user-given prefix cannot be used as it is (empty when it can): every
// '/'-separated segment must be a name the store holds unchanged.
std::string CheckPrefix(const std::string& prefix);
// Why a container name would be refused by the store (empty when it is fine):
// 3-63 lower-case letters, digits and single hyphens, starting and ending
// with a letter or digit.
std::string CheckContainerName(const std::string& name);

// File names and object names.  A local name travels as it is unless the
// store cannot hold it; then the offending bytes are written %XX (two
// upper-case hex digits):
//   - control characters (0x00-0x1F, 0x7F) and '\';
//   - bytes that are not part of well-formed UTF-8 (Linux names are bytes);
//   - U+FFFE and U+FFFF, which the store keeps but its listings cannot carry;
//   - a '.' that ends a segment (the store drops or refuses trailing dots);
//   - a literal '%' followed by two upper-case hex digits, so that the
//     mapping stays reversible while "100%.txt" or "a%20b" stay unchanged.
// `rel` is '/'-separated; the separators are kept.
std::string EncodeName(const std::string& rel);
// The inverse for one stored relative name.  A segment that EncodeName could
// not have produced (another tool's "a%41") is taken literally.  nullopt when
// the result is not a plain relative path: an empty, "." or ".." segment, a
// NUL, a leading '/'.
std::optional<std::string> DecodeName(const std::string& stored);

// True when `rel` ('/'-separated, UTF-8) is a plain relative path that cannot
// escape the folder it is restored into: no empty, "." or ".." segment, no
// NUL, no leading '/' (and on Windows none of the characters it refuses).
bool IsSafeRelativePath(const std::string& rel);

// The object name for a file: prefix + EncodeName(rel).
std::string ObjectNameFor(const std::string& normalizedPrefix, const std::string& rel);
// The relative path an object restores to, or nullopt when the name does not
// start with the prefix or would not be a safe relative path.
std::optional<std::string> RelativePathOf(const std::string& normalizedPrefix, const std::string& objectName);

}  // namespace kqhost

#endif  // KQHOST_OBJECT_META_H_
