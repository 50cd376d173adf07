#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "HostOs.h"
#include "Jvm.h"
#include "Tree.h"

namespace kqhost {
namespace {

namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Write(const std::string& rel, size_t size) {
    fs::path p = root_ / fs::u8path(rel);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << std::string(size, 'x');
  }
  fs::path root_ = fs::temp_directory_path() / ("kqhost-test-" + std::to_string(std::random_device{}()));
};

TEST_F(TempDir, TreeListsRegularFilesSortedAndSkipsLinksAndUnstorableNames) {
  Write("b.txt", 3);
  Write("a/deep/er/x.bin", 0);
  Write("\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", 7);
  fs::create_directories(root_ / "empty");
  fs::create_symlink(root_ / "b.txt", root_ / "link");
#ifndef _WIN32
  Write("bad\xFFname", 1);
  Write("back\\slash", 1);
#endif
  TreeListing t = ListTree(root_);
  ASSERT_EQ(t.files.size(), 3u);
  EXPECT_EQ(t.files[0].rel, "a/deep/er/x.bin");
  EXPECT_EQ(t.files[1].rel, "b.txt");
  EXPECT_EQ(t.files[2].rel, "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(t.files[2].size, 7u);
  ASSERT_EQ(t.skipped.size(), 1u);
  EXPECT_NE(t.skipped[0].find("link"), std::string::npos);
#ifndef _WIN32
  EXPECT_EQ(t.errors.size(), 2u);
#endif
}

TEST_F(TempDir, ModificationTimeRoundTripsToTheNanosecondBothSidesOf1970) {
  Write("f", 1);
  for (int64_t when : {1700000000123456789LL, -1500000000LL}) {
    std::string error;
    ASSERT_TRUE(SetFileMtimeNs(root_ / "f", when, &error)) << error;
    int64_t got = 0;
    ASSERT_TRUE(GetFileMtimeNs(root_ / "f", &got, &error)) << error;
    EXPECT_EQ(got, when);
  }
}

TEST_F(TempDir, LibraryJarFirstThenTheOthersByNameOrTheReasonThereAreNone) {
  std::string error;
  EXPECT_TRUE(LibraryJars(root_ / "nope", &error).empty());
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
  Write("zeta.jar", 1);
  Write("alpha.jar", 1);
  Write("notes.txt", 1);
  EXPECT_TRUE(LibraryJars(root_, &error).empty());
  EXPECT_NE(error.find("KQAzurePlugIn.jar"), std::string::npos) << error;
  Write("KQAzurePlugIn.jar", 1);
  auto jars = LibraryJars(root_, &error);
  ASSERT_EQ(jars.size(), 3u) << error;
  EXPECT_EQ(jars[0].filename(), "KQAzurePlugIn.jar");
  EXPECT_EQ(jars[1].filename(), "alpha.jar");
  EXPECT_EQ(jars[2].filename(), "zeta.jar");
  EXPECT_EQ(JoinClassPath(jars), jars[0].string() + ":" + jars[1].string() + ":" + jars[2].string());
}

}  // namespace
}  // namespace kqhost
