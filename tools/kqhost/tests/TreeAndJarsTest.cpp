#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "Host.h"
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

TEST_F(TempDir, TreeListsRegularFilesSortedWithTheirNamesAsTheyAreAndSkipsLinks) {
  const std::vector<std::string> sorted{"a/deep/er/x.bin", "b.txt",
#ifndef _WIN32
                                        "back\\slash", "bad\xFFname",
#endif
                                        "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt"};
  for (size_t i = sorted.size(); i-- > 0;) Write(sorted[i], i);  // the first one empty
  fs::create_directories(root_ / "empty");
  fs::create_symlink(root_ / "b.txt", root_ / "link");
  TreeListing t = ListTree(root_);
  std::vector<std::string> rels;
  for (const auto& f : t.files) {
    EXPECT_EQ(f.size, rels.size()) << f.rel;
    rels.push_back(f.rel);
  }
  EXPECT_EQ(rels, sorted);
  ASSERT_EQ(t.skipped.size(), 1u);
  EXPECT_NE(t.skipped[0].find("link"), std::string::npos);
  EXPECT_TRUE(t.errors.empty());
}

// Also past 2038 and on a file over 4 GiB, which a 32-bit build without 64-bit
// file offsets and times cannot stat.
TEST_F(TempDir, ModificationTimeRoundTripsToTheNanosecondBothSidesOf1970) {
  Write("big", 0);
  fs::resize_file(root_ / "big", (5ull << 30) + 1);  // sparse: costs no disk
  for (int64_t when : {1700000000123456789LL, -1500000000LL, 4102444800000000001LL}) {
    std::string error;
    ASSERT_TRUE(SetFileMtimeNs(root_ / "big", when, &error)) << error;
    int64_t got = 0;
    ASSERT_TRUE(GetFileMtimeNs(root_ / "big", &got, &error)) << error;
    EXPECT_EQ(got, when);
  }
}

#ifndef _WIN32
std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a restore leaves in the destination, whatever was there before.
TEST_F(TempDir, RestoredFilesNeverFollowPlantedLinksNorReplaceWithoutBeingAsked) {
  fs::path outside = root_ / "outside";
  fs::path dest = root_ / "dest";
  fs::create_directories(outside);
  fs::create_directories(dest);
  Write("dest/existing.txt", 3);
  fs::create_symlink(outside, dest / "evil");
  fs::create_symlink(outside / "victim.txt", dest / "linked.txt");
  Write("outside/victim.txt", 4);
  const std::string longName(255, 'n');  // the longest name most file systems allow
  RestoreRoot root;
  std::string error;
  ASSERT_TRUE(root.Open(dest, &error)) << error;
  const unsigned char data[] = {'n', 'e', 'w'};

  struct Case {
    std::string rel;
    bool overwrite;
    const char* expect;  // "written", "kept" or a piece of the error
  } cases[] = {
      {"evil/pwned.txt", true, "symbolic link"},
      {"a/evil/x", true, "written"},  // a fresh folder "a" is fine
      {"existing.txt", false, "kept"},
      {"linked.txt", false, "kept"},
      {"linked.txt", true, "written"},  // replaces the link itself, not its target
      {longName, false, "written"},
      {"x", false, "written"},
      {"x.kqhost-part", false, "written"},
  };
  for (const auto& c : cases) {
    std::string got;
    try {
      RestoreFile file(root, c.rel);
      file.Write(data, sizeof data);
      got = file.Commit(1700000000000000000LL, c.overwrite) ? "written" : "kept";
    } catch (const std::exception& e) {
      got = e.what();
    }
    EXPECT_NE(got.find(c.expect), std::string::npos) << c.rel.substr(0, 40) << ": " << got;
  }
  EXPECT_EQ(ReadAll(outside / "victim.txt"), "xxxx");
  EXPECT_FALSE(fs::exists(outside / "pwned.txt"));
  EXPECT_EQ(ReadAll(dest / "existing.txt"), "xxx");
  EXPECT_EQ(ReadAll(dest / "linked.txt"), "new");
  EXPECT_EQ(ReadAll(dest / longName), "new");
  EXPECT_EQ(ReadAll(dest / "x.kqhost-part"), "new");
  int64_t mtime = 0;
  ASSERT_TRUE(GetFileMtimeNs(dest / longName, &mtime, &error));
  EXPECT_EQ(mtime, 1700000000000000000LL);
  for (const auto& entry : fs::recursive_directory_iterator(dest))
    EXPECT_EQ(entry.path().filename().string().rfind(".kqhost-", 0), std::string::npos) << entry.path();

  {  // given up before its commit: nothing of it stays
    RestoreFile file(root, "abandoned.bin");
    file.Write(data, sizeof data);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 7);
}

// Large page-aligned chunks go past the page cache, everything else through it; whichever way each piece went, the
// file holds exactly the bytes written, in order.
TEST_F(TempDir, RestoredFileHoldsEveryByteWhateverTheShapeOfItsWrites) {
  constexpr size_t kMiB = size_t{1} << 20, kPage = 4096;
  std::vector<unsigned char> storage(9 * kMiB + 2 * kPage);
  unsigned char* aligned = storage.data() + (kPage - reinterpret_cast<uintptr_t>(storage.data()) % kPage) % kPage;
  struct Piece {
    size_t skew;  // bytes past a page boundary where the piece starts in memory
    size_t size;
  };
  const std::vector<std::vector<Piece>> cases = {
      {{0, 8 * kMiB}, {0, 8 * kMiB}, {0, 100}},  // whole chunks, then a short tail
      {{0, 3 * kMiB + kPage}},                   // page-sized but not MiB-sized
      {{0, 100}, {0, 2 * kMiB}},                 // an aligned chunk at an unaligned file offset
      {{1, 2 * kMiB}, {0, kMiB}},                // an unaligned address, then an aligned chunk at an odd offset
  };
  RestoreRoot root;
  std::string error;
  ASSERT_TRUE(root.Open(root_ / "dest", &error)) << error;
  unsigned char next = 0;
  for (size_t c = 0; c < cases.size(); ++c) {
    std::string expect;
    RestoreFile file(root, "f" + std::to_string(c));
    for (const Piece& piece : cases[c]) {
      unsigned char* at = aligned + piece.skew;
      for (size_t k = 0; k < piece.size; ++k) at[k] = next += 7;
      expect.append(reinterpret_cast<const char*>(at), piece.size);
      file.Write(at, piece.size);
    }
    ASSERT_TRUE(file.Commit(0, false));
    EXPECT_TRUE(ReadAll(root_ / "dest" / ("f" + std::to_string(c))) == expect) << "case " << c;
  }
}
#endif

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
  ASSERT_EQ(jars, (std::vector<fs::path>{root_ / "KQAzurePlugIn.jar", root_ / "alpha.jar", root_ / "zeta.jar"}))
      << error;
  EXPECT_EQ(JoinClassPath(jars), jars[0].string() + ":" + jars[1].string() + ":" + jars[2].string());
}

}  // namespace
}  // namespace kqhost

TEST(Threads, AsManyAsTheHeapHoldsBlocksForAndAtLeastOne) {
  constexpr uint64_t kMiB = 1u << 20;
  struct Case {
    unsigned requested;
    uint64_t block;
    int64_t heap;
    unsigned expect;
  } cases[] = {
      {32, 8 * kMiB, 64 * kMiB, 2}, {32, 8 * kMiB, 256 * kMiB, 8}, {8, 256 * kMiB, 64 * kMiB, 1},
      {32, 1024, 64 * kMiB, 32},    {4, 8 * kMiB, -1, 4},          {64, 8 * kMiB, INT64_MAX, 64},
  };
  for (const auto& c : cases)
    EXPECT_EQ(kqhost::ThreadsThatFit(c.requested, c.block, c.heap), c.expect)
        << c.requested << " x " << c.block << " in " << c.heap;
}
