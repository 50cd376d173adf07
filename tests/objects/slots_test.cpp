// Every object slot against the scripted library: what reaches Java, what
// the log shows, and what the host gets back when Java answers success,
// nothing, a failure or an exception.
#include <algorithm>
#include <set>

#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

using Check = std::function<void(const HostCall&)>;

const Check kNothingToCheck = [](const HostCall&) {};

Check OutIs(const std::u16string& text) {
  return [text](const HostCall& h) { EXPECT_EQ(U8(h.out), U8(text)); };
}

Check FlagIs(uint32_t flag) {
  return [flag](const HostCall& h) { EXPECT_EQ(h.flag, flag); };
}

// The read delivered `count` bytes of the library's fill from offset 5 and
// left the rest of the buffer, and the guard bytes after it, as they were.
Check ReadDelivered(uint64_t size, size_t count) {
  return [size, count](const HostCall& h) {
    EXPECT_EQ(h.size, size);
    std::vector<unsigned char> expected = Pattern(5, count);
    expected.resize(sizeof h.buffer, 0xEE);
    EXPECT_EQ(std::vector<unsigned char>(h.buffer, h.buffer + sizeof h.buffer), expected);
  };
}

Check MetaOutKeys(std::set<std::string> keys) {
  return [keys](const HostCall& h) {
    std::set<std::string> got;
    for (const auto& entry : h.metaOut) got.insert(U8(entry.first) + "=" + U8(entry.second.szProperty));
    EXPECT_EQ(got, keys);
  };
}

Check All(std::vector<Check> checks) {
  return [checks](const HostCall& h) {
    for (const Check& check : checks) check(h);
  };
}

const std::string kFlagText = " objFlag:[0x0123456789abcdef]";

// ---- what reaches Java, and a successful call ---------------------------------

TEST_F(ObjectsTest, EachSlotCallsItsJavaMethodWithTheHostsArgumentsInOrder) {
  const unsigned char data[3] = {1, 2, 3};
  const std::string d = Script::Bytes(data, 3);
  const std::string z = ZeroBytes(8);
  const std::string md = "{a=1, b=2}";
  struct Row {
    std::string slot;
    std::string journal;
    Lines lines;
    Check check;
  };
  const std::vector<Row> rows = {
      {"CreateObject", "CreateObject/1(\"obj\")", {"obj", "handle:obj", "CreateObject::is ended..."},
       OutIs(u"handle:obj")},
      {"OpenObject", "OpenObject/1(\"obj\")", {}, OutIs(u"handle:obj")},
      {"CreateCachedObject", "CreateCachedObject/1(\"obj\")", {}, OutIs(u"handle:obj")},
      {"GetBucketRegion", "GetBucketRegion/1(\"bucket\")", {"bucket", "region:bucket"}, OutIs(u"region:bucket")},
      {"CloseObject", "CloseObject/1(\"h\")", {}, kNothingToCheck},
      {"WriteObject(plain)", "WriteObject/3(\"obj\", " + d + ", 3)",
       {"WriteObject::memory copy started ...obj", "WriteObject::memory copy ended ...obj",
        "WriteObject::Java called ...obj", "WriteObject::Java ended ...obj"},
       kNothingToCheck},
      {"WriteObject(metadata)", "WriteObject/4(\"obj\", " + d + ", 3, " + md + ")",
       {"WriteObject::java called is occured...obj", "WriteObject::java ended is occured...obj"},
       OutIs(u"handle:obj")},
      {"WriteObject(flag)", "WriteObject/5(\"obj\", " + d + ", 3, " + md + ", 81985529216486895)",
       {"WriteObject::java called is occured...obj" + kFlagText, "WriteObject::java ended is occured...obj"},
       OutIs(u"handle:obj")},
      {"WriteCachedObject", "WriteCachedObject/4(\"obj\", " + d + ", 3, " + md + ")",
       {"WriteCachedObject::java is called...obj", "WriteCachedObject::java is ended...obj"}, OutIs(u"handle:obj")},
      {"UpdateObject", "UpdateObject/5(\"one\", \"two\", " + d + ", 3, " + md + ")", {}, OutIs(u"handle:one")},
      {"UpdateObject(flag)", "UpdateObject/6(\"one\", \"two\", " + d + ", 3, " + md + ", 81985529216486895)",
       {"UpdateObject::java called is occured...two" + kFlagText}, OutIs(u"handle:one")},
      {"UpdateCachedObjectByHandle", "UpdateCachedObjectByHandle/5(\"one\", \"two\", " + d + ", 3, " + md + ")",
       {"UpdateCachedObjectByHandle::java called is occured...one",
        "UpdateCachedObjectByHandle::java ended is occured...one"},
       kNothingToCheck},
      {"UpdateCachedObjectByName", "UpdateCachedObjectByName/4(\"obj\", " + d + ", 3, " + md + ")", {},
       kNothingToCheck},
      // The plain read passes the size first; the metadata reads the offset.
      {"ReadObject", "ReadObject/4(\"obj\", " + z + ", 8, 5)",
       {"ReadObject::is called...obj", "ReadObject::is ended...obj", "ReadObject::buffer copy started...obj",
        "ReadObject::buffer copy ended...obj"},
       ReadDelivered(8, 8)},
      {"ReadObjectByHandle", "ReadObjectByHandle/5(\"h\", " + z + ", 5, 8, [\"n1\", \"n2\"])", {},
       All({ReadDelivered(8, 8), MetaOutKeys({"kept=host"})})},
      {"ReadObjectByName", "ReadObjectByName/5(\"obj\", " + z + ", 5, 8, [\"n1\", \"n2\"])", {},
       All({ReadDelivered(8, 8), MetaOutKeys({"kept=host"})})},
      // The property type stays with the host.
      {"SetObjectMetaData", "SetObjectMetaData/3(\"obj\", \"prop\", \"text\")", {}, kNothingToCheck},
      {"GetObjectMetaData(map)", "GetObjectMetaData/1(\"obj\")", {}, MetaOutKeys({"kept=host"})},
      {"GetObjectMetaData(item)", "GetObjectMetaData/2(\"obj\", \"item\")",
       {"GetObjectMetaData::Java called ...obj", "GetObjectMetaData::Java ended ...obj"}, OutIs(u"value:item")},
      {"IsObjectExist", "IsObjectExist/1(\"obj\")", {}, FlagIs(1)},
      {"IsObjectPathSupported", "IsObjectPathSupported/2(\"p\", -3)", {}, FlagIs(1)},
      {"GetObjectSubList", "GetObjectSubList/1(\"folder\")", {},
       [](const HostCall& h) {
         ASSERT_NE(h.subList, nullptr);
         EXPECT_TRUE(h.subList->empty());
       }},
      {"DeleteObjectByName", "DeleteObjectByName/1(\"obj\")", {}, kNothingToCheck},
      {"DeleteObjectByHandle(one)", "DeleteObjectByHandle/1(\"h\")", {}, kNothingToCheck},
      {"DeleteObjectByHandle(many)", "DeleteObjectByHandles/1([\"n1\", \"n2\"])", {}, kNothingToCheck},
      {"DeleteCachedObjectByName", "DeleteCachedObjectByName/1(\"obj\")", {}, kNothingToCheck},
      // Both values and the answer cross whole, 4 GiB and more.
      {"GetObjectActualSize", "GetObjectActualSize/2(4294967296, 1099511627783)", {},
       [](const HostCall& h) { EXPECT_EQ(h.actualSize, 1099511627783ULL); }},
  };
  ASSERT_EQ(rows.size(), ObjectSlots().size()) << "every slot has a row";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.slot);
    Script::ClearJournal();
    log.Mark();
    HostCall io;
    EXPECT_EQ(Call(SlotNamed(row.slot), io), 0u);
    EXPECT_EQ(Script::Journal(), Lines{row.journal});
    EXPECT_EQ(log.Since(), row.lines);
    row.check(io);
    HandBack(io);
  }
}

// ---- Java answers nothing -------------------------------------------------------

struct NullRow {
  std::string slot;
  uint32_t code;
  Lines lines;
  Check check;
};

const std::vector<NullRow>& NullRows() {
  static const std::vector<NullRow> rows = {
      // A missing record reads as success with an empty handle.
      {"CreateObject", 0, {"obj", "", "CreateObject::is ended..."}, OutIs(u"")},
      {"OpenObject", 0, {}, OutIs(u"")},
      {"CreateCachedObject", 0, {}, OutIs(u"")},
      {"GetBucketRegion", 0, {"bucket", ""}, OutIs(u"")},
      {"CloseObject", 40, {}, kNothingToCheck},
      {"WriteObject(plain)",
       40,
       {"WriteObject::memory copy started ...obj", "WriteObject::memory copy ended ...obj",
        "WriteObject::Java called ...obj", "WriteObject::Java ended ...obj"},
       kNothingToCheck},
      {"WriteObject(metadata)",
       40,
       {"WriteObject::java called is occured...obj", "WriteObject::java ended is occured...obj",
        "WriteObject::is return null...obj"},
       OutIs(u"stale")},
      {"WriteObject(flag)",
       40,
       {"WriteObject::java called is occured...obj" + kFlagText, "WriteObject::java ended is occured...obj",
        "WriteObject::is return null...obj"},
       OutIs(u"stale")},
      {"WriteCachedObject",
       40,
       {"WriteCachedObject::java is called...obj", "WriteCachedObject::java is ended...obj",
        "WriteCachedObject::java is returned NULL...obj"},
       OutIs(u"stale")},
      {"UpdateObject", 40, {}, OutIs(u"")},
      {"UpdateObject(flag)", 40, {"UpdateObject::java called is occured...two" + kFlagText}, OutIs(u"")},
      {"UpdateCachedObjectByHandle",
       40,
       {"UpdateCachedObjectByHandle::java called is occured...one",
        "UpdateCachedObjectByHandle::java ended is occured...one"},
       kNothingToCheck},
      {"UpdateCachedObjectByName", 40, {}, kNothingToCheck},
      // Without a record the plain read delivers the whole request as Java
      // left the array (here: filled before the library answered null).
      {"ReadObject",
       0,
       {"ReadObject::is called...obj", "ReadObject::is ended...obj", "ReadObject::buffer copy started...obj",
        "ReadObject::buffer copy ended...obj"},
       ReadDelivered(8, 8)},
      {"ReadObjectByHandle", 40, {}, All({ReadDelivered(8, 0), MetaOutKeys({"kept=host"})})},
      {"ReadObjectByName", 40, {}, All({ReadDelivered(8, 0), MetaOutKeys({"kept=host"})})},
      {"SetObjectMetaData", 40, {}, kNothingToCheck},
      {"GetObjectMetaData(map)", 0, {}, MetaOutKeys({"kept=host"})},
      {"GetObjectMetaData(item)",
       0,
       {"GetObjectMetaData::Java called ...obj", "GetObjectMetaData::Java ended ...obj"},
       OutIs(u"")},
      {"IsObjectExist", 0, {}, FlagIs(0)},
      {"IsObjectPathSupported", 0, {}, FlagIs(0)},
      {"GetObjectSubList", 40, {}, [](const HostCall& h) { EXPECT_EQ(h.subList, nullptr); }},
      {"DeleteObjectByName", 40, {}, kNothingToCheck},
      {"DeleteObjectByHandle(one)", 40, {}, kNothingToCheck},
      // Decoded without GetErrorId: a missing error object is ordinal 40.
      {"DeleteObjectByHandle(many)", 47, {}, kNothingToCheck},
      {"DeleteCachedObjectByName", 40, {}, kNothingToCheck},
  };
  return rows;
}

TEST_F(ObjectsTest, ANullAnswerGivesEachSlotsDefinedResult) {
  for (const NullRow& row : NullRows()) {
    SCOPED_TRACE(row.slot);
    const Slot& slot = SlotNamed(row.slot);
    Script::Reset();
    Script::ReturnsNull(slot.key);
    log.Mark();
    HostCall io;
    EXPECT_EQ(Call(slot, io), row.code);
    EXPECT_EQ(log.Since(), row.lines);
    row.check(io);
    HandBack(io);
  }
}

// A method that throws gives no record either: the same codes, and the
// exception never stays pending on the host's thread.
TEST_F(ObjectsTest, AJavaExceptionGivesTheNullAnswersCodeAndIsCleared) {
  for (const NullRow& row : NullRows()) {
    SCOPED_TRACE(row.slot);
    const Slot& slot = SlotNamed(row.slot);
    Script::Reset();
    Script::Throws(slot.key, "boom");
    HostCall io;
    EXPECT_EQ(Call(slot, io), row.code);
    EXPECT_FALSE(CurrentEnv()->ExceptionCheck());
    HandBack(io);
  }
  // The one method without a record: the call completes with 0.
  Script::Throws("GetObjectActualSize/2", "boom");
  HostCall io;
  EXPECT_EQ(Call(SlotNamed("GetObjectActualSize"), io), 0u);
}

// ---- Java reports a failure -----------------------------------------------------

// The record's ordinal 3 maps to 7; whatever else the record carries reaches
// the host as each slot's rule says.
TEST_F(ObjectsTest, AFailureOrdinalIsMappedAndTheRecordStillDelivered) {
  struct Row {
    std::string slot;
    std::string recordClass;  // empty: the method answers a bare CErrorValue
    std::vector<std::string> fields;
    Check check;
  };
  const std::vector<std::string> created{"errorValue=ord:3", "objHandle=s:from-record"};
  const std::vector<Row> rows = {
      {"CreateObject", "CCreateFnValue", created, OutIs(u"from-record")},
      {"OpenObject", "CCreateFnValue", created, OutIs(u"from-record")},
      {"CreateCachedObject", "CCreateFnValue", created, OutIs(u"from-record")},
      {"GetBucketRegion", "CCreateFnValue", created, OutIs(u"from-record")},
      {"CloseObject", "", {}, kNothingToCheck},
      {"WriteObject(plain)", "", {}, kNothingToCheck},
      {"WriteObject(metadata)", "CWObjectHandleFnValue", created, OutIs(u"from-record")},
      {"WriteObject(flag)", "CWObjectHandleFnValue", created, OutIs(u"from-record")},
      {"WriteCachedObject", "CWObjectHandleFnValue", created, OutIs(u"from-record")},
      {"UpdateObject", "CCreateFnValue", created, OutIs(u"from-record")},
      {"UpdateObject(flag)", "CCreateFnValue", created, OutIs(u"from-record")},
      {"UpdateCachedObjectByHandle", "", {}, kNothingToCheck},
      {"UpdateCachedObjectByName", "", {}, kNothingToCheck},
      {"ReadObject", "CReadObjectFnValue", {"errorValue=ord:3", "sizeRead=j:2"}, ReadDelivered(2, 2)},
      {"ReadObjectByHandle", "CRObjectByNameFnValue", {"errorValue=ord:3", "bytesRead=j:2", "values=md:k=v"},
       All({ReadDelivered(2, 2), MetaOutKeys({"kept=host", "k=v"})})},
      {"ReadObjectByName", "CRObjectByNameFnValue", {"errorValue=ord:3", "bytesRead=j:2", "values=md:k=v"},
       All({ReadDelivered(2, 2), MetaOutKeys({"kept=host", "k=v"})})},
      {"SetObjectMetaData", "", {}, kNothingToCheck},
      {"GetObjectMetaData(map)", "CGObjectMetaDataFnValue", {"errorValue=ord:3", "values=md:k=v"},
       MetaOutKeys({"kept=host", "k=v"})},
      // The one output that a failure leaves alone.
      {"GetObjectMetaData(item)", "CGetObjectMetaData", {"errorValue=ord:3", "value=s:x"}, OutIs(u"stale")},
      {"IsObjectExist", "CIsObjectExistFnValue", {"errorValue=ord:3", "isExist=z:true"}, FlagIs(1)},
      {"IsObjectPathSupported", "CIsObjectExistFnValue", {"errorValue=ord:3", "isExist=z:true"}, FlagIs(1)},
      // A failed listing still hands out a list, which the host must free.
      {"GetObjectSubList", "CRetGetSubMetaDataList", {"errorValue=ord:3"},
       [](const HostCall& h) {
         ASSERT_NE(h.subList, nullptr);
         EXPECT_TRUE(h.subList->empty());
       }},
      {"DeleteObjectByName", "", {}, kNothingToCheck},
      {"DeleteObjectByHandle(one)", "", {}, kNothingToCheck},
      {"DeleteObjectByHandle(many)", "", {}, kNothingToCheck},
      {"DeleteCachedObjectByName", "", {}, kNothingToCheck},
  };
  ASSERT_EQ(rows.size() + 1, ObjectSlots().size()) << "every slot with an error object has a row";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.slot);
    const Slot& slot = SlotNamed(row.slot);
    Script::Reset();
    if (row.recordClass.empty()) {
      Script::Returns(slot.key, "ord:3");
    } else {
      Script::ReturnsBuilt(slot.key, row.recordClass, row.fields);
    }
    HostCall io;
    EXPECT_EQ(Call(slot, io), 7u);
    row.check(io);
    HandBack(io);
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
