#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/platform/test_support.h"

namespace kq {
namespace platform {
namespace {

using namespace kq::testing;

TEST(PlatformFile, HandlesShareTheFileAndFailuresAreReported) {
  TempDir dir;
  const WString path = ToWide(dir / "a.log");
  File first, second;
  ASSERT_TRUE(first.OpenAlways(path) && second.OpenAlways(path));
  ASSERT_TRUE(first.SeekToEnd() && first.Write("abc", 3));
  ASSERT_TRUE(second.SeekToEnd() && second.Write("de", 2));
  EXPECT_EQ(5, first.Size());
  first.Close();
  second.Close();
  EXPECT_EQ("abcde", ReadBytes(dir / "a.log"));
  EXPECT_FALSE(first.Write("x", 1));
  EXPECT_EQ(0, first.Size());
  EXPECT_FALSE(first.OpenAlways(ToWide(dir / "missing" / "a.log")));
}

// A name converted once must open the very file its wide form opens, and a
// name with no system form (a lone surrogate has no UTF-8 one) must open
// nothing in either form (not some other file).
TEST(PlatformFile, SystemPathOpensTheFileOfItsWideName) {
  TempDir dir;
  const WString folder = ToWide(dir.path()) + kPathSeparator;
  struct Case {
    WString name;
    bool ok;
  } cases[] = {
      {KQ_W("JNIWrapper0.log"), true},
      {KQ_W("Pr\u00e9\u20ac\U0001D11E.log"), true},
#ifndef _WIN32
      {WString(KQ_W("lone")) + static_cast<WChar>(0xDC00), false},
      {WString(KQ_W("lone")) + static_cast<WChar>(0xD800), false},
      {WString(KQ_W("a\0b.log"), 7), false},
#endif
  };
  for (const Case& c : cases) {
    const SystemPath path(folder + c.name);
    EXPECT_EQ(c.ok, path.ok()) << WideToAnsi(c.name);
    File byPath, byName;
    EXPECT_EQ(c.ok, byPath.OpenAlways(path) && byPath.SeekToEnd() && byPath.Write("ab", 2));
    byPath.Close();
    EXPECT_EQ(c.ok, byName.OpenAlways(folder + c.name)) << WideToAnsi(c.name);
    if (!c.ok) continue;
    EXPECT_EQ(2, byName.Size()) << WideToAnsi(c.name);
  }
  EXPECT_FALSE(File().OpenAlways(SystemPath()));
}

TEST(PlatformNames, RenameRefusesAnExistingTarget) {
  TempDir dir;
  WriteBytes(dir / "from", "F");
  WriteBytes(dir / "to", "T");
  EXPECT_FALSE(RenameFile(ToWide(dir / "from"), ToWide(dir / "to")));
  EXPECT_EQ("F", ReadBytes(dir / "from"));
  EXPECT_EQ("T", ReadBytes(dir / "to"));
  EXPECT_TRUE(RenameFile(ToWide(dir / "from"), ToWide(dir / "new")));
  EXPECT_EQ("F", ReadBytes(dir / "new"));
  EXPECT_FALSE(RenameFile(ToWide(dir / "from"), ToWide(dir / "other")));  // source gone
  EXPECT_FALSE(fs::exists(dir / "other"));
}

TEST(PlatformNames, NonAsciiNamesReachTheFileSystem) {
  TempDir dir;
  // e-acute, euro sign and a character outside the BMP (a surrogate pair).
  const std::string utf8 = "Pr\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  const WString name = KQ_W("Pr\u00e9\u20ac\U0001D11E");
  EXPECT_TRUE(Widen(utf8) == name);
#ifndef _WIN32  // there the narrow side is the ANSI code page
  EXPECT_EQ(utf8, WideToAnsi(name));
  EXPECT_EQ("", WideToAnsi(name + static_cast<WChar>(0xD83D)));  // a lone surrogate has no UTF-8 form
#endif
  const WString folder = ToWide(dir.path()) + kPathSeparator + name;
  EXPECT_TRUE(CreateDirectoryOnce(folder));
  EXPECT_FALSE(CreateDirectoryOnce(folder));
  EXPECT_FALSE(CreateDirectoryOnce(ToWide(dir / "no" / "parent")));  // one level only
  const fs::path file = dir.path() / fs::u8path(utf8) / "JNIWrapper1.log";
  WriteBytes(file, "");
  const WString wideFile = folder + kPathSeparator + KQ_W("JNIWrapper1.log");
  EXPECT_TRUE(FileExists(wideFile));
  EXPECT_FALSE(FileExists(folder + kPathSeparator + KQ_W("JNIWrapper1.lo")));
  EXPECT_TRUE(DeleteFileAt(wideFile));
  EXPECT_FALSE(DeleteFileAt(wideFile));
}

TEST(PlatformClock, NowAgreesWithTheCLibrary) {
  const std::time_t before = std::time(nullptr);
  const LocalTime now = Now();
  const std::time_t after = std::time(nullptr);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999) << now.millisecond;
  std::tm tm = {};
  tm.tm_year = now.year - 1900, tm.tm_mon = now.month - 1, tm.tm_mday = now.day;
  tm.tm_hour = now.hour, tm.tm_min = now.minute, tm.tm_sec = now.second, tm.tm_isdst = -1;
  const std::time_t seen = std::mktime(&tm);
  EXPECT_TRUE(seen >= before - 1 && seen <= after + 1) << now.year << "-" << now.month << "-" << now.day;
}

// Mutex names are fixed, not unique per run: every name leaves a lock file
// behind, and runs that meet on a name only wait for each other.
TEST(PlatformLock, NamedMutexIsRecursiveForItsOwnerAcrossHandles) {
  NamedMutex first("kq-test-mutex"), second("kq-test-mutex");
  ASSERT_TRUE(first.Lock() && first.Lock() && second.Lock());
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    NamedMutex mine("kq-test-mutex");
    mine.Unlock();  // not the owner: must change nothing
    acquired = mine.Lock();
    mine.Unlock();
  });
  for (NamedMutex* level : {&second, &first, &first}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // time for a wrong let-through to show
    EXPECT_FALSE(acquired) << "let through while still held";
    level->Unlock();
  }
  other.join();
  EXPECT_TRUE(acquired);
}

// Processes count under one mutex, two of each build (this one's and, when
// set, the peer ABI's); another thread of the same process is held off by the
// test above, a killed holder is the log tests' case.
TEST(PlatformLock, NamedMutexExcludesOtherProcesses) {
  TempDir dir;
  WriteBytes(dir / "counter", "0");
  const std::vector<std::string> programs = HelperPrograms(KQ_MUTEX_CHILD, "tests/platform/platform_tests");
  std::vector<ChildProcess> children(2 * programs.size());
  for (size_t i = 0; i < children.size(); ++i) {
    const std::string& program = programs[i / 2];
    ASSERT_TRUE(children[i].Start(program, {"count", "kq-test-count", (dir / "counter").string(), "300"})) << program;
  }
  for (auto& child : children) EXPECT_EQ(0, child.Wait());
  EXPECT_EQ(std::to_string(300 * children.size()), ReadBytes(dir / "counter"));
}

// A thread that ends holding the mutex must not stall the other processes
// until some other thread of its own process happens to lock it.
TEST(PlatformLock, AThreadThatEndsHoldingTheMutexFreesItForEveryone) {
  TempDir dir;
  WriteBytes(dir / "counter", "0");
  std::thread([] {
    NamedMutex mutex("kq-test-abandoned");
    ASSERT_TRUE(mutex.Lock() && mutex.Lock());  // two levels, both abandoned
  }).join();
  ChildProcess child;
  ASSERT_TRUE(child.Start(KQ_MUTEX_CHILD, {"count", "kq-test-abandoned", (dir / "counter").string(), "1"}));
  std::atomic<bool> ended{false};
  std::thread waiter([&] { ended = child.Wait() == 0; });
  if (!WaitUntil([&] { return ended.load(); })) {
    child.Wait(true);
    waiter.join();
    FAIL() << "the other process waits for a dead thread's mutex";
  }
  waiter.join();
  EXPECT_EQ("1", ReadBytes(dir / "counter"));
  NamedMutex mine("kq-test-abandoned");  // and this process takes it again
  EXPECT_TRUE(mine.Lock());
  mine.Unlock();
}

}  // namespace
}  // namespace platform
}  // namespace kq

// Also the helper process of the named-mutex tests:
//   platform_tests hold <name> <marker>            lock, create <marker>, wait to be killed
//   platform_tests count <name> <counter> <times>  add 1 to the number in <counter> <times> times under the mutex
int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "hold") {
    kq::platform::NamedMutex mutex(argv[2]);
    if (!mutex.Lock()) return 2;
    kq::testing::WriteBytes(argv[3], "");
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (argc == 5 && std::string(argv[1]) == "count") {
    kq::platform::NamedMutex mutex(argv[2]);
    for (long i = std::atol(argv[4]); i > 0; --i) {
      if (!mutex.Lock()) return 2;
      const long value = std::atol(kq::testing::ReadBytes(argv[3]).c_str());
      std::this_thread::yield();  // widen the window a missing exclusion would open
      kq::testing::WriteBytes(argv[3], std::to_string(value + 1));
      mutex.Unlock();
    }
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
