#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/test_support.h"

namespace kq {
namespace platform {
namespace {

using kq::testing::ChildProcess;
using kq::testing::ReadBytes;
using kq::testing::TempDir;
using kq::testing::ToWide;
using kq::testing::WaitUntil;
using kq::testing::WriteBytes;
namespace fs = std::filesystem;

// Mutex names are fixed, not unique per run: every name leaves a lock file
// behind, and runs that meet on a name only wait for each other.

// Long enough for a thread that is wrongly let through to show up.
constexpr auto kGrace = std::chrono::milliseconds(150);

// ---------------------------------------------------------------------------
// Files and names

TEST(PlatformFile, OpenAlwaysCreatesThenAppendsAtTheEnd) {
  TempDir dir;
  const fs::path path = dir / "a.log";
  {
    File file;
    ASSERT_TRUE(file.OpenAlways(ToWide(path)));
    EXPECT_TRUE(file.is_open());
    EXPECT_EQ(0, file.Size());
    ASSERT_TRUE(file.SeekToEnd());
    ASSERT_TRUE(file.Write("abc", 3));
    EXPECT_EQ(3, file.Size());
  }
  {
    File file;
    ASSERT_TRUE(file.OpenAlways(ToWide(path)));  // existing: not truncated
    EXPECT_EQ(3, file.Size());
    ASSERT_TRUE(file.SeekToEnd());
    ASSERT_TRUE(file.Write("de", 2));
    EXPECT_EQ(5, file.Size());
    file.Close();
    EXPECT_FALSE(file.is_open());
    EXPECT_EQ(0, file.Size());
    EXPECT_FALSE(file.Write("x", 1));
  }
  EXPECT_EQ("abcde", ReadBytes(path));
}

TEST(PlatformFile, TwoHandlesShareTheFile) {
  TempDir dir;
  const WString path = ToWide(dir / "shared.log");
  File first, second;
  ASSERT_TRUE(first.OpenAlways(path));
  ASSERT_TRUE(second.OpenAlways(path));
  ASSERT_TRUE(first.SeekToEnd() && first.Write("11", 2));
  ASSERT_TRUE(second.SeekToEnd() && second.Write("22", 2));
  EXPECT_EQ(4, first.Size());
  first.Close();
  second.Close();
  EXPECT_EQ("1122", ReadBytes(dir / "shared.log"));
}

TEST(PlatformFile, FailuresAreReportedNotThrown) {
  TempDir dir;
  File file;
  EXPECT_FALSE(file.OpenAlways(ToWide(dir / "missing" / "a.log")));
  EXPECT_FALSE(file.is_open());
  EXPECT_FALSE(file.SeekToEnd());
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_EQ(0, file.Size());
#ifndef _WIN32
  // A lone surrogate has no UTF-8 form, so it names no file.
  WString bad = dir.wide();
  bad += kPathSeparator;
  bad += static_cast<WChar>(0xD800);
  EXPECT_FALSE(file.OpenAlways(bad));
  EXPECT_FALSE(CreateDirectoryOnce(bad));
  EXPECT_FALSE(FileExists(bad));
#endif
}

TEST(PlatformNames, RenameRefusesAnExistingTarget) {
  TempDir dir;
  WriteBytes(dir / "from", "F");
  WriteBytes(dir / "to", "T");
  EXPECT_FALSE(RenameFile(ToWide(dir / "from"), ToWide(dir / "to")));
  EXPECT_EQ("F", ReadBytes(dir / "from"));
  EXPECT_EQ("T", ReadBytes(dir / "to"));

  EXPECT_TRUE(RenameFile(ToWide(dir / "from"), ToWide(dir / "new")));
  EXPECT_FALSE(fs::exists(dir / "from"));
  EXPECT_EQ("F", ReadBytes(dir / "new"));

  EXPECT_FALSE(RenameFile(ToWide(dir / "from"), ToWide(dir / "other")));  // source gone
  EXPECT_FALSE(fs::exists(dir / "other"));
}

TEST(PlatformNames, ExistsMatchesTheExactNameOnly) {
  TempDir dir;
  WriteBytes(dir / "JNIWrapper1.log", "");
  struct Case {
    const char* name;
    bool exists;
  } cases[] = {
      {"JNIWrapper1.log", true},   {"JNIWrapper10.log", false}, {"JNIWrapper1.lo", false},
      {"JNIWrapper.log", false},   {"NIWrapper1.log", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.exists, FileExists(ToWide(dir / c.name))) << c.name;
}

TEST(PlatformNames, CreateOneLevelDeleteFiles) {
  TempDir dir;
  EXPECT_TRUE(CreateDirectoryOnce(ToWide(dir / "log")));
  EXPECT_TRUE(fs::is_directory(dir / "log"));
  EXPECT_FALSE(CreateDirectoryOnce(ToWide(dir / "log")));              // exists
  EXPECT_FALSE(CreateDirectoryOnce(ToWide(dir / "no" / "parent")));    // one level only

  WriteBytes(dir / "log" / "f", "x");
  EXPECT_TRUE(DeleteFileAt(ToWide(dir / "log" / "f")));
  EXPECT_FALSE(fs::exists(dir / "log" / "f"));
  EXPECT_FALSE(DeleteFileAt(ToWide(dir / "log" / "f")));
}

TEST(PlatformNames, NonAsciiNamesReachTheFileSystem) {
  TempDir dir;
  // e-acute, euro sign and a character outside the BMP (a surrogate pair).
  WString folder = dir.wide();
  folder += kPathSeparator;
  folder += KQ_W("Pr\u00e9\u20ac\U0001D11E");
  ASSERT_TRUE(CreateDirectoryOnce(folder));
  WString file = folder + kPathSeparator + KQ_W("x.log");
  File f;
  ASSERT_TRUE(f.OpenAlways(file));
  f.Close();
  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(fs::exists(dir.path() / fs::u8path(u8"Pr\u00e9\u20ac\U0001D11E") / "x.log"));
}

// ---------------------------------------------------------------------------
// Text

TEST(PlatformText, WidenAndNarrowRoundTrip) {
  struct Case {
    std::string utf8;
    WString wide;
  } cases[] = {
      {"", KQ_W("")},
      {"plain ASCII", KQ_W("plain ASCII")},
      {"\xC3\xA9", KQ_W("\u00e9")},
      {"\xE2\x82\xAC", KQ_W("\u20ac")},
      {"\xF0\x9D\x84\x9E", KQ_W("\U0001D11E")},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Widen(c.utf8) == c.wide) << c.utf8;
#ifndef _WIN32  // elsewhere the narrow side is the ANSI code page
    EXPECT_EQ(c.utf8, WideToAnsi(c.wide));
#endif
  }
  EXPECT_EQ("abc", WideToAnsi(KQ_W("abc")));
}

#ifndef _WIN32
TEST(PlatformText, UnconvertibleTextComesBackEmptyOrReplaced) {
  const WString loneHigh(1, static_cast<WChar>(0xD83D));
  const WString loneLow = KQ_W("a") + WString(1, static_cast<WChar>(0xDC00)) + KQ_W("b");
  EXPECT_EQ("", WideToAnsi(loneHigh));
  EXPECT_EQ("", WideToAnsi(loneLow));

  const WString fffd(1, static_cast<WChar>(0xFFFD));
  struct Case {
    std::string utf8;
    WString wide;
  } cases[] = {
      {"a\xFF" "b", KQ_W("a") + fffd + KQ_W("b")},      // not a lead byte
      {"a\xC3", KQ_W("a") + fffd},                       // cut short
      {"\xC0\xAF", fffd},                                // overlong '/'
      {"\xED\xA0\x80", fffd},                            // encoded surrogate
  };
  for (const Case& c : cases) EXPECT_TRUE(Widen(c.utf8) == c.wide) << c.utf8;
}
#endif

// ---------------------------------------------------------------------------
// Time and identifiers

TEST(PlatformClock, NowAgreesWithTheCLibrary) {
  const std::time_t before = std::time(nullptr);
  const LocalTime now = Now();
  const std::time_t after = std::time(nullptr);

  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
  std::tm tm = {};
  tm.tm_year = now.year - 1900;
  tm.tm_mon = now.month - 1;
  tm.tm_mday = now.day;
  tm.tm_hour = now.hour;
  tm.tm_min = now.minute;
  tm.tm_sec = now.second;
  tm.tm_isdst = -1;
  const std::time_t seen = std::mktime(&tm);
  EXPECT_GE(seen, before - 1);
  EXPECT_LE(seen, after + 1);
}

// ---------------------------------------------------------------------------
// Critical sections and named mutexes

TEST(PlatformLock, CriticalSectionIsRecursiveAndExclusive) {
  CriticalSection cs;
  std::atomic<bool> entered{false};
  cs.Enter();
  cs.Enter();
  std::thread other([&] {
    CriticalSectionLock lock(cs);
    entered = true;
  });
  cs.Leave();
  std::this_thread::sleep_for(kGrace);
  EXPECT_FALSE(entered);  // still held once
  cs.Leave();
  other.join();
  EXPECT_TRUE(entered);
}

TEST(PlatformLock, NamedMutexIsRecursiveForItsOwnerAcrossHandles) {
  const std::string name = "kq-test-mutex";
  NamedMutex first(name.c_str());
  NamedMutex second(name.c_str());  // same name, another handle
  ASSERT_TRUE(first.valid());
  ASSERT_TRUE(second.valid());
  ASSERT_TRUE(first.Lock());
  ASSERT_TRUE(first.Lock());
  ASSERT_TRUE(second.Lock());

  std::atomic<bool> acquired{false};
  std::thread other([&] {
    NamedMutex mine(name.c_str());
    mine.Unlock();  // not the owner: must change nothing
    if (mine.Lock()) {
      acquired = true;
      mine.Unlock();
    }
  });
  for (int held = 3; held > 0; --held) {
    std::this_thread::sleep_for(kGrace);
    EXPECT_FALSE(acquired) << "let through with " << held << " levels held";
    (held == 3 ? second : first).Unlock();
  }
  other.join();
  EXPECT_TRUE(acquired);
}

#ifndef _WIN32
TEST(PlatformLock, OwnerThreadThatEndsAbandonsTheMutex) {
  const std::string name = "kq-test-abandon";
  NamedMutex mutex(name.c_str());
  std::thread([&] { ASSERT_TRUE(mutex.Lock()); }).join();  // exits holding it

  std::atomic<bool> acquired{false};
  std::thread taker([&] {
    if (mutex.Lock()) {
      mutex.Unlock();
      acquired = true;
    }
  });
  if (!WaitUntil([&] { return acquired.load(); })) {
    taker.detach();  // stuck for good: fail instead of hanging
    FAIL() << "the mutex stayed with a thread that no longer exists";
  }
  taker.join();
}

// A child made by fork() inherits the parent's caches and descriptors; it
// must still report its own ids and be excluded by the parent's lock.
TEST(PlatformLock, ForkedChildHasItsOwnIdsAndLock) {
  TempDir dir;
  const std::string name = "kq-test-fork";
  const fs::path marker = dir / "child-locked";
  NamedMutex mutex(name.c_str());
  ASSERT_TRUE(mutex.Lock());  // primes the lock file descriptor
  mutex.Unlock();
  const uint32_t parentPid = ProcessId(), parentTid = ThreadId();

  int go[2];
  ASSERT_EQ(0, pipe(go));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char byte;
    if (read(go[0], &byte, 1) != 1) _exit(10);
    if (ProcessId() != static_cast<uint32_t>(getpid()) || ProcessId() == parentPid) _exit(11);
    if (ThreadId() == parentTid) _exit(12);
    if (!mutex.Lock()) _exit(13);
    { std::ofstream(marker.string()) << "x"; }
    mutex.Unlock();
    _exit(0);
  }
  ASSERT_TRUE(mutex.Lock());
  ASSERT_EQ(1, write(go[1], "g", 1));
  std::this_thread::sleep_for(kGrace);
  EXPECT_FALSE(fs::exists(marker)) << "the child shared the parent's lock";
  mutex.Unlock();
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(fs::exists(marker));
  close(go[0]);
  close(go[1]);
}
#endif

// Children and threads add one to a shared number under the mutex; any gap
// in the exclusion loses increments.
TEST(PlatformLock, NamedMutexExcludesOtherProcesses) {
  TempDir dir;
  const std::string name = "kq-test-count";
  const fs::path counter = dir / "counter";
  WriteBytes(counter, "0");
  const int kTimes = 150;

  ChildProcess children[2];
  for (ChildProcess& child : children) {
    ASSERT_TRUE(child.Start(KQ_MUTEX_CHILD, {"count", name, counter.string(), std::to_string(kTimes)}));
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      NamedMutex mutex(name.c_str());
      for (int i = 0; i < kTimes; ++i) {
        ASSERT_TRUE(mutex.Lock());
        const long value = std::stol("0" + ReadBytes(counter));
        std::this_thread::yield();
        WriteBytes(counter, std::to_string(value + 1));
        mutex.Unlock();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (ChildProcess& child : children) EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(std::to_string(4 * kTimes), ReadBytes(counter));
}

TEST(PlatformLock, KilledHolderReleasesTheMutex) {
  TempDir dir;
  const std::string name = "kq-test-killed";
  const fs::path marker = dir / "locked";
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(KQ_MUTEX_CHILD, {"hold", name, marker.string()}));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(marker); }));

  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    NamedMutex mutex(name.c_str());
    if (mutex.Lock()) {
      acquired = true;
      mutex.Unlock();
    }
  });
  std::this_thread::sleep_for(kGrace);
  EXPECT_FALSE(acquired) << "the child's hold was ignored";

  holder.Kill();
  holder.Wait();
  const bool released = WaitUntil([&] { return acquired.load(); });
  EXPECT_TRUE(released) << "a dead holder still blocks the mutex";
  if (released) {
    waiter.join();
  } else {
    waiter.detach();
  }
}

}  // namespace
}  // namespace platform
}  // namespace kq
