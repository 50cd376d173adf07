// The Win32 named mutex and the log writer across processes.
//
// The program starts copies of itself in a helper role ("--child ...") so
// that every scenario has real, separate processes: one that holds the log
// mutex and is killed, writers that race on the same folder, a writer that
// rotates a full set of files.  Each child gets a fresh process-wide log
// writer, so every test may pick its own log folder.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <aclapi.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "log/JniWrapperLog.h"
#include "platform/Platform.h"

namespace {

const char kLogMutexName[] = "AZURE_JNIWRAPPER_LOG_MUTEX";
const DWORD kChildTimeoutMs = 60000;

std::wstring Widen(const char* text) {
  std::wstring out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
  return out;
}

std::wstring OwnPath() {
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), n);
}

std::wstring UniqueName(const wchar_t* what) {
  static LONG counter = 0;
  return std::wstring(L"kq_") + what + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(InterlockedIncrement(&counter));
}

// A fresh, empty folder under the temporary directory, removed with its files.
class TempFolder {
 public:
  TempFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp, n) + UniqueName(L"log");
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((path_ + L"\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW((path_ + L"\\" + data.cFileName).c_str());
      } while (FindNextFileW(h, &data));
      FindClose(h);
    }
    RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }
  std::wstring File(int n) const { return path_ + L"\\JNIWrapper" + std::to_wstring(n) + L".log"; }

 private:
  std::wstring path_;
};

class Child {
 public:
  explicit Child(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + OwnPath() + L"\" --child " + arguments;
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    ZeroMemory(&pi_, sizeof(pi_));
    started_ = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) != 0;
  }
  ~Child() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return started_; }
  DWORD pid() const { return pi_.dwProcessId; }
  DWORD tid() const { return pi_.dwThreadId; }
  void Kill() { TerminateProcess(pi_.hProcess, 99); WaitForSingleObject(pi_.hProcess, kChildTimeoutMs); }
  // The exit code, or -1 when the child did not end in time.
  long Wait(DWORD timeoutMs = kChildTimeoutMs) {
    if (WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION pi_;
  bool started_ = false;
};

class Event {
 public:
  Event() : name_(UniqueName(L"event")), handle_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}
  ~Event() { CloseHandle(handle_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  const std::wstring& name() const { return name_; }
  void Set() { SetEvent(handle_); }
  bool WaitFor(DWORD ms) { return WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0; }

 private:
  std::wstring name_;
  HANDLE handle_;
};

// The file as UTF-16LE code units, split into records at each CR LF.
std::vector<std::wstring> ReadRecords(const std::wstring& path, bool* startsWithLineBreak) {
  std::vector<std::wstring> records;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return records;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  *startsWithLineBreak = text.compare(0, 2, L"\r\n") == 0;
  size_t pos = 2;
  while (pos <= text.size() && *startsWithLineBreak) {
    size_t next = text.find(L"\r\n", pos);
    if (next == std::wstring::npos) next = text.size();
    records.push_back(text.substr(pos, next - pos));
    pos = next + 2;
  }
  return records;
}

int64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(h);
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lower-case hexadecimal, right-aligned in eight positions.
std::wstring Hex8(DWORD value) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), L"0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value != 0);
  return std::wstring(8 - digits.size(), L' ') + digits;
}

// ---------------------------------------------------------------------------

TEST(NamedMutex, IsCreatedWithNullDacl) {
  std::wstring name = UniqueName(L"dacl");
  std::string narrow(name.begin(), name.end());
  kq::platform::NamedMutex mutex(narrow.c_str());
  ASSERT_TRUE(mutex.valid());

  HANDLE h = OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, name.c_str());
  ASSERT_NE(h, nullptr) << "the mutex is not reachable by its name";
  PACL dacl = reinterpret_cast<PACL>(1);
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd);
  ASSERT_EQ(rc, static_cast<DWORD>(ERROR_SUCCESS));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL fromDescriptor = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &fromDescriptor, &defaulted));
  EXPECT_TRUE(present) << "a missing DACL would give the creator's default, not access for everyone";
  EXPECT_EQ(fromDescriptor, nullptr);
  EXPECT_EQ(dacl, nullptr);
  LocalFree(sd);
  CloseHandle(h);
}

TEST(LogAcrossProcesses, TwoWritersProduceWholeRecordsInOrder) {
  TempFolder folder;
  const int kRecords = 300;
  Event start;
  std::wstring common = L"\"" + folder.path() + L"\" " + std::to_wstring(kRecords) + L" ";
  Child a(L"write " + common + L"A " + start.name());
  Child b(L"write " + common + L"B " + start.name());
  ASSERT_TRUE(a.started() && b.started());
  start.Set();
  ASSERT_EQ(a.Wait(), 0);
  ASSERT_EQ(b.Wait(), 0);

  bool leadingBreak = false;
  std::vector<std::wstring> records = ReadRecords(folder.File(0), &leadingBreak);
  EXPECT_TRUE(leadingBreak) << "the file must start with an empty line";
  ASSERT_EQ(records.size(), static_cast<size_t>(2 * kRecords));

  const std::wregex shape(
      L"(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})\\.(\\d{3})  \\[([ 0-9a-f]{8})\\] \\[([ 0-9a-f]{8})\\] "
      L":([AB]) message (\\d+)");
  int next[2] = {0, 0};
  const std::wstring pid[2] = {Hex8(a.pid()), Hex8(b.pid())};
  const std::wstring tid[2] = {Hex8(a.tid()), Hex8(b.tid())};
  for (const std::wstring& record : records) {
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(record, m, shape)) << "malformed or interleaved record: "
                                                     << std::string(record.begin(), record.end());
    int month = std::stoi(m[2].str()), day = std::stoi(m[3].str()), hour = std::stoi(m[4].str());
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23);
    const int who = m[10].str() == L"A" ? 0 : 1;
    EXPECT_EQ(m[8].str(), pid[who]) << "process identifier";
    EXPECT_EQ(m[9].str(), tid[who]) << "thread identifier";
    EXPECT_EQ(std::stoi(m[11].str()), next[who]++) << "records of one writer out of order or lost";
  }
  EXPECT_EQ(next[0], kRecords);
  EXPECT_EQ(next[1], kRecords);
}

TEST(LogAcrossProcesses, AKilledMutexHolderDoesNotStallTheNextWriter) {
  TempFolder folder;
  Event ready;
  {
    Child holder(L"hold " + Widen(kLogMutexName) + L" " + ready.name());
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(ready.WaitFor(kChildTimeoutMs));
    holder.Kill();
  }
  Event start;
  start.Set();
  Child writer(L"write \"" + folder.path() + L"\" 1 A " + start.name());
  ASSERT_TRUE(writer.started());
  ASSERT_EQ(writer.Wait(20000), 0) << "the writer stalled on the abandoned log mutex";
  bool leadingBreak = false;
  std::vector<std::wstring> records = ReadRecords(folder.File(0), &leadingBreak);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].find(L" :A message 0"), std::wstring::npos);
}

// Files 0..10 present, file 0 just short of the limit: one more record pushes
// it over, every file moves up by one, the old 10 is gone, 0 is new and empty.
TEST(LogRotation, ShiftsElevenFilesAndDropsTheOldest) {
  const int64_t limit = CJNIWrapperLog::kRotateBytes;
  TempFolder folder;
  for (int n = 1; n <= 10; ++n) WriteBytes(folder.File(n), "old file " + std::to_string(n));
  std::string full(static_cast<size_t>(limit - 2), 'x');
  WriteBytes(folder.File(0), full);

  Event start;
  start.Set();
  Child writer(L"write \"" + folder.path() + L"\" 1 A " + start.name());
  ASSERT_EQ(writer.Wait(), 0);

  EXPECT_EQ(SizeOf(folder.File(0)), 0) << "a new, empty current file";
  EXPECT_GT(SizeOf(folder.File(1)), limit) << "the record that crossed the limit stays in the rotated file";
  std::string rotated = ReadBytes(folder.File(1));
  EXPECT_EQ(rotated.compare(0, full.size(), full), 0);
  for (int n = 2; n <= 10; ++n) {
    EXPECT_EQ(ReadBytes(folder.File(n)), "old file " + std::to_string(n - 1)) << "JNIWrapper" << n << ".log";
  }
  EXPECT_EQ(SizeOf(folder.File(11)), -1) << "never more than eleven files";
}

TEST(LogRotation, KeepsGapsAndStaysBelowTheLimitWithoutRotating) {
  const int64_t limit = CJNIWrapperLog::kRotateBytes;
  TempFolder folder;
  WriteBytes(folder.File(1), "one");
  WriteBytes(folder.File(2), "two");
  WriteBytes(folder.File(4), "four");  // 3 missing
  WriteBytes(folder.File(0), std::string(static_cast<size_t>(limit - 200), 'x'));

  Event start;
  start.Set();
  {
    // One record is 122 bytes: the file ends 78 bytes short of the limit.
    Child one(L"write \"" + folder.path() + L"\" 1 A " + start.name());
    ASSERT_EQ(one.Wait(), 0);
  }
  EXPECT_EQ(SizeOf(folder.File(0)), limit - 200 + 122);
  EXPECT_EQ(ReadBytes(folder.File(1)), "one");

  // The first of these crosses the limit; the other two start the new file.
  Child three(L"write \"" + folder.path() + L"\" 3 A " + start.name());
  ASSERT_EQ(three.Wait(), 0);
  EXPECT_EQ(SizeOf(folder.File(1)), limit - 200 + 2 * 122);
  EXPECT_EQ(ReadBytes(folder.File(2)), "one");
  EXPECT_EQ(ReadBytes(folder.File(3)), "two");
  EXPECT_EQ(SizeOf(folder.File(4)), -1) << "only existing files move";
  EXPECT_EQ(ReadBytes(folder.File(5)), "four");
  bool leadingBreak = false;
  std::vector<std::wstring> records = ReadRecords(folder.File(0), &leadingBreak);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].find(L" :A message 1"), std::wstring::npos);
}

// ---------------------------------------------------------------------------
// Child roles.

// hold MUTEX EVENT: take the named mutex, signal EVENT, wait to be killed.
int HoldMutex(const char* mutexName, const char* eventName) {
  kq::platform::NamedMutex mutex(mutexName);
  if (!mutex.Lock()) return 2;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, Widen(eventName).c_str());
  if (ready == nullptr) return 3;
  SetEvent(ready);
  Sleep(INFINITE);
  return 0;
}

// write FOLDER COUNT TAG EVENT: wait for EVENT, then log COUNT messages
// "TAG message i" into FOLDER.
int WriteMessages(const char* folder, const char* count, const char* tag, const char* eventName) {
  HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, Widen(eventName).c_str());
  if (start == nullptr || WaitForSingleObject(start, kChildTimeoutMs) != WAIT_OBJECT_0) return 3;
  CJNIWrapperLog* log = CJNIWrapperLog::GetInstance(Widen(folder));
  if (log == nullptr) return 2;
  const int n = std::atoi(count);
  for (int i = 0; i < n; ++i) log->Write(Widen(tag) + L" message " + std::to_wstring(i));
  return 0;
}

int RunChild(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[0], "hold") == 0) return HoldMutex(argv[1], argv[2]);
  if (argc == 5 && std::strcmp(argv[0], "write") == 0) return WriteMessages(argv[1], argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "unknown child role\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return RunChild(argc - 2, argv + 2);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
