// The data path: how the 64-bit sizes become one Java array, how much of a
// read reaches the host's buffer, and the metadata and flag arguments.
#include <algorithm>
#include <cstring>

#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

constexpr uint64_t k2G = 2147483648ULL;          // 2^31: no array has that length
constexpr uint64_t k4GPlus10 = 4294967306ULL;    // 2^32 + 10: an array of 10

// A write form, called with the host's bytes, size and metadata (the plain
// write has no metadata; an empty map is used where none is given).
using WriteCall = std::function<uint32_t(ICloudPluginInterface&, unsigned char*, uint64_t, MetaDataMap*)>;

struct WriteForm {
  std::string name;
  std::string key;
  WriteCall call;
  // The journal entry before and after "<array>, <size>" when the map is
  // empty; the line the form writes when there is no map (empty: none).
  std::string before;
  std::string after;
  std::string nullMetaDataLine;
};

const std::vector<WriteForm>& WriteForms() {
  using P = ICloudPluginInterface;
  using M = MetaDataMap;
  static const std::vector<WriteForm> forms = {
      {"WriteObject(plain)", "WriteObject/3",
       [](P& p, unsigned char* b, uint64_t n, M*) { return p.WriteObject(u"o", b, n); }, "WriteObject/3(\"o\", ", ")",
       ""},
      {"WriteObject(metadata)", "WriteObject/4",
       [](P& p, unsigned char* b, uint64_t n, M* m) {
         WString out;
         return p.WriteObject(u"o", b, n, m, &out);
       },
       "WriteObject/4(\"o\", ", ", {})", "WriteObject::is called wih null metadata...o"},
      {"WriteObject(flag)", "WriteObject/5",
       [](P& p, unsigned char* b, uint64_t n, M* m) {
         WString out;
         return p.WriteObject(u"o", b, n, m, 1, &out);
       },
       "WriteObject/5(\"o\", ", ", {}, 1)", "WriteObject::is called wih null metadata...o"},
      {"WriteCachedObject", "WriteCachedObject/4",
       [](P& p, unsigned char* b, uint64_t n, M* m) {
         WString out;
         return p.WriteCachedObject(u"o", b, n, m, &out);
       },
       "WriteCachedObject/4(\"o\", ", ", {})", "WriteCachedObject::is called wih null metadata...o"},
      {"UpdateObject", "UpdateObject/5",
       [](P& p, unsigned char* b, uint64_t n, M* m) {
         WString out;
         return p.UpdateObject(u"o", u"t", b, n, m, &out);
       },
       "UpdateObject/5(\"o\", \"t\", ", ", {})", ""},
      {"UpdateObject(flag)", "UpdateObject/6",
       [](P& p, unsigned char* b, uint64_t n, M* m) {
         WString out;
         return p.UpdateObject(u"o", u"t", b, n, m, 1, &out);
       },
       "UpdateObject/6(\"o\", \"t\", ", ", {}, 1)", ""},
      {"UpdateCachedObjectByHandle", "UpdateCachedObjectByHandle/5",
       [](P& p, unsigned char* b, uint64_t n, M* m) { return p.UpdateCachedObjectByHandle(u"o", u"t", b, n, m); },
       "UpdateCachedObjectByHandle/5(\"o\", \"t\", ", ", {})",
       "UpdateCachedObjectByHandle::is called with NULL metadata...o"},
      {"UpdateCachedObjectByName", "UpdateCachedObjectByName/4",
       [](P& p, unsigned char* b, uint64_t n, M* m) { return p.UpdateCachedObjectByName(u"o", b, n, m); },
       "UpdateCachedObjectByName/4(\"o\", ", ", {})", ""},
  };
  return forms;
}

uint32_t Write(ICloudPluginInterface& p, const WriteForm& form, unsigned char* buffer, uint64_t size) {
  MetaDataMap empty;
  return form.call(p, buffer, size, &empty);
}

using ReadCall = std::function<uint32_t(ICloudPluginInterface&, unsigned char*, uint64_t*)>;

struct ReadForm {
  std::string name;
  std::string key;
  ReadCall call;
};

const std::vector<ReadForm>& ReadForms() {
  using P = ICloudPluginInterface;
  static const std::vector<ReadForm> forms = {
      {"ReadObject", "ReadObject/4", [](P& p, unsigned char* b, uint64_t* n) { return p.ReadObject(u"o", b, 0, n); }},
      {"ReadObjectByHandle", "ReadObjectByHandle/5",
       [](P& p, unsigned char* b, uint64_t* n) { return p.ReadObjectByHandle(u"o", b, 0, n, nullptr, 0, nullptr); }},
      {"ReadObjectByName", "ReadObjectByName/5",
       [](P& p, unsigned char* b, uint64_t* n) { return p.ReadObjectByName(u"o", b, 0, n, nullptr, 0, nullptr); }},
  };
  return forms;
}

std::vector<unsigned char> Buffer(size_t size, unsigned char value) { return std::vector<unsigned char>(size, value); }

// ---- sizes ----------------------------------------------------------------------

// The array is as long as the size's low 32 bits; the Java long carries all
// 64.  Low 32 bits of 2^31 or more make no array: the plain write refuses
// with 41, the other writes call Java with a null array.
TEST_F(ObjectsTest, AWritesArrayHasTheLow32BitsOfItsSizeAndTheLongAll64) {
  std::vector<unsigned char> data(16);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(0xA0 + i);
  for (const WriteForm& form : WriteForms()) {
    SCOPED_TRACE(form.name);
    struct Case {
      uint64_t size;
      std::string array;
    };
    const Case cases[] = {
        {0, Script::Bytes(nullptr, 0)},
        {k4GPlus10, Script::Bytes(data.data(), 10)},
        {k2G, "null"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.size);
      Script::ClearJournal();
      const uint32_t code = Write(plugin(), form, data.data(), c.size);
      if (c.size == k2G && form.key == "WriteObject/3") {
        EXPECT_EQ(code, 41u);
        EXPECT_TRUE(Script::Journal().empty()) << "no Java call without an array";
      } else {
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(Script::Journal(), Lines{form.before + c.array + ", " + std::to_string(c.size) + form.after});
      }
    }
  }
}

// The plain write describes why no array could be made.
TEST_F(ObjectsTest, APlainWriteWithoutArrayDescribesTheVmsRefusal) {
  unsigned char byte = 0;
  EXPECT_EQ(plugin().WriteObject(u"o", &byte, k2G), 41u);
  const Lines lines = log.Since();
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "WriteObject::memory copy started ...o");
  EXPECT_EQ(lines[1], "WriteObject::memory copy ended ...o");
  EXPECT_EQ(lines[2], "Descrption is failed");
  EXPECT_EQ(lines[3].rfind("java.lang.NegativeArraySizeException", 0), 0u) << lines[3];
}

TEST_F(ObjectsTest, AReadsArrayHasTheLow32BitsOfTheRequest) {
  for (const ReadForm& form : ReadForms()) {
    SCOPED_TRACE(form.name);
    // An empty request: an empty array, nothing copied.
    std::vector<unsigned char> buffer = Buffer(4, 0xEE);
    uint64_t size = 0;
    EXPECT_EQ(form.call(plugin(), buffer.data(), &size), 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer, Buffer(4, 0xEE));

    // 2^32 + 10: Java gets the whole request and an array of 10, of which
    // it fills all; the host's buffer receives those 10 and nothing more.
    Script::ClearJournal();
    size = k4GPlus10;
    buffer = Buffer(16, 0xEE);
    EXPECT_EQ(form.call(plugin(), buffer.data(), &size), 0u);
    EXPECT_EQ(size, 10u);
    std::vector<unsigned char> expected = Pattern(0, 10);
    expected.resize(16, 0xEE);
    EXPECT_EQ(buffer, expected);
    const Lines journal = Script::Journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_NE(journal[0].find(ZeroBytes(10) + ", "), std::string::npos) << journal[0];
    EXPECT_NE(journal[0].find("4294967306"), std::string::npos) << journal[0];

    // 2^31: no array, no Java call, 40; the host's objects stay as they were.
    Script::ClearJournal();
    size = k2G;
    buffer = Buffer(4, 0xEE);
    EXPECT_EQ(form.call(plugin(), buffer.data(), &size), 40u);
    EXPECT_EQ(size, k2G);
    EXPECT_EQ(buffer, Buffer(4, 0xEE));
    EXPECT_TRUE(Script::Journal().empty());
  }
}

// ---- how much of a read reaches the host ----------------------------------------

TEST_F(ObjectsTest, AReadCopiesExactlyTheReportedCountAndNeverMore) {
  struct Case {
    const char* what;
    uint64_t request;
    int64_t reported;
    uint64_t sizeAfter;
    size_t copied;
    size_t filled;  // how many of them the library filled (the rest are 0)
  };
  const Case cases[] = {
      {"short read: the rest of the buffer stays", 8, 3, 3, 3, 3},
      {"nothing read", 8, 0, 0, 0, 0},
      {"a count beyond the request is cut to it", 8, 9, 8, 8, 8},
      {"a count of 2^64-1 is cut too", 8, -1, 8, 8, 0},
      {"a count within a 2^32+ request but beyond its array copies only the array", k4GPlus10, 20, 20, 10, 10},
  };
  for (const ReadForm& form : ReadForms()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(form.name + ": " + c.what);
      Script::Reset();
      Script::SetReadCount(form.key, c.reported);
      std::vector<unsigned char> buffer = Buffer(16, 0xEE);
      uint64_t size = c.request;
      EXPECT_EQ(form.call(plugin(), buffer.data(), &size), 0u);
      EXPECT_EQ(size, c.sizeAfter);
      std::vector<unsigned char> expected = Pattern(0, c.filled);
      expected.resize(c.copied, 0);
      expected.resize(16, 0xEE);
      EXPECT_EQ(buffer, expected);
    }
  }
}

// A throwing plain read has no record: the whole request is copied out of
// the array, which Java never filled.
TEST_F(ObjectsTest, APlainReadWithoutRecordDeliversTheUntouchedArray) {
  Script::Throws("ReadObject/4", "boom");
  std::vector<unsigned char> buffer = Buffer(8, 0xEE);
  uint64_t size = 6;
  EXPECT_EQ(plugin().ReadObject(u"o", buffer.data(), 0, &size), 0u);
  EXPECT_EQ(size, 6u);
  std::vector<unsigned char> expected = Zeros(6);
  expected.resize(8, 0xEE);
  EXPECT_EQ(buffer, expected);
}

// Host buffers or size variables that are missing get answers, not crashes:
// a write without bytes is a write whose array could not be made, a read
// without a buffer or size variable does not call Java.
TEST_F(ObjectsTest, MissingBuffersAndSizesAreRefused) {
  for (const WriteForm& form : WriteForms()) {
    SCOPED_TRACE(form.name);
    Script::ClearJournal();
    const uint32_t code = Write(plugin(), form, nullptr, 5);
    if (form.key == "WriteObject/3") {
      EXPECT_EQ(code, 41u);
      EXPECT_TRUE(Script::Journal().empty());
    } else {
      EXPECT_EQ(code, 0u);
      EXPECT_EQ(Script::Journal(), Lines{form.before + "null, 5" + form.after});
    }
  }
  for (const ReadForm& form : ReadForms()) {
    SCOPED_TRACE(form.name);
    Script::ClearJournal();
    uint64_t size = 5;
    EXPECT_EQ(form.call(plugin(), nullptr, &size), 40u);
    EXPECT_EQ(size, 5u);
    unsigned char buffer[4] = {};
    EXPECT_EQ(form.call(plugin(), buffer, nullptr), 40u);
    EXPECT_TRUE(Script::Journal().empty());
  }
}

// ---- names, metadata, flags ------------------------------------------------------

TEST_F(ObjectsTest, TheNamesOfAMetadataReadUseTheLow32BitsOfTheirCount) {
  WString names[3] = {u"a", u"b", u"c"};
  struct Case {
    const char* what;
    WString* names;
    uint64_t count;
    std::string array;
  };
  const Case cases[] = {
      {"a count of 0", names, 0, "null"},
      {"no names", nullptr, 3, "null"},
      {"two of three", names, 2, "[\"a\", \"b\"]"},
      {"a count whose low 32 bits are 1", names, 4294967297ULL, "[\"a\"]"},
      {"a count whose low 32 bits read as negative", names, 0x80000000ULL, "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool byHandle : {true, false}) {
      Script::ClearJournal();
      unsigned char buffer[2];
      uint64_t size = 2;
      MetaDataMap out;
      const uint32_t code = byHandle ? plugin().ReadObjectByHandle(u"o", buffer, 7, &size, c.names, c.count, &out)
                                     : plugin().ReadObjectByName(u"o", buffer, 7, &size, c.names, c.count, &out);
      EXPECT_EQ(code, 0u);
      EXPECT_EQ(Script::Journal(), Lines{std::string(byHandle ? "ReadObjectByHandle" : "ReadObjectByName") +
                                         "/5(\"o\", " + ZeroBytes(2) + ", 7, 2, " + c.array + ")"});
    }
  }
}

// No map: Java gets null and the write says so where it has the line; an
// empty map is an empty array and no such line.
TEST_F(ObjectsTest, AbsentMetadataIsNullAndEmptyMetadataAnEmptyArray) {
  for (const WriteForm& form : WriteForms()) {
    if (form.key == "WriteObject/3") continue;
    SCOPED_TRACE(form.name);
    for (bool absent : {true, false}) {
      MetaDataMap empty;
      Script::ClearJournal();
      log.Mark();
      EXPECT_EQ(form.call(plugin(), nullptr, 0, absent ? nullptr : &empty), 0u);
      const Lines journal = Script::Journal();
      ASSERT_EQ(journal.size(), 1u);
      EXPECT_NE(journal[0].find(ZeroBytes(0) + ", 0" + (absent ? ", null" : ", {}")), std::string::npos) << journal[0];
      const Lines lines = log.Since();
      const bool hasNullLine = std::find(lines.begin(), lines.end(), form.nullMetaDataLine) != lines.end();
      EXPECT_EQ(hasNullLine, absent && !form.nullMetaDataLine.empty()) << ::testing::PrintToString(lines);
    }
  }
}

TEST_F(ObjectsTest, TheFlagIsShownAsSixteenLowerCaseHexDigits) {
  const struct {
    uint64_t flag;
    const char* text;
  } cases[] = {
      {1, " objFlag:[0x0000000000000001]"},
      {0xFFFFFFFF00000000ULL, " objFlag:[0xffffffff00000000]"},
      {0, " objFlag:[0x0000000000000000]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    log.Mark();
    WString out;
    EXPECT_EQ(plugin().WriteObject(u"o", nullptr, 0, nullptr, c.flag, &out), 0u);
    EXPECT_EQ(plugin().UpdateObject(u"o", u"t", nullptr, 0, nullptr, c.flag, &out), 0u);
    const Lines lines = log.Since();
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("WriteObject::java called is occured...o") + c.text),
              lines.end())
        << ::testing::PrintToString(lines);
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("UpdateObject::java called is occured...t") + c.text),
              lines.end())
        << ::testing::PrintToString(lines);
  }
}

// A write with metadata describes the exception that left it without a
// record, after its own line.
TEST_F(ObjectsTest, AThrowingWriteWithMetadataDescribesTheException) {
  for (const char* key : {"WriteObject/4", "WriteObject/5"}) {
    SCOPED_TRACE(key);
    Script::Reset();
    Script::Throws(key, "storage said no");
    log.Mark();
    MetaDataMap empty;
    WString out = u"stale";
    const uint32_t code = std::string(key) == "WriteObject/4" ? plugin().WriteObject(u"o", nullptr, 0, &empty, &out)
                                                              : plugin().WriteObject(u"o", nullptr, 0, &empty, 0, &out);
    EXPECT_EQ(code, 40u);
    EXPECT_EQ(U8(out), "stale");
    const Lines lines = log.Since();
    ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[2], "WriteObject::is return null...o");
    EXPECT_EQ(lines[3], "Descrption is failed");
    EXPECT_EQ(lines[4], "java.lang.RuntimeException: storage said no");
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
