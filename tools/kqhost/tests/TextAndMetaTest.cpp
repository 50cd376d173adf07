#include <gtest/gtest.h>

#include "Host.h"
#include "ObjectMeta.h"
#include "Plugin.h"
#include "Sha256.h"
#include "Text.h"

namespace kqhost {
namespace {

WString W(const char16_t* s) {
  WString w;
  for (; *s; ++s) w.push_back(static_cast<WChar>(*s));
  return w;
}

TEST(Utf8, RoundTripsBmpAndSupplementaryCharacters) {
  const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";  // a, e-acute, CJK, emoji
  auto wide = Utf8ToWide(text);
  ASSERT_TRUE(wide);
  EXPECT_EQ(*wide, W(u"a\u00e9\u65e5\U0001F600"));
  EXPECT_EQ(WideToUtf8(*wide), text);
}

TEST(Utf8, RefusesMalformedInputAndReplacesUnpairedSurrogates) {
  for (const char* bad : {"\x80", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ab\xFF"})
    EXPECT_FALSE(Utf8ToWide(bad)) << "accepted " << ::testing::PrintToString(std::string(bad));
  WString w = W(u"x");
  w.push_back(static_cast<WChar>(0xD800));
  EXPECT_EQ(WideToUtf8(w), "x\xEF\xBF\xBD");
}

TEST(Units, FormatAndParse) {
  EXPECT_EQ(FormatBytes(999), "999 B");
  EXPECT_EQ(FormatBytes(209715200), "209.7 MB");
  EXPECT_EQ(FormatDuration(7), "0:07");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatRate(50000000, 2.0), "25.0 MB/s");
  EXPECT_EQ(FormatRate(1, 0), "0.0 MB/s");
  EXPECT_EQ(ParseSize("4096"), 4096u);
  EXPECT_EQ(ParseSize("8M"), 8u << 20);
  EXPECT_EQ(ParseSize("512KiB"), 512u << 10);
  EXPECT_EQ(ParseSize("1g"), 1ull << 30);
  for (const char* bad : {"", "M", "-1", "4X", "99999999999999999999", "18446744073709551615G"})
    EXPECT_FALSE(ParseSize(bad)) << bad;
}

TEST(Sha256Test, KnownVectorsAndIncrementalUpdates) {
  EXPECT_EQ(Sha256::OfBytes("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256::OfBytes("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 h;
  h.Update("a", 1);
  h.Update("bc", 2);
  EXPECT_EQ(h.FinishHex(), Sha256::OfBytes("abc", 3));
  EXPECT_EQ(h.FinishHex(), Sha256::OfBytes("", 0)) << "FinishHex must reset";
}

TEST(Meta, EncodeDecodeRoundTripAndKeysWithoutCase) {
  FileMeta in{209715201, -1234567890123LL, std::string(64, 'a')};
  MetaDataMap map = EncodeMeta(in);
  EXPECT_EQ(map.size(), 3u);
  std::string problem;
  auto out = DecodeMeta(map, &problem);
  ASSERT_TRUE(out) << problem;
  EXPECT_EQ(out->size, in.size);
  EXPECT_EQ(out->mtimeNs, in.mtimeNs);
  EXPECT_EQ(out->sha256, in.sha256);

  map.clear();  // as the service may hand the keys back, next to entries of others
  map[W(u"KQSize")].szProperty = W(u"5");
  map[W(u"kqMTIME")].szProperty = W(u"0");
  map[W(u"KQSHA256")].szProperty = WString(64, static_cast<WChar>('F'));
  map[W(u"other")].szProperty = W(u"x");
  out = DecodeMeta(map, &problem);
  ASSERT_TRUE(out) << problem;
  EXPECT_EQ(out->sha256, std::string(64, 'f'));
}

TEST(Meta, MissingOrMalformedEntriesAreExplained) {
  struct Case {
    const char* key;
    const char16_t* value;  // nullptr: remove the entry
    const char* expect;
  } cases[] = {
      {kMetaSha256, nullptr, "lacks kqsha256"},
      {kMetaSize, u"-1", "malformed kqsize"},
      {kMetaSize, u"99999999999999999999", "malformed kqsize"},
      {kMetaMtime, u"12a", "malformed kqmtime"},
      {kMetaSha256, u"abc", "malformed kqsha256"},
  };
  for (const auto& c : cases) {
    MetaDataMap map = EncodeMeta(FileMeta{1, 2, std::string(64, '0')});
    WString key = *Utf8ToWide(c.key);
    if (c.value == nullptr)
      map.erase(key);
    else
      map[key].szProperty = W(c.value);
    std::string problem;
    EXPECT_FALSE(DecodeMeta(map, &problem));
    EXPECT_NE(problem.find(c.expect), std::string::npos) << problem;
  }
}

TEST(Names, PrefixesAndOnlyPlainRelativePathsAreRestored) {
  EXPECT_EQ(NormalizePrefix("/"), "");
  EXPECT_EQ(NormalizePrefix("a"), "a/");
  EXPECT_EQ(NormalizePrefix("/a/b//"), "a/b/");
  EXPECT_EQ(ObjectNameFor("a/", "x/y.txt"), "a/x/y.txt");
  for (const char* good : {"a", "a/b/c.txt", "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5.bin", ".hidden", "a..b"})
    EXPECT_TRUE(IsSafeRelativePath(good)) << good;
  for (const char* bad : {"", "/a", "a/", "a//b", "./a", "a/../b", "..", "a\\b", "x/\xFF"})
    EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
  EXPECT_EQ(RelativePathOf("p/", "p/a/b"), std::optional<std::string>("a/b"));
  EXPECT_FALSE(RelativePathOf("p/", "q/a"));
  EXPECT_FALSE(RelativePathOf("p/", "p/../../etc/passwd"));
  EXPECT_FALSE(RelativePathOf("", "/abs"));
}

TEST(Messages, CodesAndTheLibraryInitArgument) {
  EXPECT_EQ(DescribeCode(20), "20 (NETWORK_ERROR)");
  EXPECT_EQ(DescribeCode(40), "40 (bridge failure, see the plug-in log)");
  EXPECT_EQ(DescribeCode(999), "999");
  EXPECT_EQ(DescribeCode(13), "13 (READ_FAILED: object is archived: run restore --rehydrate, then retry in some hours)");
  EXPECT_STREQ(PluginError("CloseObject", 16).what(), "CloseObject failed: plug-in code 16 (COMMIT_FAILED)");
  HostOptions o;
  o.blockSize = 4096;
  EXPECT_EQ(InitArgument(o), "UseDevelopmentStorage=true;BlockSize=4096");
  o.connection = "AccountName=a;AccountKey=k";  // the connection string is passed on untouched
  o.container = "box";
  EXPECT_EQ(InitArgument(o), "AccountName=a;AccountKey=k;Container=box;BlockSize=4096");
  o.connection = "AccountName=a;";
  EXPECT_EQ(InitArgument(o), "AccountName=a;Container=box;BlockSize=4096");
}

}  // namespace
}  // namespace kqhost
