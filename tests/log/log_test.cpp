// The writer is one per process and keeps the first folder it was given, so
// every test here shares one scratch folder and empties it first.  ctest runs
// each test in a process of its own all the same.
#include "log/JniWrapperLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/log/log_load.h"
#include "tests/platform/test_support.h"

#ifdef __linux__
#include <unistd.h>
#endif

namespace kq {
namespace {

using kq::platform::LocalTime;
using kq::testing::ChildProcess;
using kq::testing::ReadBytes;
using kq::testing::TempDir;
using kq::testing::WaitUntil;
using kq::testing::WriteBytes;
namespace fs = std::filesystem;

constexpr int64_t kLimit = CJNIWrapperLog::kRotateBytes;

WString DecodeUtf16Le(const std::string& bytes) {
  WString out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<WChar>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return out;
}

// The records of a log file, each without its leading line break.  A file
// that does not start with a line break yields a first entry "<no CRLF>".
std::vector<WString> Records(const WString& content) {
  const WString crlf = KQ_W("\r\n");
  std::vector<WString> records;
  if (content.compare(0, 2, crlf) != 0) records.push_back(KQ_W("<no CRLF>"));
  size_t start = content.compare(0, 2, crlf) == 0 ? 2 : 0;
  while (start <= content.size()) {
    size_t end = content.find(crlf, start);
    if (end == WString::npos) end = content.size();
    records.push_back(content.substr(start, end - start));
    if (end == content.size()) break;
    start = end + 2;
  }
  return records;
}

struct Parsed {
  bool ok = false;
  LocalTime time{};
  uint32_t pid = 0, tid = 0;
  WString text;
};

// Reads a record by its fixed layout, independently of the writer's code.
Parsed Parse(const WString& record) {
  Parsed p;
  const std::string layout = "dddd-dd-dd dd:dd:dd.ddd  [hhhhhhhh] [hhhhhhhh] :";
  if (record.size() < layout.size()) return p;
  for (size_t i = 0; i < layout.size(); ++i) {
    const WChar c = record[i];
    const bool digit = c >= u'0' && c <= u'9';
    if (layout[i] == 'd' && !digit) return p;
    if (layout[i] == 'h' && !(digit || (c >= u'a' && c <= u'f') || c == u' ')) return p;
    if (layout[i] != 'd' && layout[i] != 'h' && c != static_cast<WChar>(layout[i])) return p;
  }
  auto number = [&](size_t from, size_t count, int base) {
    uint32_t v = 0;
    for (size_t i = from; i < from + count; ++i) {
      const WChar c = record[i];
      if (c == u' ') continue;
      v = v * base + (c <= u'9' ? c - u'0' : c - u'a' + 10);
    }
    return v;
  };
  p.time = LocalTime{static_cast<int>(number(0, 4, 10)),  static_cast<int>(number(5, 2, 10)),
                     static_cast<int>(number(8, 2, 10)),  static_cast<int>(number(11, 2, 10)),
                     static_cast<int>(number(14, 2, 10)), static_cast<int>(number(17, 2, 10)),
                     static_cast<int>(number(20, 3, 10))};
  p.pid = number(26, 8, 16);
  p.tid = number(37, 8, 16);
  p.text = record.substr(layout.size());
  p.ok = true;
  return p;
}

// ---------------------------------------------------------------------------
// Record layout

TEST(LogFormat, RecordsFollowThePrintfLayout) {
  struct Case {
    LocalTime time;
    uint32_t pid, tid;
    WString text, expected;
  } cases[] = {
      {{2024, 1, 2, 3, 4, 5, 6}, 0x1a2b, 0xdeadbeef, KQ_W("hello"),
       KQ_W("\r\n2024-01-02 03:04:05.006  [    1a2b] [deadbeef] :hello")},
      {{1999, 12, 31, 23, 59, 59, 999}, 0, 7, KQ_W(""), KQ_W("\r\n1999-12-31 23:59:59.999  [       0] [       7] :")},
      {{987, 10, 11, 12, 13, 14, 50}, 0xffffffff, 0x10, KQ_W("a\r\nb \u00e9\U0001D11E"),
       KQ_W("\r\n0987-10-11 12:13:14.050  [ffffffff] [      10] :a\r\nb \u00e9\U0001D11E")},
      {{12345, 6, 7, 8, 9, 10, 1000}, 0xABCDEF, 1, KQ_W("wide"),  // wider than the field: printed whole
       KQ_W("\r\n12345-06-07 08:09:10.1000  [  abcdef] [       1] :wide")},
  };
  for (const Case& c : cases) {
    const WString got = CJNIWrapperLog::FormatRecord(c.time, c.pid, c.tid, c.text);
    EXPECT_TRUE(got == c.expected) << platform::WideToAnsi(got);
  }
}

// ---------------------------------------------------------------------------
// Writing to files

const TempDir& SharedFolder() {
  static TempDir folder("kq-log-test");
  return folder;
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    SharedFolder().Clear();
    log_ = CJNIWrapperLog::GetInstance(SharedFolder().wide());
    ASSERT_NE(nullptr, log_);
    ASSERT_TRUE(log_->folder() == SharedFolder().wide()) << "another folder took the writer first";
  }

  static fs::path File(int n) { return SharedFolder() / ("JNIWrapper" + std::to_string(n) + ".log"); }

  static int64_t RecordBytes(const WString& text) {
    return static_cast<int64_t>(
        CJNIWrapperLog::FormatRecord(platform::Now(), platform::ProcessId(), platform::ThreadId(), text).size() * 2);
  }

  // A file of `size` bytes that starts with `head`; the rest is a hole, so
  // ten mebibytes cost nothing to make.
  static void Prefill(const fs::path& path, const std::string& head, int64_t size) {
    WriteBytes(path, head);
    fs::resize_file(path, static_cast<uintmax_t>(size));
  }

  static std::string ReadFrom(const fs::path& path, int64_t offset) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static std::string ReadHead(const fs::path& path, size_t bytes) {
    std::ifstream in(path, std::ios::binary);
    std::string head(bytes, '\0');
    in.read(&head[0], static_cast<std::streamsize>(bytes));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
  }

  static std::set<std::string> FileNames() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(SharedFolder().path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  CJNIWrapperLog* log_ = nullptr;
};

TEST_F(LogFile, WritesUtf16LeRecordsThatStartWithALineBreak) {
  log_->Write(KQ_W("KQAzureCommunicationMgr::Init is Called"));
  log_->WriteLevel3(KQ_W("\u00e9\u20ac\U0001D11E"));

  const std::string bytes = ReadBytes(File(0));
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(std::string("\r\0\n\0", 4), bytes.substr(0, 4));  // no byte-order mark
  // The last message's code units, little-endian.
  const std::string tail("\xE9\x00\xAC\x20\x34\xD8\x1E\xDD", 8);
  EXPECT_EQ(tail, bytes.substr(bytes.size() - tail.size()));

  const std::vector<WString> records = Records(DecodeUtf16Le(bytes));
  ASSERT_EQ(2u, records.size());
  const WString texts[] = {KQ_W("KQAzureCommunicationMgr::Init is Called"), KQ_W("\u00e9\u20ac\U0001D11E")};
  for (size_t i = 0; i < 2; ++i) {
    const Parsed p = Parse(records[i]);
    ASSERT_TRUE(p.ok) << platform::WideToAnsi(records[i]);
    EXPECT_EQ(platform::ProcessId(), p.pid);
    EXPECT_EQ(platform::ThreadId(), p.tid);
    EXPECT_TRUE(p.text == texts[i]);
    // Byte for byte what FormatRecord makes of the same fields.
    EXPECT_TRUE(KQ_W("\r\n") + records[i] == CJNIWrapperLog::FormatRecord(p.time, p.pid, p.tid, p.text));
  }
  EXPECT_EQ(static_cast<int64_t>(bytes.size()),
            RecordBytes(texts[0]) + RecordBytes(texts[1]));
}

#ifdef __linux__
TEST_F(LogFile, NoFileStaysOpenBetweenWrites) {
  log_->Write(KQ_W("one"));
  const std::string logPath = fs::canonical(File(0)).string();
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(fd.path(), ec);
    EXPECT_NE(logPath, target.string());
  }
}
#endif

TEST_F(LogFile, LaterFoldersGetTheFirstWriter) {
  TempDir other("kq-log-other");
  CJNIWrapperLog* again = CJNIWrapperLog::GetInstance(other.wide());
  EXPECT_EQ(log_, again);
  again->Write(KQ_W("still the first folder"));
  EXPECT_TRUE(fs::exists(File(0)));
  EXPECT_TRUE(fs::is_empty(other.path()));
}

// ---------------------------------------------------------------------------
// Rotation

TEST_F(LogFile, TheWriteThatReachesTheLimitStaysInTheRotatedFile) {
  const WString message = KQ_W("crossing");
  const int64_t record = RecordBytes(message);
  struct Case {
    const char* what;
    int64_t before;
    bool rotates;
  } cases[] = {
      {"ends two bytes short", kLimit - record - 2, false},
      {"ends exactly at the limit", kLimit - record, true},
      {"starts two bytes short", kLimit - 2, true},
      {"was already too big", kLimit + 1000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SharedFolder().Clear();
    Prefill(File(0), "", c.before);
    log_->Write(message);

    const fs::path old = c.rotates ? File(1) : File(0);
    ASSERT_TRUE(fs::exists(old));
    EXPECT_EQ(static_cast<uintmax_t>(c.before + record), fs::file_size(old));
    const std::string tail = ReadFrom(old, c.before);
    const std::vector<WString> records = Records(DecodeUtf16Le(tail));
    ASSERT_EQ(1u, records.size());
    EXPECT_TRUE(Parse(records[0]).text == message);
    if (!c.rotates) {
      EXPECT_FALSE(fs::exists(File(1)));
      continue;
    }
    ASSERT_TRUE(fs::exists(File(0)));
    EXPECT_EQ(0u, fs::file_size(File(0)));

    log_->Write(KQ_W("next"));  // goes to the new file
    EXPECT_EQ(static_cast<uintmax_t>(RecordBytes(KQ_W("next"))), fs::file_size(File(0)));
    EXPECT_EQ(static_cast<uintmax_t>(c.before + record), fs::file_size(File(1)));
  }
}

// Every present file moves up one number, the oldest is dropped, and missing
// numbers stay missing.
TEST_F(LogFile, RotationShiftsOnlyTheFilesThatExist) {
  struct Case {
    const char* what;
    std::vector<int> present;               // besides JNIWrapper0.log
    std::map<int, std::string> afterwards;  // number -> "old<n>" it now holds
  } cases[] = {
      {"all eleven",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       {{1, "old0"}, {2, "old1"}, {3, "old2"}, {4, "old3"}, {5, "old4"}, {6, "old5"},
        {7, "old6"}, {8, "old7"}, {9, "old8"}, {10, "old9"}}},
      {"JNIWrapper3.log missing", {1, 2, 4, 5}, {{1, "old0"}, {2, "old1"}, {3, "old2"}, {5, "old4"}, {6, "old5"}}},
      {"only the current file", {}, {{1, "old0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SharedFolder().Clear();
    Prefill(File(0), "old0", kLimit - 2);
    for (int n : c.present) WriteBytes(File(n), "old" + std::to_string(n));

    log_->Write(KQ_W("rotate"));

    std::set<std::string> expectedNames = {"JNIWrapper0.log"};
    for (const auto& entry : c.afterwards) expectedNames.insert("JNIWrapper" + std::to_string(entry.first) + ".log");
    EXPECT_EQ(expectedNames, FileNames());
    EXPECT_EQ(0u, fs::file_size(File(0)));
    for (const auto& entry : c.afterwards) {
      EXPECT_EQ(entry.second, ReadHead(File(entry.first), entry.second.size()))
          << "JNIWrapper" << entry.first << ".log";
    }
  }
}

// ---------------------------------------------------------------------------
// Several writers

TEST_F(LogFile, TwoProcessesWithManyThreadsWriteWholeRecords) {
  const int kThreads = 4, kPerThread = 250;
  ChildProcess child;
  ASSERT_TRUE(child.Start(KQ_LOG_WRITER_CHILD, {SharedFolder().path().string(), "child", std::to_string(kThreads),
                                                std::to_string(kPerThread)}));
  kq::testing::WriteLoad(log_, "parent", kThreads, kPerThread);
  ASSERT_EQ(0, child.Wait());

  const std::vector<WString> records = Records(DecodeUtf16Le(ReadBytes(File(0))));
  ASSERT_EQ(static_cast<size_t>(2 * kThreads * kPerThread), records.size());
  // (pid, tid) -> next message number expected from that thread.
  std::map<std::pair<uint32_t, uint32_t>, int> next;
  std::map<std::string, std::set<std::pair<uint32_t, uint32_t>>> threadsByTag;
  int bad = 0;
  for (const WString& record : records) {
    const Parsed p = Parse(record);
    const std::string text = platform::WideToAnsi(p.text);
    const size_t space = text.find(' ');
    bool whole = p.ok && space != std::string::npos && space + 2 < text.size();
    std::string tag;
    int& n = next[{p.pid, p.tid}];
    if (whole) {
      tag = text.substr(0, space);
      const std::string thread = text.substr(space + 2, text.find(' ', space + 1) - space - 2);
      whole = text == kq::testing::LoadMessage(tag, std::atoi(thread.c_str()), n);
    }
    if (!whole) {
      if (++bad <= 3) ADD_FAILURE() << "torn or out-of-order record: " << platform::WideToAnsi(record);
      continue;
    }
    ++n;
    threadsByTag[tag].insert({p.pid, p.tid});
  }
  EXPECT_EQ(0, bad);
  ASSERT_EQ(2u, threadsByTag.size());
  for (const auto& tag : threadsByTag) EXPECT_EQ(static_cast<size_t>(kThreads), tag.second.size()) << tag.first;
  for (const auto& thread : next) EXPECT_EQ(kPerThread, thread.second);
}

TEST_F(LogFile, AWriterKilledWhileHoldingTheMutexStallsNobody) {
  const fs::path marker = SharedFolder() / "held";
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(KQ_MUTEX_CHILD, {"hold", "AZURE_JNIWRAPPER_LOG_MUTEX", marker.string()}));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(marker); }));

  std::atomic<bool> written{false};
  std::thread writer([&] {
    log_->Write(KQ_W("after the holder died"));
    written = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(written) << "the write did not wait for the other process";
  EXPECT_FALSE(fs::exists(File(0)));

  holder.Kill();
  holder.Wait();
  if (!WaitUntil([&] { return written.load(); })) {
    writer.detach();
    FAIL() << "a dead holder blocks the log";
  }
  writer.join();
  const std::vector<WString> records = Records(DecodeUtf16Le(ReadBytes(File(0))));
  ASSERT_EQ(1u, records.size());
  EXPECT_TRUE(Parse(records[0]).text == KQ_W("after the holder died"));
}

}  // namespace
}  // namespace kq
