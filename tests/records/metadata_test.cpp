// Metadata between host maps and CPluginMetaData arrays, the folder
// sub-list, and its release.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/MetaData.h"
#include "bridge/ResultReaders.h"
#include "tests/records/JniFaults.h"
#include "tests/records/RecordsTestSupport.h"
#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

using Call = ScopedJniFault::Call;

MetaDataMap Map(const std::vector<std::pair<std::string, std::string>>& entries) {
  MetaDataMap map;
  for (const auto& entry : entries) map[Wide(entry.first)] = PluginValueRecord{Wide(entry.second), 0};
  return map;
}

std::string Built(JNIEnv* env, const MetaDataMap* map) {
  ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env, map);
  EXPECT_FALSE(env->ExceptionCheck());
  return ShowMetaDataArray(env, array.get());
}

// Reads the array written in the Script's md: form into `map`.
std::string ReadInto(JNIEnv* env, const std::string& value, MetaDataMap map = MetaDataMap()) {
  ScopedLocalRef<jobject> array = Parse(env, value);
  ReadMetaDataArray(env, static_cast<jobjectArray>(array.get()), &map);
  EXPECT_FALSE(env->ExceptionCheck());
  return Show(map);
}

class MetaData : public testing::Test {
 protected:
  JNIEnv* env_ = CurrentEnv();
  LocalFrame frame_{env_, 32};
};

// Keys go to Java in the host map's order: UTF-16 code units compared as
// unsigned numbers, a prefix before what it starts.
TEST_F(MetaData, ArrayFollowsCodeUnitOrder) {
  const MetaDataMap map = Map({{"b", "1"},
                               {"a", "2"},
                               {"ab", "3"},
                               {"", "4"},
                               {"\\uFFFF", "5"},
                               {"\\uD83D\\uDE00", "6"},
                               {"\\u00E9", "7"},
                               {"B", "8"}});
  EXPECT_EQ(Built(env_, &map),
            "=4:STRING,B=8:STRING,a=2:STRING,ab=3:STRING,b=1:STRING,\\u00E9=7:STRING,"
            "\\uD83D\\uDE00=6:STRING,\\uFFFF=5:STRING");
}

TEST_F(MetaData, EmptyMapGivesAnEmptyArrayAndNoMapNone) {
  const MetaDataMap empty;
  EXPECT_EQ(Built(env_, &empty), "");
  ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env_, &empty);
  ASSERT_TRUE(array);
  EXPECT_EQ(env_->GetArrayLength(array.get()), 0);
  EXPECT_EQ(Built(env_, nullptr), "<null>");
}

// The host's type number is the CPropertyTYPE ordinal in both directions; a
// number without a constant leaves the constructor's STRING, which reads back
// as 0.
TEST_F(MetaData, PropertyTypeIsTheConstantsOrdinalBothWays) {
  MetaDataMap map;
  const int32_t types[] = {0, 1, 2, 3, 4, 5, -1, 1000};
  for (int32_t type : types) map[Wide("t" + std::to_string(type))] = PluginValueRecord{Wide("v"), type};
  ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env_, &map);
  EXPECT_EQ(ShowMetaDataArray(env_, array.get()),
            "t-1=v:STRING,t0=v:STRING,t1=v:INTEGER,t1000=v:STRING,t2=v:DATETIME,t3=v:BOOLEAN,t4=v:BINARY,"
            "t5=v:STRING");
  MetaDataMap back;
  ReadMetaDataArray(env_, array.get(), &back);
  EXPECT_EQ(Show(back), "t-1=v,t0=v,t1=v:1,t1000=v,t2=v:2,t3=v:3,t4=v:4,t5=v");
}

TEST_F(MetaData, ReadingTakesTheFirstOfEqualNamesAndKeepsTheHostsEntries) {
  EXPECT_EQ(ReadInto(env_, "md:a=first|b=2|a=second"), "a=first,b=2");
  EXPECT_EQ(ReadInto(env_, "md:a=java|c=3", Map({{"a", "host"}})), "a=host,c=3");
  EXPECT_EQ(ReadInto(env_, "md:z=1|y=2|\xC3\xA9=3"), "y=2,z=1,\\u00E9=3");
}

TEST_F(MetaData, ReadingSkipsNullEntriesAndNamesAndEmptiesNullValues) {
  EXPECT_EQ(ReadInto(env_, "md:<null>|<nullname>=x|a=<null>|b=<noval>|c=<empty>|<empty>=e"),
            "=e,a=,b=,c=");
  EXPECT_EQ(ReadInto(env_, "md:"), "");
  MetaDataMap untouched = Map({{"k", "v"}});
  ReadMetaDataArray(env_, nullptr, &untouched);
  EXPECT_EQ(Show(untouched), "k=v");
}

// Arrays of another element class are not read as metadata.
TEST_F(MetaData, ArraysOfAnotherClassAreLeftAlone) {
  EXPECT_EQ(ReadInto(env_, "sa:a|b"), "");
  ScopedLocalRef<jobject> strings = Parse(env_, "sa:a|b");
  FillMetaDataArray(env_, static_cast<jobjectArray>(strings.get()), Map({{"k", "v"}}));
  EXPECT_FALSE(env_->ExceptionCheck());
  ObjectSubList list;
  ScopedLocalRef<jobject> metaData = Parse(env_, "md:a=1");
  ReadSubListArray(env_, static_cast<jobjectArray>(metaData.get()), &list);
  EXPECT_TRUE(list.empty());

  // An initial element of another class would be stored unchecked.
  ScopedLocalRef<jclass> cls(env_, env_->FindClass("com/kq/AzureLibrary/CPluginMetaData"));
  ScopedLocalRef<jstring> text(env_, env_->NewStringUTF("x"));
  EXPECT_EQ(NewMetaDataArray(env_, 2, cls.get(), text.get()), nullptr);
  EXPECT_FALSE(env_->ExceptionCheck());
}

// A failure half-way leaves what was converted before it: written entries
// stay in the Java array (later slots keep the initial element), read ones
// stay in the host map.
TEST_F(MetaData, AFailureEndsTheLoopKeepingWhatWasConverted) {
  const MetaDataMap map = Map({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  {
    // The initial element is made first, then one per entry: the third
    // construction is b's.
    testing::internal::CaptureStdout();
    ScopedJniFault fault(env_, Call::kNewObject, std::string(), 3);
    ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env_, &map);
    EXPECT_EQ(fault.failures(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kDescribed);
    EXPECT_EQ(ShowMetaDataArray(env_, array.get()), "a=1:STRING,<null>=<null>:STRING,<null>=<null>:STRING");
  }
  {
    // Each element copies its value text, then its name: the third copy is
    // b's value.
    testing::internal::CaptureStdout();
    ScopedJniFault fault(env_, Call::kStringChars, std::string(), 3);
    EXPECT_EQ(ReadInto(env_, "md:a=1|b=2|c=3"), "a=1");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kDescribed);
  }
  {
    // Without a constructor there is no initial element and no entry: the
    // slots stay null.
    testing::internal::CaptureStdout();
    ScopedJniFault fault(env_, Call::kGetMethodID, "<init>");
    ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env_, &map);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ShowMetaDataArray(env_, array.get()), "null,null,null");
  }
  {
    // Without the types, values still go and keep the default type.
    testing::internal::CaptureStdout();
    ScopedJniFault fault(env_, Call::kGetMethodID, "values");
    MetaDataMap typed{{Wide("k"), PluginValueRecord{Wide("v"), 2}}};
    ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env_, &typed);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ShowMetaDataArray(env_, array.get()), "k=v:STRING");
  }
  EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(MetaData, TenThousandEntriesEachWayInASmallFrame) {
  MetaDataMap map;
  for (int i = 0; i < 10000; ++i) map[Wide("k" + std::to_string(i))] = PluginValueRecord{Wide("v"), i % 5};
  const size_t before = JvmOutput().size();
  {
    LocalFrame frame(env_, 16);
    ScopedLocalRef<jobjectArray> array = BuildMetaDataArray(env_, &map);
    ASSERT_TRUE(array);
    ASSERT_EQ(env_->GetArrayLength(array.get()), 10000);
    MetaDataMap back;
    ReadMetaDataArray(env_, array.get(), &back);
    EXPECT_EQ(back.size(), 10000u);
    for (const auto& entry : map) {
      auto found = back.find(entry.first);
      ASSERT_NE(found, back.end());
      EXPECT_EQ(found->second.prpType, entry.second.prpType);
    }
  }
  EXPECT_EQ(JvmOutput().find("JNI local refs", before), std::string::npos);
}

std::string ReadSubList(JNIEnv* env, const std::string& value) {
  auto result = Build(env, "CRetGetSubMetaDataList", {"errorValue=ord:0", "metaDat=" + value});
  int32_t ordinal = 99;
  ObjectSubList* list = nullptr;
  ReadRetGetSubMetaDataList(env, result.get(), &ordinal, &list);
  EXPECT_EQ(ordinal, 0);
  EXPECT_NE(list, nullptr);
  const std::string shown = list ? Show(*list) : "<none>";
  FreeObjectSubList(list, nullptr);
  return shown;
}

TEST_F(MetaData, SubListSkipsElementsWithoutNameOrMetadata) {
  EXPECT_EQ(ReadSubList(env_, "sub:b{x=1}|<null>|<nullname>{y=2}|c<nometa>|a{}|b{x=2}"), "a{};b{x=1}");
  EXPECT_EQ(ReadSubList(env_, "sub:"), "");
  EXPECT_EQ(ReadSubList(env_, "null"), "");
  EXPECT_EQ(ReadSubList(env_, "sub:f{k=1;k=2;<nullname>=3;j=<noval>}"), "f{j=,k=1}");
}

// Each call hands out a list of its own, even when the error says failure.
TEST_F(MetaData, EveryResultGetsAFreshList) {
  auto result = Build(env_, "CRetGetSubMetaDataList", {"errorValue=ord:4", "metaDat=sub:f{k=v}"});
  int32_t ordinal = 0;
  ObjectSubList* first = nullptr;
  ObjectSubList* second = nullptr;
  ReadRetGetSubMetaDataList(env_, result.get(), &ordinal, &first);
  ReadRetGetSubMetaDataList(env_, result.get(), &ordinal, &second);
  EXPECT_EQ(ordinal, 4);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(Show(*first), "f{k=v}");
  EXPECT_EQ(Show(*second), "f{k=v}");
  FreeObjectSubList(first, nullptr);
  FreeObjectSubList(second, nullptr);
}

TEST_F(MetaData, LargeSubListInASmallFrame) {
  std::string elements;
  for (int i = 0; i < 2000; ++i) elements += (i ? "|" : "") + ("f" + std::to_string(i)) + "{a=1;b=2}";
  auto result = Build(env_, "CRetGetSubMetaDataList", {"errorValue=ord:0", "metaDat=sub:" + elements});
  const size_t before = JvmOutput().size();
  ObjectSubList* list = nullptr;
  {
    LocalFrame frame(env_, 16);
    int32_t ordinal = 0;
    ReadRetGetSubMetaDataList(env_, result.get(), &ordinal, &list);
  }
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->size(), 2000u);
  FreeObjectSubList(list, nullptr);
  EXPECT_EQ(JvmOutput().find("JNI local refs", before), std::string::npos);
}

// Run under AddressSanitizer these also show that every map is freed once.
TEST(FreeObjectSubList, NullPopulatedAndHoleyLists) {
  FreeObjectSubList(nullptr, nullptr);

  auto* list = new ObjectSubList();
  for (int i = 0; i < 100; ++i) {
    auto* map = new MetaDataMap();
    (*map)[Wide("k")] = PluginValueRecord{Wide(std::string(100, 'v')), i};
    (*list)[Wide("f" + std::to_string(i))] = map;
  }
  (*list)[Wide("no map")] = nullptr;
  FreeObjectSubList(list, nullptr);

  FreeObjectSubList(new ObjectSubList(), nullptr);
}

}  // namespace
}  // namespace test
}  // namespace kq
