#include <gtest/gtest.h>

#include <tuple>

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
  EXPECT_EQ(WideToUtf8(W(u"x") + static_cast<WChar>(0xD800)), "x\xEF\xBF\xBD");
}

TEST(Units, FormatAndParse) {
  EXPECT_EQ(FormatBytes(999), "999 B");
  EXPECT_EQ(FormatBytes(209715200), "209.7 MB");
  EXPECT_EQ(FormatDuration(7), "0:07");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatRate(50000000, 2.0), "25.0 MB/s");
  EXPECT_EQ(FormatRate(1, 0), "0.0 MB/s");
  for (auto [text, bytes] :
       {std::pair<const char*, uint64_t>{"4096", 4096}, {"8M", 8u << 20}, {"512KiB", 512u << 10}, {"1g", 1ull << 30}})
    EXPECT_EQ(ParseSize(text), bytes) << text;
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
  EXPECT_EQ(std::tie(out->size, out->mtimeNs, out->sha256), std::tie(in.size, in.mtimeNs, in.sha256));

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

TEST(Names, StorableNamesStayAndTheRestMapReversibly) {
  struct Case {
    std::string local, stored;
  } cases[] = {
      {"a/b/c.txt", "a/b/c.txt"},
      {"\xC3\xA9t\xC3\xA9/\xF0\x9F\x98\x80", "\xC3\xA9t\xC3\xA9/\xF0\x9F\x98\x80"},
      {"a%2g/%ab", "a%2g/%ab"},  // a '%' not followed by two upper-case hex digits stays
      {"a%20b", "a%2520b"},      // looks like an escape: the '%' itself is escaped
      {"kqh-set/x", "kqh-set/x"},
      {"dir./f..", "dir%2E/f.%2E"},
      {"...", "..%2E"},
      {"back\\slash", "back%5Cslash"},
      {"tab\tbell\adel\x7F", "tab%09bell%07del%7F"},
      {"bad\xFFname\xC3", "bad%FFname%C3"},                              // bytes that are not UTF-8
      {"\xED\xA0\x80", "%ED%A0%80"},                                     // an encoded surrogate is not UTF-8 either
      {"bad\xEF\xBF\xBFname\xEF\xBF\xBE", "bad%EF%BF%BFname%EF%BF%BE"},  // U+FFFF, U+FFFE: no listing holds them
      {"\xEF\xB7\x90\xEF\xBF\xBD", "\xEF\xB7\x90\xEF\xBF\xBD"},          // U+FDD0 and U+FFFD list back as they are
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeName(c.local), c.stored) << ::testing::PrintToString(c.local);
    EXPECT_EQ(DecodeName(c.stored), std::optional<std::string>(c.local)) << c.stored;
  }
  // Another tool's names that EncodeName could not have written are taken as they are.
  for (const char* foreign : {"a%41", "x%2F", "%C3%A9"}) EXPECT_EQ(DecodeName(foreign), std::string(foreign));
  // Nothing decodes to a path that leaves the folder or that no file can have.
  for (const char* bad : {"", "/a", "a/", "a//b", "%2E", "a/.%2E", "..", "x/../y", "nul%00"})
    EXPECT_FALSE(DecodeName(bad)) << bad;

  EXPECT_EQ(NormalizePrefix("/a/b//"), "a/b/");
  EXPECT_EQ(ObjectNameFor("p/", "x./y"), "p/x%2E/y");
  EXPECT_EQ(RelativePathOf("p/", "p/x%2E/y"), std::optional<std::string>("x./y"));
  EXPECT_FALSE(RelativePathOf("p/", "q/a"));
  EXPECT_FALSE(RelativePathOf("p/", "p/../../etc/passwd"));
}

TEST(Names, EveryShortByteStringRoundTrips) {
  // Exhaustive over three-byte names from a small alphabet that holds every
  // class the mapping treats specially.
  const std::string alphabet = std::string("a.%2E\\\x01\x7F\xC3\xA9\xFF/", 12);
  for (char x : alphabet)
    for (char y : alphabet)
      for (char z : alphabet) {
        const std::string name{x, y, z};
        if (!IsSafeRelativePath(name)) continue;
        EXPECT_EQ(DecodeName(EncodeName(name)), std::optional<std::string>(name)) << ::testing::PrintToString(name);
        EXPECT_TRUE(Utf8ToWide(EncodeName(name))) << ::testing::PrintToString(name);
      }
}

TEST(Names, PrefixesAndContainersAreCheckedBeforeUse) {
  for (const char* good : {"", "/", "set", "a/b/", "kqh-set", "100%"}) EXPECT_EQ(CheckPrefix(good), "") << good;
  struct Case {
    const char* prefix;
    const char* expect;
  } bad[] = {{"../../x", "'..'"},   {"a/./b", "'.'"},     {"a//b", "empty"}, {"a./b", "end with '.'"},
             {"a\\b", "backslash"}, {"a\x01", "control"}, {"\xFF", "UTF-8"}, {"s\xEF\xBF\xBF/t", "U+FFFF"}};
  for (const auto& c : bad) EXPECT_NE(CheckPrefix(c.prefix).find(c.expect), std::string::npos) << c.prefix;

  for (const std::string& good : {std::string("kq-backup"), std::string("abc"), std::string(63, 'z')})
    EXPECT_EQ(CheckContainerName(good), "") << good;
  EXPECT_NE(CheckContainerName(std::string(64, 'z')), "");
  for (const char* bad : {"ab", "Abc", "a--b", "-ab", "ab-", "a_b", "x;BlobEndpoint=http://127.0.0.1:1/d", "a=b"})
    EXPECT_NE(CheckContainerName(bad), "") << bad;
}

TEST(Text, PrintableEscapesWhatATerminalWouldObey) {
  EXPECT_EQ(Printable("plain/\xC3\xA9t\xC3\xA9.txt"), "plain/\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(Printable("a\x1B[2Jb"), "a\\x1b[2Jb");
  EXPECT_EQ(Printable("bs\\ del\x7F c1\xC2\x9B"), "bs\\\\ del\\x7f c1\\xc2\\x9b");
  EXPECT_EQ(Printable("bad\xFF\xC3"), "bad\\xff\\xc3");
}

TEST(Messages, CodesAndTheLibraryInitArgument) {
  EXPECT_EQ(DescribeCode(20), "20 (NETWORK_ERROR)");
  EXPECT_EQ(DescribeCode(40), "40 (bridge failure, see the plug-in log)");
  EXPECT_EQ(DescribeCode(999), "999");
  EXPECT_EQ(DescribeCode(13),
            "13 (READ_FAILED: object is archived: run restore --rehydrate, then retry in some hours)");
  EXPECT_STREQ(PluginError("CloseObject", 16).what(), "CloseObject failed: plug-in code 16 (COMMIT_FAILED)");
  HostOptions o;
  o.blockSize = 4096;
  EXPECT_EQ(InitArgument(o), "UseDevelopmentStorage=true;BlockSize=4096;ListLength=true");
  o.container = "x;BlobEndpoint=http://127.0.0.1:10212/devstoreaccount1";
  EXPECT_THROW(InitArgument(o), std::runtime_error);
  o.container = "";  // a string that disagrees with an option never reaches the library, even unreconciled
  o.connection = "BlockSize=8192";
  EXPECT_THROW(InitArgument(o), std::runtime_error);
}

// A connection string that carries Container= or BlockSize= itself: the
// user's item wins unless the matching option says otherwise.
TEST(Messages, ConnectionItemsTheUserWroteWinUnlessAnOptionDisagrees) {
  const std::string key = "AccountKey=S3cr3tK3y==";
  struct Row {
    std::string connection, container;  // container: --container / KQHOST_CONTAINER
    uint64_t blockSizeGiven;            // 0: --block-size not given (8M default)
    std::string problem;                // expected in the refusal; empty: accepted
    std::string container2 = "";        // accepted: the container and block size in force
    uint64_t blockSize2 = 0;
    std::string added = "";  // accepted: what InitLibrary gets after the user's own string
  } rows[] = {
      {"AccountName=a;" + key, "", 0, "", "", 8u << 20, ";BlockSize=8388608;ListLength=true"},
      {"AccountName=a; container =box;" + key + "; BLOCKSIZE = 4096 ;", "", 0, "", "box", 4096, "ListLength=true"},
      {"Container=box;BlockSize=+0004096;" + key, "box", 4096, "", "box", 4096, ";ListLength=true"},
      {"AccountName=blocksize;" + key + ";ListLength=false", "box", 0, "", "box", 8u << 20,
       ";Container=box;BlockSize=8388608"},
      {"BlockSize=4096;" + key, "", 8192, "says BlockSize=4096 but --block-size says 8192"},
      {"Container=box;" + key, "other", 0, "says Container=box but --container (or KQHOST_CONTAINER) says other"},
      {"CONTAINER=Box;" + key, "", 0, "Container item: 'Box' is not a container name"},
      {"BlockSize=4M;" + key, "", 0, "BlockSize item is not a number of bytes"},
      {"BlockSize=512;" + key, "", 0, "BlockSize item is not a number of bytes between 1024 and 268435456"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.connection + " / " + row.container + " / " + std::to_string(row.blockSizeGiven));
    HostOptions o;
    o.connection = row.connection;
    o.container = row.container;
    if (row.blockSizeGiven != 0) o.blockSize = row.blockSizeGiven;
    std::string problem = ReconcileConnectionItems(&o, row.blockSizeGiven != 0);
    if (!row.problem.empty()) {
      EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
      EXPECT_EQ(problem.find("S3cr3t"), std::string::npos) << "the key was quoted: " << problem;
      continue;
    }
    ASSERT_EQ(problem, "");
    EXPECT_EQ(o.container, row.container2);
    EXPECT_EQ(o.blockSize, row.blockSize2);
    EXPECT_EQ(InitArgument(o), row.connection + row.added);
  }
}

}  // namespace
}  // namespace kqhost
