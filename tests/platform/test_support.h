// Helpers shared by the platform and log tests (and the JVM rig's log reader).
#ifndef KQ_TESTS_PLATFORM_TEST_SUPPORT_H_
#define KQ_TESTS_PLATFORM_TEST_SUPPORT_H_

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/Platform.h"

#ifdef _WIN32
#define NOMINMAX 1  // as the C++ library defines it
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace kq {
namespace testing {

namespace fs = std::filesystem;

inline WString ToWide(const fs::path& path) { return platform::Widen(path.u8string()); }

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  explicit TempDir(const std::string& stem = "kq-test") {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            (stem + "-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  void Clear() const {  // empties the folder but keeps it
    for (const auto& entry : fs::directory_iterator(path_)) fs::remove_all(entry.path());
  }

 private:
  fs::path path_;
};

// Up to `count` bytes of a file from `from` on.
inline std::string ReadBytes(const fs::path& path, std::streamoff from = 0, size_t count = std::string::npos) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(from);
  std::string bytes;
  for (std::istreambuf_iterator<char> it(in), end; it != end && bytes.size() < count; ++it) bytes += *it;
  return bytes;
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One record of a log file, read by its fixed layout independently of the
// writer's code: "\r\n", the stamp, " :" and the text.
struct LogRecord {
  WString raw, text;  // raw: without the line break that opens it; text: "<torn>" without a stamp
  platform::LocalTime time{};
};

// The records in a log file's bytes (UTF-16LE).  A record goes on up to the
// next line break that a stamp follows, so a text may hold line breaks.
inline std::vector<LogRecord> LogRecords(const std::string& bytes) {
  static const std::regex stamp(
      R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})  \[[ 0-9a-f]{8}\] \[[ 0-9a-f]{8}\] :)");
  constexpr size_t kStampLength = 48;
  WString content;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    content.push_back(
        static_cast<WChar>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  const WString crlf = KQ_W("\r\n");
  std::string head;  // what the stamp's fields point into
  std::smatch fields;
  const auto startsAt = [&](size_t at) {  // just past a line break
    head = platform::WideToAnsi(content.substr(at, kStampLength));
    return content.compare(at - 2, 2, crlf) == 0 && std::regex_match(head, fields, stamp);
  };
  std::vector<LogRecord> records;
  for (size_t start = 2, end; start <= content.size(); start = end + 2) {
    LogRecord r{{}, KQ_W("<torn>")};
    const bool stamped = startsAt(start);
    if (stamped) {
      const auto field = [&](int i) { return std::atoi(fields[i].str().c_str()); };
      r.time = platform::LocalTime{field(1), field(2), field(3), field(4), field(5), field(6), field(7)};
    }
    end = content.find(crlf, start);
    while (end != WString::npos && !startsAt(end + 2)) end = content.find(crlf, end + 1);
    end = std::min(end, content.size());
    r.raw = content.substr(start, end - start);
    if (stamped) r.text = r.raw.substr(kStampLength);
    records.push_back(r);
  }
  return records;
}

// Waits for something that must happen; never judges how fast it happens.
template <typename Predicate> bool WaitUntil(Predicate done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The helper programs for the tests of processes sharing a named mutex: this
// build's `own`, then, when KQ_PEER_BUILD names another build of these tests
// (the 64-bit one beside a 32-bit one), its program at `inPeer` under it, so
// that processes of both ABIs meet on the same mutex.
inline std::vector<std::string> HelperPrograms(const std::string& own, const std::string& inPeer) {
  std::vector<std::string> programs{own};
  const char* peer = std::getenv("KQ_PEER_BUILD");
  if (peer != nullptr && *peer != '\0') programs.push_back((fs::path(peer) / inPeer).string());
  return programs;
}

// A helper program in a process of its own, killed if still running at the end.
class ChildProcess {
 public:
  ~ChildProcess() { Wait(true); }

  bool Start(const std::string& exe, std::vector<std::string> args) {
    args.insert(args.begin(), exe);
#ifdef _WIN32
    std::wstring command;
    for (const std::string& arg : args) command += L"\"" + platform::Widen(arg) + L"\" ";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
#else
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&process_, exe.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
#endif
    running_ = true;
    return true;
  }

  // Waits for the child to end, after ending it at once, as a crash would,
  // when `kill`.  Its exit code; -1 when it did not exit by itself.
  int Wait(bool kill = false) {
    if (!running_) return -1;
    running_ = false;
#ifdef _WIN32
    if (kill) TerminateProcess(process_, 137);
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    return kill ? -1 : static_cast<int>(code);
#else
    if (kill) ::kill(process_, SIGKILL);
    int status = 0;
    while (waitpid(process_, &status, 0) < 0 && errno == EINTR) continue;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  }

 private:
  bool running_ = false;
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t process_ = -1;
#endif
};

}  // namespace testing
}  // namespace kq

#endif  // KQ_TESTS_PLATFORM_TEST_SUPPORT_H_
