// Text helpers: UTF-8 <-> UTF-16 (the plug-in's WString), hex and human units.
#ifndef KQHOST_TEXT_H_
#define KQHOST_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kq/CloudPluginInterface.h"

namespace kqhost {

// Strict conversion: nullopt when the input is not well-formed UTF-8
// (overlong forms, surrogates and truncated sequences are refused).
std::optional<WString> Utf8ToWide(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(const WString& wide);

// A name made safe for a terminal: control characters (C0, DEL, C1), bytes
// that are not well-formed UTF-8 and the backslash itself are written \xNN
// (the backslash as \\), so nothing a file name holds can move the cursor.
std::string Printable(std::string_view text);

std::string ToHex(const unsigned char* data, size_t size);

// "0 B", "999 B", "1.5 kB", "200.0 MB" (powers of 1000, as the MB/s figures).
std::string FormatBytes(uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(double seconds);
// "4.31 s" below a minute, "1:02" and longer as FormatDuration.
std::string FormatSeconds(double seconds);
// Megabytes (10^6 bytes) per second, one decimal.
std::string FormatRate(uint64_t bytes, double seconds);

// Parses "4194304", "4M", "4MiB", "512k" into bytes; nullopt when malformed.
std::optional<uint64_t> ParseSize(std::string_view text);

}  // namespace kqhost

#endif  // KQHOST_TEXT_H_
