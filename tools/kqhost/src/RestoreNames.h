// What both halves of RestoreFile share: the temporary file's name and the
// folders of a relative path.
#ifndef KQHOST_RESTORENAMES_H_
#define KQHOST_RESTORENAMES_H_

#include <cstdio>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace kqhost {
namespace restore {

// ".kqhost-<16 hex>.part", random.
inline std::string TempName() {
  static std::mutex mu;
  static std::mt19937_64 random{std::random_device{}()};
  char buf[40];
  std::lock_guard<std::mutex> lock(mu);
  std::snprintf(buf, sizeof buf, ".kqhost-%016llx.part", static_cast<unsigned long long>(random()));
  return buf;
}

// The '/'-separated segments of `rel`, the file's own name last.
inline std::vector<std::string> Segments(const std::string& rel) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t slash = rel.find('/', start);
    out.push_back(rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return out;
    start = slash + 1;
  }
}

[[noreturn]] inline void Fail(const std::string& what) { throw std::runtime_error(what); }

}  // namespace restore
}  // namespace kqhost

#endif  // KQHOST_RESTORENAMES_H_
