// RestoreFile.h on Windows: paths below the destination, each folder
// checked not to be a link before it is entered.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "HostOs.h"
#include "RestoreNames.h"
#include "Win32Error.h"

namespace kqhost {

using restore::Fail;

struct RestoreFile::State {
  std::filesystem::path dir, target, temp;
  std::FILE* out = nullptr;
  uint64_t partId = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    PartialFiles parts;
    if (out != nullptr) std::fclose(out);
    if (!temp.empty()) {
      std::error_code ec;
      std::filesystem::remove(temp, ec);
    }
    if (partId != 0) parts.Drop(partId);
  }
};

bool RestoreRoot::Open(const std::filesystem::path& dest, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dest, ec);
  if (ec || !std::filesystem::is_directory(dest, ec)) {
    *error = ec ? ec.message() : "not a folder";
    return false;
  }
  path_ = dest;
  return true;
}

RestoreRoot::~RestoreRoot() = default;

RestoreFile::RestoreFile(const RestoreRoot& root, const std::string& rel) : state_(std::make_unique<State>()) {
  std::vector<std::string> segs = restore::Segments(rel);
  std::filesystem::path dir = root.path_;
  std::string walked;
  for (size_t i = 0; i + 1 < segs.size(); ++i) {
    dir /= std::filesystem::u8path(segs[i]);
    walked += (walked.empty() ? "" : "/") + segs[i];
    std::error_code ec;
    auto st = std::filesystem::symlink_status(dir, ec);
    if (std::filesystem::is_symlink(st)) Fail(walked + " is a symbolic link in the destination; not followed");
    if (!std::filesystem::exists(st)) std::filesystem::create_directory(dir, ec);
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(dir, ec))) {
      Fail("cannot create the folder " + walked);
    }
  }
  state_->dir = dir;
  state_->target = dir / std::filesystem::u8path(segs.back());
}

RestoreFile::~RestoreFile() = default;

bool RestoreFile::TargetExists() const {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(state_->target, ec));
}

void RestoreFile::Write(const unsigned char* data, size_t n) {
  if (state_->out == nullptr) {
    for (int attempt = 0; attempt < 10 && state_->out == nullptr; ++attempt) {
      std::filesystem::path temp = state_->dir / restore::TempName();
      state_->out = _wfopen(temp.wstring().c_str(), L"wxb");
      if (state_->out != nullptr) state_->temp = temp;
    }
    if (state_->out == nullptr) Fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    PartialFiles parts;
    state_->partId = parts.Add([temp = state_->temp] {
      std::error_code ec;
      std::filesystem::remove(temp, ec);
    });
  }
  if (n > 0 && std::fwrite(data, 1, n, state_->out) != n) Fail(std::string("write failed: ") + std::strerror(errno));
}

bool RestoreFile::Commit(int64_t mtimeNs, bool overwrite) {
  if (state_->out == nullptr) Write(nullptr, 0);
  int rc = std::fclose(state_->out);
  state_->out = nullptr;
  if (rc != 0) Fail(std::string("write failed: ") + std::strerror(errno));
  std::string error;
  if (!SetFileMtimeNs(state_->temp, mtimeNs, &error)) Fail("cannot set the modification time: " + error);
  PartialFiles parts;
  if (parts.Interrupted()) Fail("interrupted");
  if (!overwrite && TargetExists()) return false;
  if (!MoveFileExW(state_->temp.wstring().c_str(), state_->target.wstring().c_str(),
                   overwrite ? MOVEFILE_REPLACE_EXISTING : 0)) {
    if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) return false;
    Fail("cannot move the restored file into place: " + LastWin32Error());
  }
  state_->temp.clear();
  return true;
}

}  // namespace kqhost
