// Every object slot against the scripted library: its Java call, log and
// answers, the data path's sizes, names and metadata, and all at once.
#include <atomic>
#include <map>
#include <thread>
#include <tuple>

#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

constexpr uint64_t k2G = 2147483648ULL;        // 2^31: no array has that length
constexpr uint64_t k4GPlus10 = 4294967306ULL;  // 2^32 + 10: an array of 10

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Each slot answered with success, null, an exception (no record either: the
// plain read then delivers the array Java never filled) and ordinal 3 (code 7).
TEST_F(ObjectsTest, EachSlotsJavaCallLogAndHostSideForEveryKindOfAnswer) {
  for (const Slot& slot : ObjectSlots()) {
    const Lines lines = Split(slot.lines), nulled = slot.NullLines(), failure = Split(slot.failure);
    Lines thrown = nulled;  // the metadata writes describe the exception that left them without a record
    if (slot.key == "WriteObject/4" || slot.key == "WriteObject/5") {
      thrown.insert(thrown.end(), {"Descrption is failed", "java.lang.RuntimeException: boom"});
    }
    const std::tuple<std::string, uint32_t, const Lines*, std::string> answers[] = {
        {"success", 0, &lines, slot.changes},
        {"null", slot.nullCode, &nulled, slot.nullChanges},
        {"exception", slot.nullCode, &thrown, slot.key == "ReadObject/4" ? "buf=0000000000000000" : slot.nullChanges},
        {"failure", 7, nullptr, slot.failChanges}};
    for (const auto& [answer, code, logged, changes] : answers) {
      SCOPED_TRACE(slot.key + ": " + answer);
      if (answer == "failure" && slot.key == "GetObjectActualSize/2") continue;  // no record to fail
      Script::Reset();
      if (answer == "null") Script::Returns(slot.key, "null");
      if (answer == "exception") Script::Throws(slot.key, "boom");
      if (answer == "failure" && failure.empty()) Script::Returns(slot.key, "ord:3");
      if (answer == "failure" && !failure.empty())
        Script::ReturnsBuilt(slot.key, failure[0], {failure.begin() + 1, failure.end()});
      log.Mark();
      HostCall io;
      std::string changed;
      EXPECT_EQ(Call(slot, io, &changed), code);
      EXPECT_EQ(changed, changes);
      EXPECT_EQ(Script::Journal(), Lines{slot.key + "(" + slot.args + ")"});
      if (logged != nullptr) {
        EXPECT_EQ(log.Since(), *logged);
      }
    }
  }
}

// A write's array has the low 32 bits of its size, the Java long all 64, and
// its metadata array is null without a map, which is announced first where the
// write has the line.  No array (2^31, or no bytes): the plain write refuses
// with 41, describing the VM's refusal; the other writes call Java with null.
TEST_F(ObjectsTest, AWritesArraysFollowItsSizeAndMetadata) {
  const std::map<std::string, std::string> noMap = {
      {"WriteObject/4", "WriteObject::is called wih null metadata...obj"},
      {"WriteObject/5", "WriteObject::is called wih null metadata...obj"},
      {"WriteCachedObject/4", "WriteCachedObject::is called wih null metadata...obj"},
      {"UpdateCachedObjectByHandle/5", "UpdateCachedObjectByHandle::is called with NULL metadata...one"}};
  const HostCall fresh;
  const std::string data = Script::Bytes(fresh.bytes, 3) + ", 3", map = "{a=1, b=2}";
  const Lines copied{"WriteObject::memory copy started ...obj", "WriteObject::memory copy ended ...obj"};
  const Lines noArray{copied[0], copied[1], "Descrption is failed",
                      "java.lang.NegativeArraySizeException: -2147483648"};
  const struct {
    uint64_t size;
    bool bytes;
    std::string array, meta;
    Lines refusal = {};  // of the plain write
  } cases[] = {
      {0, true, ZeroBytes(0), map},
      {k4GPlus10, true, Script::Bytes(fresh.bytes, 10), map},
      {k2G, true, "null", map, noArray},
      {5, false, "null", map, copied},
      {3, true, Script::Bytes(fresh.bytes, 3), "{}"},
      {3, true, Script::Bytes(fresh.bytes, 3), "null"},
  };
  for (const Slot& slot : ObjectSlots()) {
    if (slot.args.find(data) == std::string::npos) continue;
    for (const auto& c : cases) {
      SCOPED_TRACE(slot.key + " " + std::to_string(c.size) + " " + c.meta);
      Script::ClearJournal();
      log.Mark();
      HostCall io;
      io.dataSize = c.size;
      if (!c.bytes) io.data = nullptr;
      if (c.meta != map) io.metaIn.clear();
      if (c.meta == "null") io.meta = nullptr;
      const bool refused = slot.key == "WriteObject/3" && c.array == "null";
      const std::string array = c.array + ", " + std::to_string(c.size);
      const std::string args = Replaced(Replaced(slot.args, data, array), map, c.meta);
      Lines lines = refused ? c.refusal : Split(slot.lines);
      if (c.meta == "null" && noMap.count(slot.key) == 1) lines.insert(lines.begin(), noMap.at(slot.key));
      EXPECT_EQ(Call(slot, io), refused ? 41u : 0u);
      EXPECT_EQ(Script::Journal(), refused ? Lines{} : Lines{slot.key + "(" + args + ")"});
      EXPECT_EQ(log.Since(), lines);
    }
  }
}

// A read's array has the low 32 bits of the request, the Java long all 64;
// exactly the reported count is copied, never past the request or the array.
// Without a buffer or a size variable Java is not called.
TEST_F(ObjectsTest, AReadCopiesTheReportedCountAndNeverMore) {
  constexpr int64_t kFilled = INT64_MIN;  // the library reports what it filled
  // what, the request, the array's length, the count reported, code, changes
  const std::tuple<std::string, uint64_t, size_t, int64_t, uint32_t, std::string> cases[] = {
      {"an empty request", 0, 0, kFilled, 0, "size=0"},
      {"2^32+10: an array of 10, all delivered", k4GPlus10, 10, kFilled, 0, "size=10 buf=05060708090a0b0c0d0e"},
      {"2^31: no array", k2G, 0, kFilled, 40, "size=2147483648"},
      {"a short read leaves the rest of the buffer", 8, 8, 3, 0, "size=3 buf=050607"},
      {"a count beyond the request is cut to it", 8, 8, 9, 0, "buf=05060708090a0b0c"},
      {"a count of 2^64-1 is cut too", 8, 8, -1, 0, "buf=0000000000000000"},
      {"a count beyond the array of a 2^32+ request", k4GPlus10, 10, 20, 0, "size=20 buf=05060708090a0b0c0d0e"},
      {"no buffer", 8, 8, kFilled, 40, ""},
      {"no size variable", 8, 8, kFilled, 40, ""},
  };
  for (const Slot& slot : ObjectSlots()) {
    if (slot.key.rfind("ReadObject", 0) != 0) continue;
    for (const auto& [what, request, array, reported, code, changes] : cases) {
      SCOPED_TRACE(slot.key + ": " + what);
      Script::Reset();
      if (reported != kFilled) Script::SetReadCount(slot.key, reported);
      HostCall io;
      io.size = request;
      if (what == "no buffer") io.to = nullptr;
      if (what == "no size variable") io.sizeVar = nullptr;
      std::string changed;
      EXPECT_EQ(Call(slot, io, &changed), code);
      EXPECT_EQ(changed, changes);
      const std::string args =
          Replaced(Replaced(slot.args, ZeroBytes(8), ZeroBytes(array)), ", 8", ", " + std::to_string(request));
      EXPECT_EQ(Script::Journal(), code == 0 ? Lines{slot.key + "(" + args + ")"} : Lines{});
    }
  }
}

// The names of the metadata reads (low 32 bits of a 64-bit count) and the
// handles of the many-handle delete (a 32-bit count) make the same array; a
// missing path is asked about as the empty path.
TEST_F(ObjectsTest, NameArraysFollowTheirCountAndAMissingPathIsEmpty) {
  const std::tuple<bool, uint64_t, std::string> cases[] = {
      {true, 0, "null"}, {false, 2, "null"}, {true, 4294967297ULL, "[\"n1\"]"}, {true, 0x80000000ULL, "null"}};
  for (const Slot& slot : ObjectSlots()) {
    if (slot.args.find("[\"n1\", \"n2\"]") == std::string::npos) continue;
    for (const auto& [names, count, array] : cases) {
      SCOPED_TRACE(slot.key + " " + std::to_string(count));
      Script::ClearJournal();
      HostCall io;
      io.nameCount = count;
      if (!names) io.nameList = nullptr;
      EXPECT_EQ(Call(slot, io), 0u);
      EXPECT_EQ(Script::Journal(), Lines{slot.key + "(" + Replaced(slot.args, "[\"n1\", \"n2\"]", array) + ")"});
    }
  }
  Script::ClearJournal();
  uint32_t supported = 7;
  EXPECT_EQ(plugin->IsObjectPathSupported(nullptr, 4, &supported), 0u);
  EXPECT_EQ(supported, 1u);
  EXPECT_EQ(Script::Journal(), Lines{"IsObjectPathSupported/2(\"\", 4)"});
}

// Eight unattached threads go round the slots from places and with names of
// their own: every call gets its own answer, and -Xcheck:jni has no warning.
TEST_F(ObjectsTest, EightUnattachedThreadsMixingCallsEachGetTheirOwnAnswers) {
  constexpr size_t kThreads = 8, kCalls = 1000;
  Script::Returns("DeleteObjectByName/1", "ord:3");  // so that codes other than 0 are in play
  std::atomic<int> wrong{0};
  auto worker = [&](size_t t) {
    for (size_t i = 0; i < kCalls; ++i) {
      const Slot& slot = ObjectSlots()[(i + 3 * t) % ObjectSlots().size()];
      HostCall io;
      io.name = W("t" + std::to_string(t) + "-" + std::to_string(i));
      const uint32_t expected = slot.key == "DeleteObjectByName/1" ? 7 : 0;
      const std::string own = Replaced(slot.changes, "handle:obj", "handle:" + U8(io.name));
      std::string changes;
      if (Call(slot, io, &changes) != expected || changes != own) wrong.fetch_add(1);
    }
  };
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(Script::Journal().size(), kThreads * kCalls);
}

}  // namespace
}  // namespace test
}  // namespace kq
