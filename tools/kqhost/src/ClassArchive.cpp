#include "ClassArchive.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "HostOs.h"
#include "Jvm.h"

namespace kqhost {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

std::string Suffix() { return "." + std::to_string(ProcessId()); }

// What runs that ended without unwinding (killed, or abandoned after Ctrl-C) left: recordings, lists and partial
// archives an hour old.
void RemoveLeftovers(const fs::path& folder) {
  std::error_code ec;
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().u8string();
    bool transient = name.find(".classes.") != std::string::npos || name.find(".list.") != std::string::npos ||
                     name.find(".part.") != std::string::npos;
    std::error_code timeError;
    if (transient && it->last_write_time(timeError) < old && !timeError) fs::remove(it->path(), timeError);
  }
}

// Other keys whose archive no run has used for kUnusedDays: the archive and its notes, or notes as old whose key
// has no archive.
void RemoveUnused(const fs::path& folder, const std::string& keep) {
  std::error_code ec;
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * ClassArchive::kUnusedDays);
  std::vector<fs::path> unused;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path path = it->path();
    const std::string kind = path.extension().u8string(), key = path.stem().u8string();
    if (key == keep || (kind != ".jsa" && kind != ".listing" && kind != ".log" && kind != ".failed")) continue;
    const fs::path archive = folder / (key + ".jsa");
    std::error_code timeError;
    const auto used = fs::last_write_time(fs::exists(archive, timeError) ? archive : path, timeError);
    if (!timeError && used < old) unused.push_back(path);
  }
  for (const auto& path : unused) fs::remove(path, ec);
}

}  // namespace

int JavaFeatureVersion(const fs::path& javaHome) {
  std::istringstream lines(ReadFile(javaHome / "release"));
  for (std::string line; std::getline(lines, line);) {
    const std::string tag = "JAVA_VERSION=\"";
    if (line.rfind(tag, 0) != 0) continue;
    std::string version = line.substr(tag.size());
    if (version.rfind("1.", 0) == 0) version = version.substr(2);  // 1.8.0_x: Java 8
    return std::atoi(version.c_str());
  }
  return 0;
}

std::string ArchiveKey(const std::vector<fs::path>& files) {
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](const std::string& text) {
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    hash = (hash ^ 0xff) * 1099511628211ull;  // a separator no path holds
  };
  for (const auto& file : files) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(file, ec);
    mix((ec ? file : canonical).u8string());
    const auto size = fs::file_size(file, ec);
    mix(ec ? "-" : std::to_string(size));
    const auto time = fs::last_write_time(file, ec);
    mix(ec ? "-" : std::to_string(time.time_since_epoch().count()));
  }
  static const char kHex[] = "0123456789abcdef";
  std::string key;
  for (int shift = 60; shift >= 0; shift -= 4) key.push_back(kHex[(hash >> shift) & 0xf]);
  return key;
}

std::string DumpableClassList(const std::string& recorded) {
  std::istringstream lines(recorded);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '@' && line.rfind("@lambda-proxy ", 0) != 0 && line.rfind("@lambda-form-invoker ", 0) != 0) continue;
    kept += line;
    kept += '\n';
  }
  return kept;
}

ClassArchive::ClassArchive(const fs::path& cacheDir, const fs::path& javaHome, const std::vector<fs::path>& classPath,
                           bool readsData)
    : readsData_(readsData), javaHome_(javaHome), classPath_(JoinClassPath(classPath)) {
  const char* setting = std::getenv("KQHOST_CLASS_ARCHIVE");
  if (cacheDir.empty() || (setting != nullptr && std::string(setting) == "off")) return;
  // Application classes in an archive made from a class list: Java 10 and later, but Java 11's runs the library
  // wrongly (below); from 17 on it is right.
  if (JavaFeatureVersion(javaHome) < 17) return;
  std::vector<fs::path> inputs{VmLibraryOf(javaHome), javaHome / "lib" / "modules"};
  inputs.insert(inputs.end(), classPath.begin(), classPath.end());
  const fs::path folder = cacheDir / "kqhost" / "class-archives";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return;
  const std::string key = ArchiveKey(inputs);
  archive_ = folder / (key + ".jsa");
  failed_ = folder / (key + ".failed");
  provisional_ = folder / (key + ".listing");
  if (fs::exists(failed_, ec)) return;
  // A run that reads data replaces an archive that lacks the data path's classes (0.2 s of a restore's start).
  if (fs::is_regular_file(archive_, ec) && !(readsData_ && fs::exists(provisional_, ec))) {
    mode_ = Mode::kUse;
    fs::last_write_time(archive_, fs::file_time_type::clock::now(), ec);  // used now: kept by the sweep
    return;
  }
  recording_ = folder / (key + ".classes" + Suffix());
  mode_ = Mode::kRecord;
}

std::vector<std::string> ClassArchive::VmOptions() const {
  switch (mode_) {
    case Mode::kUse:
      return {"-XX:SharedArchiveFile=" + archive_.u8string()};
    case Mode::kRecord:
      return {"-XX:DumpLoadedClassList=" + recording_.u8string()};
    case Mode::kOff:
      break;
  }
  return {};
}

bool ClassArchive::MakeIfRecorded(std::string* error) {
  if (mode_ != Mode::kRecord) return true;
  mode_ = Mode::kOff;  // once
  std::error_code ec;
  const std::string list = DumpableClassList(ReadFile(recording_));
  fs::remove(recording_, ec);
  RemoveLeftovers(archive_.parent_path());
  RemoveUnused(archive_.parent_path(), archive_.stem().u8string());
  if (InterruptRequested()) {
    *error = "interrupted";
    return false;
  }
  const fs::path listFile = fs::path(archive_).replace_extension(".list" + Suffix());
  const fs::path part = fs::path(archive_).replace_extension(".part" + Suffix());
  const fs::path log = fs::path(archive_).replace_extension(".log");
  bool made = !list.empty() && WriteFile(listFile, list) &&
              RunProgram({(javaHome_ / "bin" / "java").u8string(), "-Xshare:dump",
                          "-XX:SharedClassListFile=" + listFile.u8string(), "-XX:SharedArchiveFile=" + part.u8string(),
                          "-cp", classPath_},
                         log, kDumpTimeoutMs, error);
  if (list.empty()) *error = "the VM recorded no classes";
  fs::remove(listFile, ec);
  // A class the dumper could not verify is a sign the VM would not run the archive right either (Java 11 dumps
  // such an archive, then refuses the library's classes with a VerifyError).
  if (made && ReadFile(log).find("Removed error class") != std::string::npos) {
    *error = "the dumper could not verify some classes";
    made = false;
  }
  if (made && !readsData_ && !WriteFile(provisional_, "recorded by a run that read no data\n")) {
    *error = "cannot write " + provisional_.u8string();
    made = false;
  }
  if (made) {
    fs::rename(part, archive_, ec);  // whole or not at all: a reader maps either the old file or this one
    if (ec) *error = "cannot move the archive into place: " + ec.message();
    made = !ec;
  }
  if (made && readsData_) fs::remove(provisional_, ec);
  fs::remove(part, ec);
  // A dump that failed on its own (not one cut short) would fail again: the key is not tried any more, and a
  // provisional archive stays as it is.
  if (!made && !InterruptRequested()) {
    if (readsData_ && fs::is_regular_file(archive_, ec))
      fs::remove(provisional_, ec);
    else
      WriteFile(failed_, *error + " (see " + log.u8string() + ")\n");
  }
  return made;
}

}  // namespace kqhost
