// The account and container operations against the scripted library: the
// Java method each reaches and with what, where its result goes, what a null
// result or a throwing method gives, and the lines around the call.
#include "tests/account/account_test.h"

#include <map>

namespace kq {
namespace test {
namespace {

class Account : public AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    Script::ClearJournal();  // forget the library object's construction
    log.Mark();
  }

  const Operation& Op(const std::string& name) const {
    for (const Operation& op : Operations()) {
      if (name == op.name) return op;
    }
    ADD_FAILURE() << "no operation " << name;
    return Operations().front();
  }

  uint32_t Run(const Operation& op, Outputs& out) { return op.call(*plugin.get(), out); }

  Instance plugin = Instance::WithTestVm();
};

// What an operation does on the library's default answer (success).
struct Success {
  std::string journal;
  Lines lines;                                       // written around the call
  std::function<void(Outputs&)> writes = nullptr;  // applied to the preset outputs
};

const std::map<std::string, Success>& SuccessTable() {
  static const std::map<std::string, Success> table = {
      {"GetKQCloudStorageKey",
       {"getStorageKey/2(\"A\", \"B\")",
        {"GetKQCloudStorageKey::Java called ...A", "GetKQCloudStorageKey::Java ended ...A"},
        [](Outputs& o) { o.text = u"key:A"; }}},
      {"GetContainerName",
       {"GetContainerName/0()",
        {"GetContainerName::Java called ...", "GetContainerName::Java ended ..."},
        [](Outputs& o) { o.text = u"container"; }}},
      {"DeleteContainerFromKQCloud",
       {"DeleteContainer/0()",
        {"DeleteContainerFromKQCloud::Java called ...", "DeleteContainerFromKQCloud::Java ended ..."}}},
      // The record's values reach Java as third, fourth, first, second,
      // sixth, fifth.
      {"AddJobInfo", {"addJobInfo/6(3, 4, 1, 2, 6, 5)", {"AddJobInfo::Java ended ..."}}},
      {"CheckConnectivity", {"CheckConnectivity/0()", {}}},
      {"GetAllObjectsSize", {"GetAllObjectsSize/0()", {}, [](Outputs& o) { o.size = 0; }}},
      {"GetUniqueAccountName", {"GetUniqueAccountName/0()", {}, [](Outputs& o) { o.text = u"account"; }}},
      {"GetOwnerName", {"GetOwnerName/0()", {}, [](Outputs& o) { o.text = u"owner"; }}},
      {"IsSameAccount", {"IsSameAccount/2(\"A\", \"B\")", {}, [](Outputs& o) { o.flag = 1; }}},
      {"GetListContainers", {"GetListContainers/0()", {}}},
      {"GetRegions", {"GetRegions/0()", {}}},
      {"GetArchiveSet", {"GetArchiveSet/0()", {}}},
      {"IsValidContainer", {"IsValidContainer/1(\"box\")", {}, [](Outputs& o) { o.flag = 1; }}},
      {"GetAccountInfo",
       {"GetAccountInfo/0()",
        {},
        [](Outputs& o) { o.info = AccountInfoRecord{-9, u"id", u"type", u"name", u"mail", 1, 2}; }}},
      {"GetMachineNameList", {"getServerNameList/0()", {}}},
      {"CanBackup", {"canBackup/0()", {}, [](Outputs& o) { o.flag = 1; }}},
      {"UpdateStorageKey", {"updateStorageKey/0()", {}, [](Outputs& o) { o.text = u"key"; }}},
  };
  return table;
}

TEST_F(Account, EachOperationCallsItsJavaMethodOnceWithItsArguments) {
  ASSERT_EQ(SuccessTable().size(), Operations().size());
  for (const Operation& op : Operations()) {
    SCOPED_TRACE(op.name);
    const Success& s = SuccessTable().at(op.name);
    Script::ClearJournal();
    log.Mark();
    Outputs out, expected;
    if (s.writes) s.writes(expected);
    EXPECT_EQ(Run(op, out), 0u);
    EXPECT_EQ(Script::Journal(), Lines{s.journal});
    EXPECT_EQ(log.Since(), s.lines);
    EXPECT_EQ(out, expected);
  }
}

// A method that answers null, or throws (the call then yields no result and
// the exception is cleared): some operations fail with 40, the others report
// success with their outputs as the table says.  The lines around the call
// are written either way.
TEST_F(Account, NullResultColumn) {
  struct NullAnswer {
    uint32_t code;
    std::function<void(Outputs&)> writes = nullptr;
  };
  const std::map<std::string, NullAnswer> table = {
      {"GetKQCloudStorageKey", {40, [](Outputs& o) { o.text.clear(); }}},
      {"GetContainerName", {40}},
      {"DeleteContainerFromKQCloud", {40}},
      {"AddJobInfo", {40}},
      {"CheckConnectivity", {40}},
      {"GetAllObjectsSize", {40}},
      {"GetUniqueAccountName", {40}},
      {"GetOwnerName", {40}},
      {"IsSameAccount", {0, [](Outputs& o) { o.flag = 0; }}},
      {"GetListContainers", {0}},
      {"GetRegions", {0}},
      {"GetArchiveSet", {0}},
      {"IsValidContainer", {0, [](Outputs& o) { o.flag = 0; }}},
      {"GetAccountInfo", {0}},
      {"GetMachineNameList", {0}},
      {"CanBackup", {0}},
      {"UpdateStorageKey", {0}},
  };
  ASSERT_EQ(table.size(), Operations().size());
  for (bool throws : {false, true}) {
    for (const Operation& op : Operations()) {
      SCOPED_TRACE(std::string(op.name) + (throws ? " (throws)" : " (null)"));
      const NullAnswer& answer = table.at(op.name);
      Script::Reset();
      if (throws) {
        Script::Throws(op.key, "no answer");
      } else {
        Script::ReturnsNull(op.key);
      }
      log.Mark();
      Outputs out, expected;
      if (answer.writes) answer.writes(expected);
      EXPECT_EQ(Run(op, out), answer.code);
      EXPECT_EQ(out, expected);
      EXPECT_EQ(Script::Journal().size(), 1u);
      EXPECT_EQ(log.Since(), SuccessTable().at(op.name).lines);
    }
  }
}

// Every operation turns the Java ordinal into the host's code, whether the
// method answers a bare CErrorValue or a record carrying one.
TEST_F(Account, EveryOperationMapsTheJavaOrdinal) {
  const std::pair<int, uint32_t> ordinals[] = {{3, 7}, {28, 29}, {47, 45}, {100, 23}};
  for (const Operation& op : Operations()) {
    for (const auto& [ordinal, code] : ordinals) {
      SCOPED_TRACE(std::string(op.name) + " ordinal " + std::to_string(ordinal));
      Script::Reset();
      const std::string error = "ord:" + std::to_string(ordinal);
      if (op.resultClass.empty()) {
        Script::Returns(op.key, error);
      } else {
        Script::ReturnsBuilt(op.key, op.resultClass, {"errorValue=" + error});
      }
      Outputs out;
      EXPECT_EQ(Run(op, out), code);
    }
  }
}

// Lists are appended to, never cleared; null elements and elements without
// a name add nothing, the others keep their order.
TEST_F(Account, ListsAreAppendedAndSkipNullElements) {
  struct Row {
    const char* op;
    std::string assignment;
    WStringList once;  // what one call appends
  };
  const Row rows[] = {
      {"GetRegions", "regionsList=sa:east|<null>|west", {u"east", u"west"}},
      {"GetListContainers", "containers=ct:a|<null>|<nullname>|b", {u"a", u"b"}},
      {"GetArchiveSet", "containers=ct:<nullname>|set1|<null>|set2", {u"set1", u"set2"}},
      {"GetMachineNameList", "arrayOfString=sa:m1|<null>|<empty>|m2", {u"m1", u"", u"m2"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.op);
    const Operation& op = Op(row.op);
    Script::Reset();
    Script::ReturnsBuilt(op.key, op.resultClass, {"errorValue=ord:0", row.assignment});
    Outputs out;
    EXPECT_EQ(Run(op, out), 0u);
    EXPECT_EQ(Run(op, out), 0u);
    WStringList expected{u"kept"};
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), row.once.begin(), row.once.end());
    EXPECT_TRUE(out.list == expected) << ::testing::PrintToString(out);
  }
}

// Values cross bit for bit: sizes with the top bit set, the job record's
// 64-bit values, a negative CInt.
TEST_F(Account, SixtyFourBitValuesCrossUnchanged) {
  const Operation& size = Op("GetAllObjectsSize");
  for (const char* bits : {"9223372036854775809", "18446744073709551615"}) {
    SCOPED_TRACE(bits);
    Script::ReturnsBuilt(size.key, size.resultClass, {"errorValue=ord:0", std::string("size=j:") + bits});
    Outputs out;
    EXPECT_EQ(Run(size, out), 0u);
    EXPECT_EQ(out.size, std::stoull(bits));
  }

  Script::ClearJournal();
  EXPECT_EQ(plugin->AddJobInfo(JobInfoRecord{1ull << 63, ~0ull, 0, 1, 2, 3}), 0u);
  EXPECT_EQ(Script::Journal(), Lines{"addJobInfo/6(0, 1, 9223372036854775808, 18446744073709551615, 3, 2)"});

  Script::ReturnsBuilt("canBackup/0", "CInt", {"value=i:-1", "errorValue=ord:0"});
  uint32_t value = 0;
  EXPECT_EQ(plugin->CanBackup(&value), 0u);
  EXPECT_EQ(value, 0xFFFFFFFFu);

  Script::ReturnsBuilt("GetAccountInfo/0", "CGetAccountInfoFnValue",
                       {"errorValue=ord:0", "accountIndentity=s:\u00e9t\u00e9", "accountType=s:t",
                        "displayName=s:", "emailAddress=null", "usedSizeInByteTotal=j:18446744073709551615",
                        "remainedSizeInByteTotal=j:9223372036854775808"});
  Outputs out;
  EXPECT_EQ(plugin->GetAccountInfo(&out.info), 0u);
  Outputs expected;
  expected.info = AccountInfoRecord{-9, u"\u00e9t\u00e9", u"t", u"", u"d", ~0ull, 1ull << 63};
  EXPECT_EQ(out, expected);
}

// A null name: the storage keys keep the host's text, the names replace it
// with the empty string.
TEST_F(Account, NullTextsInRecords) {
  struct Row {
    const char* op;
    const char* field;
    bool empties;
  };
  const Row rows[] = {
      {"GetKQCloudStorageKey", "value", false}, {"UpdateStorageKey", "value", false},
      {"GetContainerName", "accountName", true}, {"GetUniqueAccountName", "accountName", true},
      {"GetOwnerName", "accountName", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.op);
    const Operation& op = Op(row.op);
    Script::Reset();
    Script::ReturnsBuilt(op.key, op.resultClass, {"errorValue=ord:0", std::string(row.field) + "=null"});
    Outputs out, expected;
    if (row.empties) expected.text.clear();
    EXPECT_EQ(Run(op, out), 0u);
    EXPECT_EQ(out, expected);
  }
}

// The host's texts reach Java and the log up to their first zero, any
// character included.
TEST_F(Account, InputTextsUpToTheirFirstZero) {
  const WString withZero(u"ab\0cd", 5);
  WString key;
  EXPECT_EQ(plugin->GetKQCloudStorageKey(withZero, u"\u6570\u636e", &key), 0u);
  EXPECT_EQ(log.Since(), (Lines{"GetKQCloudStorageKey::Java called ...ab", "GetKQCloudStorageKey::Java ended ...ab"}));
  uint32_t flag = 0;
  EXPECT_EQ(plugin->IsSameAccount(u"", withZero, &flag), 0u);
  EXPECT_EQ(plugin->IsValidContainer(u"caf\u00e9", &flag), 0u);
  EXPECT_EQ(Script::Journal(), (Lines{"getStorageKey/2(\"ab\", \"\u6570\u636e\")", "IsSameAccount/2(\"\", \"ab\")",
                                      "IsValidContainer/1(\"caf\u00e9\")"}));
}

// Absent outputs (lists may be absent; the others are tested all the same):
// the call is made and its error decoded, nothing is written through a null
// pointer.
TEST_F(Account, AbsentOutputsStillCallJavaAndDecodeTheError) {
  using P = ICloudPluginInterface;
  const std::pair<const char*, std::function<uint32_t(P&)>> rows[] = {
      {"GetKQCloudStorageKey", [](P& p) { return p.GetKQCloudStorageKey(u"a", u"b", nullptr); }},
      {"GetContainerName", [](P& p) { return p.GetContainerName(nullptr); }},
      {"GetAllObjectsSize", [](P& p) { return p.GetAllObjectsSize(nullptr); }},
      {"GetUniqueAccountName", [](P& p) { return p.GetUniqueAccountName(nullptr); }},
      {"GetOwnerName", [](P& p) { return p.GetOwnerName(nullptr); }},
      {"IsSameAccount", [](P& p) { return p.IsSameAccount(u"a", u"b", nullptr); }},
      {"IsValidContainer", [](P& p) { return p.IsValidContainer(u"c", nullptr); }},
      {"GetAccountInfo", [](P& p) { return p.GetAccountInfo(nullptr); }},
      {"CanBackup", [](P& p) { return p.CanBackup(nullptr); }},
      {"UpdateStorageKey", [](P& p) { return p.UpdateStorageKey(nullptr); }},
      {"GetListContainers", [](P& p) { return p.GetListContainers(nullptr); }},
      {"GetRegions", [](P& p) { return p.GetRegions(nullptr); }},
      {"GetArchiveSet", [](P& p) { return p.GetArchiveSet(nullptr); }},
      {"GetMachineNameList", [](P& p) { return p.GetMachineNameList(nullptr); }},
  };
  for (const auto& [name, call] : rows) {
    SCOPED_TRACE(name);
    const Operation& op = Op(name);
    Script::Reset();
    Script::ReturnsBuilt(op.key, op.resultClass, {"errorValue=ord:28"});
    EXPECT_EQ(call(*plugin.get()), 29u);
    EXPECT_EQ(Script::Journal().size(), 1u);
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
