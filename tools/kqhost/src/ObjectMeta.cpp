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

std::optional<uint64_t> ListedLength(const MetaDataMap& map) {
  const PluginValueRecord* entry = Find(map, kListedLength);
  uint64_t length = 0;
  if (entry == nullptr || !ParseU64(WideToUtf8(entry->szProperty), &length)) return std::nullopt;
  return length;
}

bool IsFolderMarker(const MetaDataMap& map) {
  const PluginValueRecord* flag = Find(map, "hdi_isfolder");
  return flag != nullptr && LowerAscii(flag->szProperty) == "true";
}

std::string NormalizePrefix(const std::string& prefix) {
  size_t b = 0, e = prefix.size();
  while (b < e && prefix[b] == '/') ++b;
  while (e > b && prefix[e - 1] == '/') --e;
  if (b == e) return "";
  return prefix.substr(b, e - b) + "/";
}

namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

void AppendEscaped(std::string* out, unsigned char byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  out->push_back('%');
  out->push_back(kDigits[byte >> 4]);
  out->push_back(kDigits[byte & 0xF]);
}

// Length of the well-formed UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len <= 1 || i + len > s.size()) return len == 1 ? 1 : 0;
  return Utf8ToWide(std::string_view(s).substr(i, len)) ? len : 0;
}

std::string EncodeSegment(const std::string& seg) {
  std::string out;
  out.reserve(seg.size());
  for (size_t i = 0; i < seg.size();) {
    unsigned char c = static_cast<unsigned char>(seg[i]);
    size_t len = Utf8Length(seg, i);
    if (len == 0) {
      AppendEscaped(&out, c);
      ++i;
      continue;
    }
    bool escape = (len == 1 && (c < 0x20 || c == 0x7F || c == '\\')) || (c == '.' && i + 1 == seg.size()) ||
                  (c == '%' && i + 2 < seg.size() && IsUpperHex(seg[i + 1]) && IsUpperHex(seg[i + 2]));
    // U+FFFE and U+FFFF (EF BF BE, EF BF BF): a listing cannot carry them, so each of their bytes is escaped.
    bool notInListings = len == 3 && c == 0xEF && static_cast<unsigned char>(seg[i + 1]) == 0xBF &&
                         (static_cast<unsigned char>(seg[i + 2]) & 0xFE) == 0xBE;
    if (notInListings) {
      for (size_t k = 0; k < len; ++k) AppendEscaped(&out, static_cast<unsigned char>(seg[i + k]));
    } else if (escape) {
      AppendEscaped(&out, c);
    } else {
      out.append(seg, i, len);
    }
    i += len;
  }
  return out;
}

std::string DecodeSegment(const std::string& seg) {
  std::string out;
  out.reserve(seg.size());
  for (size_t i = 0; i < seg.size(); ++i) {
    if (seg[i] == '%' && i + 2 < seg.size() && IsUpperHex(seg[i + 1]) && IsUpperHex(seg[i + 2])) {
      out.push_back(static_cast<char>(HexValue(seg[i + 1]) * 16 + HexValue(seg[i + 2])));
      i += 2;
    } else {
      out.push_back(seg[i]);
    }
  }
  // Only what EncodeSegment writes is an escape; anything else is a name
  // another tool chose and is kept as it is.
  return EncodeSegment(out) == seg ? out : seg;
}

template <typename Fn> std::string MapSegments(const std::string& path, Fn fn) {
  std::string out;
  size_t start = 0;
  while (true) {
    size_t slash = path.find('/', start);
    out += fn(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return out;
    out.push_back('/');
    start = slash + 1;
  }
}

}  // namespace

std::string EncodeName(const std::string& rel) { return MapSegments(rel, EncodeSegment); }

std::optional<std::string> DecodeName(const std::string& stored) {
  std::string rel = MapSegments(stored, DecodeSegment);
  if (!IsSafeRelativePath(rel)) return std::nullopt;
  return rel;
}

std::string CheckPrefix(const std::string& prefix) {
  std::string normalized = NormalizePrefix(prefix);
  if (normalized.empty()) return "";
  if (!Utf8ToWide(normalized)) return "the prefix is not valid UTF-8";
  if (normalized.size() > 512) return "the prefix is longer than 512 bytes";
  std::string body = normalized.substr(0, normalized.size() - 1);
  size_t start = 0;
  while (true) {
    size_t slash = body.find('/', start);
    std::string seg = body.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (seg.empty()) return "the prefix has an empty segment ('//')";
    if (seg == "." || seg == "..") return "the prefix has a '" + seg + "' segment";
    if (seg.back() == '.') return "a prefix segment cannot end with '.'";
    for (char c : seg) {
      auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) return "the prefix holds a control character";
      if (c == '\\') return "the prefix holds a backslash";
    }
    if (seg.find("\xEF\xBF\xBE") != std::string::npos || seg.find("\xEF\xBF\xBF") != std::string::npos)
      return "the prefix holds U+FFFE or U+FFFF, which no listing can carry";
    if (slash == std::string::npos) return "";
    start = slash + 1;
  }
}

std::string CheckContainerName(const std::string& name) {
  static const char kRule[] =
      " is not a container name: 3-63 lower-case letters, digits and single hyphens, starting and ending with a "
      "letter or digit";
  bool ok = name.size() >= 3 && name.size() <= 63 && name.front() != '-' && name.back() != '-' &&
            name.find("--") == std::string::npos;
  for (char c : name) ok = ok && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
  if (ok || name == "$root") return "";
  std::string shown;
  for (char c : name.substr(0, 80)) {
    auto u = static_cast<unsigned char>(c);
    shown += u >= 0x20 && u < 0x7F ? std::string(1, c) : "?";
  }
  return "'" + shown + "'" + kRule;
}

bool IsSafeRelativePath(const std::string& rel) {
  if (rel.empty()) return false;
  size_t start = 0;
  while (true) {
    size_t slash = rel.find('/', start);
    std::string seg = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (seg.empty() || seg == "." || seg == "..") return false;
    if (seg.find('\0') != std::string::npos) return false;
#ifdef _WIN32
    if (!Utf8ToWide(seg)) return false;
    for (char c : seg)
      if (static_cast<unsigned char>(c) < 0x20 || c == '\\' || c == ':' || c == '<' || c == '>' || c == '"' ||
          c == '|' || c == '?' || c == '*')
        return false;
#endif
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

std::string ObjectNameFor(const std::string& normalizedPrefix, const std::string& rel) {
  return normalizedPrefix + EncodeName(rel);
}

std::optional<std::string> RelativePathOf(const std::string& normalizedPrefix, const std::string& objectName) {
  if (objectName.compare(0, normalizedPrefix.size(), normalizedPrefix) != 0) return std::nullopt;
  return DecodeName(objectName.substr(normalizedPrefix.size()));
}

}  // namespace kqhost
