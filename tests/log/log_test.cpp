// The writer is one per process and keeps its first folder, so every test
// here empties one shared folder first (ctest runs each in its own process).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "log/JniWrapperLog.h"
#include "tests/platform/test_support.h"

namespace kq {
namespace {

using namespace kq::testing;
using platform::LocalTime;

constexpr int64_t kLimit = CJNIWrapperLog::kRotateBytes;

// The messages of the concurrency test: a torn record could not pass for one.
std::string LoadMessage(const std::string& thread, int n) {
  return thread + " n" + std::to_string(n) + " " + std::string(120, 'p') + "|";
}

void WriteLoad(CJNIWrapperLog* log, const std::string& tag, int threads, int perThread) {
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([=] {
      for (int n = 0; n < perThread; ++n) log->Write(platform::Widen(LoadMessage(tag + " t" + std::to_string(t), n)));
    });
  }
  for (std::thread& w : workers) w.join();
}

TEST(LogFormat, RecordsFollowThePrintfLayout) {
  struct Case {
    LocalTime time;
    uint32_t pid, tid;
    WString text;
    const char* stamp;  // what goes between the record's line break and its text
  } cases[] = {
      {{2024, 1, 2, 3, 4, 5, 6}, 0x1a2b, 0xdeadbeef, KQ_W("hello"), "2024-01-02 03:04:05.006  [    1a2b] [deadbeef] :"},
      {{1999, 12, 31, 23, 59, 59, 999}, 0, 7, KQ_W(""), "1999-12-31 23:59:59.999  [       0] [       7] :"},
      {{987, 10, 11, 12, 13, 14, 50},
       0xffffffff,
       0x10,
       KQ_W("a\r\nb \u00e9\U0001D11E"),
       "0987-10-11 12:13:14.050  [ffffffff] [      10] :"},
      // Fields wider than their width are written whole, as printf does.
      {{12345, 123, -1, 100, 0, 0, 1000},
       1,
       0x12345678,
       KQ_W("x"),
       "12345-123--1 100:00:00.1000  [       1] [12345678] :"},
  };
  for (const Case& c : cases) {
    const WString got = CJNIWrapperLog::FormatRecord(c.time, c.pid, c.tid, c.text);
    EXPECT_TRUE(got == KQ_W("\r\n") + platform::Widen(c.stamp) + c.text) << platform::WideToAnsi(got);
  }
}

const TempDir& Folder() {
  static TempDir folder("kq-log-test");
  return folder;
}

fs::path File(int n) { return Folder() / ("JNIWrapper" + std::to_string(n) + ".log"); }

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder().Clear();
    log_ = CJNIWrapperLog::GetInstance(ToWide(Folder().path()));
    ASSERT_TRUE(log_ != nullptr && log_->folder() == ToWide(Folder().path())) << "another folder took the writer first";
  }
  CJNIWrapperLog* log_ = nullptr;
};

// Whichever way a line is handed over (one text, or a message and the text
// it is joined to), the file gets the record FormatRecord makes of the text.
TEST_F(LogFile, WritesUtf16LeRecordsByteForByte) {
  const WString texts[] = {KQ_W("KQAzureCommunicationMgr::Init is Called"), KQ_W("\u00e9\u20ac\U0001D11E"),
                           KQ_W("WriteObject::memory copy started ...bench-object"), KQ_W("ReadObject::is ended..."),
                           KQ_W("bench-object")};
  log_->Write(texts[0]);
  log_->WriteLevel3(texts[1]);
  log_->Write(KQ_W("WriteObject::memory copy started ..."), KQ_W("bench-object"));
  log_->Write(KQ_W("ReadObject::is ended..."), WString());
  log_->Write(WString(), KQ_W("bench-object"));
  const std::vector<LogRecord> records = LogRecords(ReadBytes(File(0)));
  ASSERT_EQ(5u, records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_TRUE(KQ_W("\r\n") + records[i].raw ==
                CJNIWrapperLog::FormatRecord(records[i].time, platform::ProcessId(), platform::ThreadId(), texts[i]))
        << platform::WideToAnsi(records[i].raw);
  }
}

TEST_F(LogFile, LaterFoldersGetTheFirstWriter) {
  TempDir other("kq-log-other");
  EXPECT_EQ(log_, CJNIWrapperLog::GetInstance(ToWide(other.path())));
  log_->Write(KQ_W("still the first folder"));
  EXPECT_TRUE(fs::exists(File(0)));
  EXPECT_TRUE(fs::is_empty(other.path()));
}

// JNIWrapper0.log starts "old0" and is `before` bytes long (the rest a hole,
// so ten mebibytes cost nothing); the older files present hold "old<n>".  The
// write that reaches the limit stays in the file that is rotated; every
// present file moves up one number, the oldest is dropped, gaps stay.
TEST_F(LogFile, RotationKeepsTheCrossingWriteAndShiftsOnlyPresentFiles) {
  const WString crossing = KQ_W("crossing");
  const int64_t record = static_cast<int64_t>(
      2 * CJNIWrapperLog::FormatRecord(platform::Now(), platform::ProcessId(), platform::ThreadId(), crossing).size());
  struct Case {
    const char* what;
    int64_t before;
    std::vector<int> present;
    std::vector<const char*> afterwards;  // by number: what it starts with, "" for empty, null for absent
  } cases[] = {
      {"ends two bytes short", kLimit - record - 2, {}, {"old0"}},
      {"ends exactly at the limit", kLimit - record, {}, {"", "old0"}},
      {"was already too big", kLimit + 1000, {}, {"", "old0"}},
      {"all eleven",
       kLimit - 2,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       {"", "old0", "old1", "old2", "old3", "old4", "old5", "old6", "old7", "old8", "old9"}},
      {"JNIWrapper3.log missing", kLimit - 2, {1, 2, 4, 5}, {"", "old0", "old1", "old2", nullptr, "old4", "old5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder().Clear();
    WriteBytes(File(0), "old0");
    fs::resize_file(File(0), static_cast<uintmax_t>(c.before));
    for (int n : c.present) WriteBytes(File(n), "old" + std::to_string(n));
    log_->Write(crossing);

    std::set<std::string> expected, found;
    for (int n = 0; n < static_cast<int>(c.afterwards.size()); ++n) {
      if (c.afterwards[n] == nullptr) continue;
      const std::string start = c.afterwards[n];
      expected.insert(File(n).filename().string());
      EXPECT_EQ(start, ReadBytes(File(n), 0, std::max<size_t>(1, start.size()))) << n;
    }
    for (const auto& entry : fs::directory_iterator(Folder().path())) found.insert(entry.path().filename().string());
    EXPECT_EQ(expected, found);
    const std::vector<LogRecord> records = LogRecords(ReadBytes(File(c.afterwards.size() > 1 ? 1 : 0), c.before));
    ASSERT_EQ(1u, records.size());
    EXPECT_TRUE(records[0].text == crossing);
  }
}

// One writing process of this build and, when set, one of the peer ABI's beside this one.
TEST_F(LogFile, ProcessesWithManyThreadsWriteWholeRecords) {
  const int kThreads = 4, kPerThread = 250;
  const std::vector<std::string> programs = HelperPrograms(KQ_LOG_WRITER_CHILD, "tests/log/log_tests");
  std::vector<ChildProcess> children(programs.size());
  for (size_t i = 0; i < programs.size(); ++i) {
    ASSERT_TRUE(children[i].Start(programs[i], {"write", Folder().path().string(), "child" + std::to_string(i),
                                                std::to_string(kThreads), std::to_string(kPerThread)}))
        << programs[i];
  }
  WriteLoad(log_, "parent", kThreads, kPerThread);
  for (ChildProcess& child : children) ASSERT_EQ(0, child.Wait());

  const size_t writers = programs.size() + 1;
  const std::vector<LogRecord> records = LogRecords(ReadBytes(File(0)));
  ASSERT_EQ(writers * kThreads * kPerThread, records.size());
  // Every record whole, and each thread's messages in the order it wrote them.
  std::map<std::string, int> next;  // "<tag> t<thread>" -> number of its next message
  int bad = 0;
  for (const LogRecord& r : records) {
    const std::string text = platform::WideToAnsi(r.text), thread = text.substr(0, text.find(" n"));
    if (text != LoadMessage(thread, next[thread]++) && ++bad <= 3) {
      ADD_FAILURE() << "torn or out of order: " << platform::WideToAnsi(r.raw);
    }
  }
  EXPECT_EQ(0, bad);
}

// The holder is a process of this build, then one of the peer ABI's.
TEST_F(LogFile, AWriterKilledWhileHoldingTheMutexStallsNobody) {
  for (const std::string& program : HelperPrograms(KQ_MUTEX_CHILD, "tests/platform/platform_tests")) {
    SCOPED_TRACE(program);
    Folder().Clear();
    ChildProcess holder;
    ASSERT_TRUE(holder.Start(program, {"hold", "AZURE_JNIWRAPPER_LOG_MUTEX", (Folder() / "held").string()}));
    ASSERT_TRUE(WaitUntil([] { return fs::exists(Folder() / "held"); }));
    std::atomic<bool> written{false};
    std::thread writer([&] {
      log_->Write(KQ_W("after the holder died"));
      written = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(written || fs::exists(File(0))) << "the write did not wait for the other process";

    holder.Wait(true);
    if (!WaitUntil([&] { return written.load(); })) {
      writer.detach();
      FAIL() << "a dead holder blocks the log";
    }
    writer.join();
    platform::NamedMutex mutex("AZURE_JNIWRAPPER_LOG_MUTEX");  // taken over and released, not left abandoned
    EXPECT_TRUE(mutex.Lock());
    mutex.Unlock();
    const std::vector<LogRecord> records = LogRecords(ReadBytes(File(0)));
    ASSERT_EQ(1u, records.size());
    EXPECT_TRUE(records[0].text == KQ_W("after the holder died"));
  }
}

}  // namespace
}  // namespace kq

// Also the second writing process of the concurrency test:
//   log_tests write <folder> <tag> <threads> <messages per thread>
int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "write") {
    kq::WriteLoad(CJNIWrapperLog::GetInstance(kq::platform::Widen(argv[2])), argv[3], std::atoi(argv[4]),
                  std::atoi(argv[5]));
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
