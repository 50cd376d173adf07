// Queries, metadata calls and deletion: the points the slot tables do not
// show.
#include "tests/objects/objects_test_util.h"

namespace kq {
namespace test {
namespace {

// A folder's sub-list is the host's until it hands it back; it comes with
// the files that have names and metadata, in name order.
TEST_F(ObjectsTest, AFolderSubListIsHandedOutAndTakenBack) {
  Script::ReturnsBuilt("GetObjectSubList/1", "CRetGetSubMetaDataList",
                       {"errorValue=ord:0", "metaDat=sub:f2{k=v;k2=w}|f1{}|<null>|f3<nometa>"});
  ObjectSubList* list = nullptr;
  ASSERT_EQ(plugin().GetObjectSubList(u"folder", &list), 0u);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ(U8(list->begin()->first), "f1");
  ASSERT_NE(list->begin()->second, nullptr);
  EXPECT_TRUE(list->begin()->second->empty());
  const MetaDataMap& f2 = *list->rbegin()->second;
  ASSERT_EQ(f2.size(), 2u);
  EXPECT_EQ(U8(f2.at(u"k2").szProperty), "w");
  plugin().FreeObjectSubListMemory(list);

  // A record without elements still hands out a list, to be freed as well.
  Script::ReturnsBuilt("GetObjectSubList/1", "CRetGetSubMetaDataList", {"errorValue=ord:0"});
  list = nullptr;
  ASSERT_EQ(plugin().GetObjectSubList(u"folder", &list), 0u);
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->empty());
  plugin().FreeObjectSubListMemory(list);
}

TEST_F(ObjectsTest, AnActualSizeCrossesWholeInBothDirections) {
  const struct {
    uint64_t first;
    uint64_t second;
    const char* answer;
    uint64_t expected;
  } cases[] = {
      {4294967296ULL, 4294967297ULL, "j:4294967296", 4294967296ULL},
      {0, 18446744073709551615ULL, "j:18446744073709551615", 18446744073709551615ULL},
      {1, 2, "j:9223372036854775808", 9223372036854775808ULL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    Script::Reset();
    Script::Returns("GetObjectActualSize/2", c.answer);
    uint64_t size = 0;
    EXPECT_EQ(plugin().GetObjectActualSize(c.first, c.second, &size), 0u);
    EXPECT_EQ(size, c.expected);
    EXPECT_EQ(Script::Journal(), Lines{"GetObjectActualSize/2(" + std::to_string(c.first) + ", " +
                                       std::to_string(c.second) + ")"});
  }
}

TEST_F(ObjectsTest, TheHandlesOfAManyHandleDeleteUseTheirCount) {
  WString handles[2] = {u"h1", u"h2"};
  const struct {
    const char* what;
    WString* handles;
    uint32_t count;
    const char* array;
  } cases[] = {
      {"a count of 0", handles, 0, "null"},
      {"no handles", nullptr, 2, "null"},
      {"one of two", handles, 1, "[\"h1\"]"},
      {"a count that reads as negative", handles, 0x80000000u, "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Script::ClearJournal();
    EXPECT_EQ(plugin().DeleteObjectByHandle(c.handles, c.count), 0u);
    EXPECT_EQ(Script::Journal(), Lines{std::string("DeleteObjectByHandles/1(") + c.array + ")"});
  }
}

TEST_F(ObjectsTest, AMissingPathIsAskedAboutAsTheEmptyPath) {
  uint32_t supported = 7;
  EXPECT_EQ(plugin().IsObjectPathSupported(nullptr, 4, &supported), 0u);
  EXPECT_EQ(supported, 1u);
  EXPECT_EQ(Script::Journal(), Lines{"IsObjectPathSupported/2(\"\", 4)"});
}

}  // namespace
}  // namespace test
}  // namespace kq
