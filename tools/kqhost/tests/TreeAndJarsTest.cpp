#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <random>
#include <set>

#include "ClassArchive.h"
#include "Host.h"
#include "HostOs.h"
#include "Jvm.h"
#include "Tree.h"

namespace kqhost {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Write(const std::string& rel, size_t size) { Put(root_ / fs::u8path(rel), std::string(size, 'x')); }
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

TEST_F(TempDir, JavaFeatureVersionReadsTheReleaseFile) {
  const struct {
    const char* release;
    int version;
  } rows[] = {{"JAVA_VERSION=\"1.8.0_392\"\n", 8},
              {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.21\"\n", 17},
              {"JAVA_VERSION=\"25-ea\"\n", 25}};
  for (const auto& row : rows) {
    Put(root_ / "release", row.release);
    EXPECT_EQ(JavaFeatureVersion(root_), row.version) << row.release;
  }
  fs::remove(root_ / "release");
  EXPECT_EQ(JavaFeatureVersion(root_), 0);
}

TEST(ClassArchive, DumpableClassListKeepsClassesLambdasAndForms) {
  EXPECT_EQ(DumpableClassList("# comment\njava/lang/Object id: 0\n@lambda-proxy a b\n\n@cp x 1\n"
                              "@lambda-form-invoker [LF_RESOLVE] x\ncom/kq/A id: 7 super: 0 source: a.jar\n"),
            "java/lang/Object id: 0\n@lambda-proxy a b\n@lambda-form-invoker [LF_RESOLVE] x\n"
            "com/kq/A id: 7 super: 0 source: a.jar\n");
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
  Write("dest/existing.txt", 3);
  Write("outside/victim.txt", 4);
  fs::create_symlink(outside, dest / "evil");
  fs::create_symlink(outside / "victim.txt", dest / "linked.txt");
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

// A Java installation whose `java` is a script: it writes the archive it is asked for, or fails.
class FakeJava : public TempDir {
 protected:
  void SetUp() override {
    Put(home_ / "release", "JAVA_VERSION=\"17.0.2\"\n");
    Put(home_ / "lib" / "server" / "libjvm.so", "vm");
    Put(home_ / "lib" / "modules", "image");
    Put(jar_, "jar");
    Java("echo made >\"$archive\"");
    unsetenv("KQHOST_CLASS_ARCHIVE");
  }
  void Java(const std::string& body) {
    Put(home_ / "bin" / "java",
        "#!/bin/sh\nfor a; do case $a in -XX:SharedArchiveFile=*) archive=${a#*=};; esac; done\n" + body + "\n");
    fs::permissions(home_ / "bin" / "java", fs::perms::owner_all);
  }
  ClassArchive Archive(bool readsData = false) const { return ClassArchive(cache_, home_, {jar_}, readsData); }
  std::multiset<std::string> Files() const {
    std::multiset<std::string> kinds;
    for (const auto& e : fs::directory_iterator(cache_ / "kqhost" / "class-archives"))
      kinds.insert(e.path().extension().u8string());
    return kinds;
  }
  // Runs as a VM would: the class list it records, then the archive made from it.
  bool Run(ClassArchive& archive, const std::string& recorded) {
    for (const auto& option : archive.VmOptions())
      if (option.rfind("-XX:DumpLoadedClassList=", 0) == 0) Put(option.substr(option.find('=') + 1), recorded);
    std::string error;
    return archive.MakeIfRecorded(&error);
  }

  fs::path home_ = root_ / "jdk", cache_ = root_ / "cache", jar_ = root_ / "lib" / "KQAzurePlugIn.jar";
};

TEST_F(FakeJava, TheFirstRunRecordsAndLeavesTheArchiveTheNextOneMaps) {
  ClassArchive first = Archive();
  ASSERT_TRUE(Run(first, "java/lang/Object id: 0\n"));
  EXPECT_EQ(Files(), (std::multiset<std::string>{".jsa", ".listing", ".log"}));  // no recording, list or part left
  const std::vector<std::string> maps{"-XX:SharedArchiveFile=" + first.archive().u8string()};
  EXPECT_EQ(Archive().VmOptions(), maps);

  // Recorded without the data path's classes: the first run that reads data records again and makes it final,
  // or, when its dump fails, keeps the one there is.
  for (bool dumps : {true, false}) {
    if (!dumps) {
      Put(fs::path(first.archive()).replace_extension(".listing"), "");
      Java("exit 1");
    }
    ClassArchive reading = Archive(true);
    ASSERT_TRUE(reading.recording());
    EXPECT_EQ(Run(reading, "java/lang/Object id: 0\ncom/kq/ReadAhead id: 1\n"), dumps);
    EXPECT_EQ(Files(), (std::multiset<std::string>{".jsa", ".log"}));
    EXPECT_EQ(Archive(true).VmOptions(), maps);
  }

  // Another jar, another archive; an off switch, a Java before 17, no cache folder: no option at all.
  Put(jar_, "a longer jar");
  EXPECT_TRUE(Archive().recording());
  setenv("KQHOST_CLASS_ARCHIVE", "off", 1);
  EXPECT_TRUE(Archive().VmOptions().empty());
  unsetenv("KQHOST_CLASS_ARCHIVE");
  Put(home_ / "release", "JAVA_VERSION=\"11.0.2\"\n");
  EXPECT_TRUE(Archive().VmOptions().empty());
  EXPECT_TRUE(ClassArchive(fs::path(), home_, {jar_}).VmOptions().empty());
}

TEST_F(FakeJava, AnArchiveNoRunMapsForWeeksGoesWhenAnotherIsMade) {
  const fs::path folder = cache_ / "kqhost" / "class-archives";
  const auto weeksAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * (ClassArchive::kUnusedDays + 1));
  ClassArchive first = Archive();
  ASSERT_TRUE(Run(first, "java/lang/Object id: 0\n"));
  const fs::path used = first.archive();
  const char* stale[] = {"00000000000000aa.jsa", "00000000000000aa.log", "00000000000000aa.listing",
                         "00000000000000cc.failed"};
  for (const char* name : stale) {
    Put(folder / name, "");
    fs::last_write_time(folder / name, weeksAgo);
  }
  fs::last_write_time(used, weeksAgo);
  EXPECT_FALSE(Archive().recording());  // mapped, so used now

  Put(jar_, "a longer jar");
  ClassArchive second = Archive();
  ASSERT_TRUE(Run(second, "java/lang/Object id: 0\n"));
  EXPECT_TRUE(fs::exists(used));
  for (const char* name : stale) EXPECT_FALSE(fs::exists(folder / name)) << name;

  fs::last_write_time(used, weeksAgo);  // no run has mapped it since: it goes with the next one made
  Put(jar_, "a third jar, longer still");
  ClassArchive third = Archive();
  ASSERT_TRUE(Run(third, "java/lang/Object id: 0\n"));
  EXPECT_EQ(Files().size(), 6u);  // the second's and the third's archive, note and log: none of the first's
}

TEST_F(FakeJava, AFailedDumpLeavesNoArchiveAndIsNotTriedAgain) {
  const struct {
    const char* java;
    const char* recorded;
  } rows[] = {{"echo half >\"$archive\"; exit 1", "java/lang/Object id: 0\n"},  // a partial file is never kept
              {"echo made >\"$archive\"", "# no class\n@cp 1 x\n"},             // nothing to dump
              {"echo 'Preload Warning: Removed error class: a.B'; echo made >\"$archive\"", "a/B id: 1\n"}};
  for (const auto& row : rows) {
    fs::remove_all(cache_);
    Java(row.java);
    ClassArchive first = Archive();
    EXPECT_FALSE(Run(first, row.recorded)) << row.java;
    EXPECT_TRUE(Archive().VmOptions().empty()) << row.java;
    for (const auto& ext : Files()) EXPECT_TRUE(ext == ".failed" || ext == ".log") << ext;
  }
}
#endif

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
