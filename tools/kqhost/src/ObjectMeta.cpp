#include "ObjectMeta.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "Text.h"

namespace kqhost {

namespace {

WString Ascii(const char* s) {
  WString w;
  for (; *s; ++s) w.push_back(static_cast<WChar>(static_cast<unsigned char>(*s)));
  return w;
}

std::string LowerAscii(const WString& w) {
  std::string out;
  for (WChar c : w) {
    auto u = static_cast<uint16_t>(c);
    out.push_back(u < 0x80 ? static_cast<char>(std::tolower(u)) : '?');
  }
  return out;
}

const PluginValueRecord* Find(const MetaDataMap& map, const char* key) {
  for (const auto& entry : map)
    if (LowerAscii(entry.first) == key) return &entry.second;
  return nullptr;
}

bool ParseU64(const std::string& s, uint64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  errno = 0;
  unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *out = v;
  return true;
}

bool ParseI64(const std::string& s, int64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  size_t start = (s[0] == '-') ? 1 : 0;
  if (start == s.size()) return false;
  for (size_t i = start; i < s.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  errno = 0;
  long long v = std::strtoll(s.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *out = v;
  return true;
}

bool IsSha256Hex(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

MetaDataMap EncodeMeta(const FileMeta& meta) {
  MetaDataMap map;
  auto put = [&map](const char* key, const std::string& value) {
    PluginValueRecord rec;
    rec.szProperty = Ascii(value.c_str());
    rec.prpType = 0;  // a plain text property
    map[Ascii(key)] = rec;
  };
  put(kMetaSize, std::to_string(meta.size));
  put(kMetaMtime, std::to_string(meta.mtimeNs));
  put(kMetaSha256, meta.sha256);
  return map;
}

std::optional<FileMeta> DecodeMeta(const MetaDataMap& map, std::string* problem) {
  FileMeta meta;
  const PluginValueRecord* size = Find(map, kMetaSize);
  const PluginValueRecord* mtime = Find(map, kMetaMtime);
  const PluginValueRecord* sha = Find(map, kMetaSha256);
  if (size == nullptr || mtime == nullptr || sha == nullptr) {
    *problem = "metadata lacks ";
    *problem += size == nullptr ? kMetaSize : mtime == nullptr ? kMetaMtime : kMetaSha256;
    *problem += " (not written by kqhost, or the upload never finished)";
    return std::nullopt;
  }
  std::string sizeText = WideToUtf8(size->szProperty);
  std::string mtimeText = WideToUtf8(mtime->szProperty);
  meta.sha256 = WideToUtf8(sha->szProperty);
  for (char& c : meta.sha256) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!ParseU64(sizeText, &meta.size)) {
    *problem = std::string("malformed ") + kMetaSize + " '" + sizeText + "'";
    return std::nullopt;
  }
  if (!ParseI64(mtimeText, &meta.mtimeNs)) {
    *problem = std::string("malformed ") + kMetaMtime + " '" + mtimeText + "'";
    return std::nullopt;
  }
  if (!IsSha256Hex(meta.sha256)) {
    *problem = std::string("malformed ") + kMetaSha256 + " '" + meta.sha256 + "'";
    return std::nullopt;
  }
  return meta;
}

std::string NormalizePrefix(const std::string& prefix) {
  size_t b = 0, e = prefix.size();
  while (b < e && prefix[b] == '/') ++b;
  while (e > b && prefix[e - 1] == '/') --e;
  if (b == e) return "";
  return prefix.substr(b, e - b) + "/";
}

bool IsSafeRelativePath(const std::string& rel) {
  if (rel.empty() || !Utf8ToWide(rel)) return false;
  size_t start = 0;
  while (true) {
    size_t slash = rel.find('/', start);
    std::string seg = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (seg.empty() || seg == "." || seg == "..") return false;
    for (char c : seg)
      if (c == '\\' || c == '\0') return false;
#ifdef _WIN32
    for (char c : seg)
      if (c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') return false;
#endif
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

std::string ObjectNameFor(const std::string& normalizedPrefix, const std::string& rel) {
  return normalizedPrefix + rel;
}

std::optional<std::string> RelativePathOf(const std::string& normalizedPrefix, const std::string& objectName) {
  if (objectName.compare(0, normalizedPrefix.size(), normalizedPrefix) != 0) return std::nullopt;
  std::string rel = objectName.substr(normalizedPrefix.size());
  if (!IsSafeRelativePath(rel)) return std::nullopt;
  return rel;
}

}  // namespace kqhost
