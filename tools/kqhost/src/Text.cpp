#include "Text.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace kqhost {

std::optional<WString> Utf8ToWide(std::string_view s) {
  WString out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      return std::nullopt;
    }
    if (i + len > s.size()) return std::nullopt;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<WChar>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<WChar>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<WChar>(cp));
    }
    i += len;
  }
  return out;
}

std::string WideToUtf8(const WString& w) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    uint32_t cp = static_cast<uint16_t>(w[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size()) {
      uint32_t lo = static_cast<uint16_t>(w[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string Printable(std::string_view text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char b) {
    out += "\\x";
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  };
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 1) {
      if (c == '\\')
        out += "\\\\";
      else if (c < 0x20 || c == 0x7F)
        escape(c);
      else
        out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (len == 0 || i + len > text.size() || !Utf8ToWide(text.substr(i, len))) {
      escape(c);
      ++i;
      continue;
    }
    auto second = static_cast<unsigned char>(text[i + 1]);
    if (c == 0xC2 && second < 0xA0) {  // U+0080..U+009F, the C1 controls
      escape(c);
      escape(second);
    } else {
      out.append(text, i, len);
    }
    i += len;
  }
  return out;
}

std::string ToHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0xF];
  }
  return out;
}

std::string FormatBytes(uint64_t bytes) {
  static const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB"};
  if (bytes < 1000) return std::to_string(bytes) + " B";
  double v = static_cast<double>(bytes);
  int unit = 0;
  while (v >= 1000.0 && unit < 5) {
    v /= 1000.0;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", v, kUnits[unit]);
  return buf;
}

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || seconds > 1e9) return "--:--";
  auto total = static_cast<uint64_t>(std::llround(seconds));
  uint64_t h = total / 3600, m = (total / 60) % 60, s = total % 60;
  char buf[48];
  if (h > 0)
    std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                  static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
  else
    std::snprintf(buf, sizeof buf, "%llu:%02llu", static_cast<unsigned long long>(m),
                  static_cast<unsigned long long>(s));
  return buf;
}

std::string FormatSeconds(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  if (seconds >= 60) return FormatDuration(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", seconds);
  return buf;
}

std::string FormatRate(uint64_t bytes, double seconds) {
  char buf[32];
  double rate = seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
  std::snprintf(buf, sizeof buf, "%.1f MB/s", rate);
  return buf;
}

std::optional<uint64_t> ParseSize(std::string_view text) {
  size_t i = 0;
  uint64_t value = 0;
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++i;
  }
  std::string unit;
  for (; i < text.size(); ++i) unit.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[i]))));
  uint64_t mult;
  if (unit.empty() || unit == "b")
    mult = 1;
  else if (unit == "k" || unit == "kib")
    mult = 1ULL << 10;
  else if (unit == "m" || unit == "mib")
    mult = 1ULL << 20;
  else if (unit == "g" || unit == "gib")
    mult = 1ULL << 30;
  else
    return std::nullopt;
  if (value > UINT64_MAX / mult) return std::nullopt;
  return value * mult;
}

}  // namespace kqhost
