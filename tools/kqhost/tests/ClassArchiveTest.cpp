#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <random>
#include <set>

#include "ClassArchive.h"

namespace kqhost {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

TEST(ClassArchive, JavaFeatureVersionReadsTheReleaseFile) {
  const fs::path home = fs::temp_directory_path() / ("kq-release-" + std::to_string(std::random_device{}()));
  const struct {
    const char* release;
    int version;
  } rows[] = {{"JAVA_VERSION=\"1.8.0_392\"\n", 8},
              {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.21\"\n", 17},
              {"JAVA_VERSION=\"25-ea\"\n", 25}};
  for (const auto& row : rows) {
    Put(home / "release", row.release);
    EXPECT_EQ(JavaFeatureVersion(home), row.version) << row.release;
  }
  fs::remove_all(home);
  EXPECT_EQ(JavaFeatureVersion(home), 0);
}

TEST(ClassArchive, DumpableClassListKeepsClassesLambdasAndForms) {
  EXPECT_EQ(DumpableClassList("# comment\njava/lang/Object id: 0\n@lambda-proxy a b\n\n@cp x 1\n"
                              "@lambda-form-invoker [LF_RESOLVE] x\ncom/kq/A id: 7 super: 0 source: a.jar\n"),
            "java/lang/Object id: 0\n@lambda-proxy a b\n@lambda-form-invoker [LF_RESOLVE] x\n"
            "com/kq/A id: 7 super: 0 source: a.jar\n");
}

#ifndef _WIN32
// A Java installation whose `java` is a script: it writes the archive it is asked for, or fails.
class FakeJava : public ::testing::Test {
 protected:
  void SetUp() override {
    Put(home_ / "release", "JAVA_VERSION=\"17.0.2\"\n");
    Put(home_ / "lib" / "server" / "libjvm.so", "vm");
    Put(home_ / "lib" / "modules", "image");
    Put(jar_, "jar");
    Java("echo made >\"$archive\"");
    unsetenv("KQHOST_CLASS_ARCHIVE");
  }
  void TearDown() override { fs::remove_all(root_); }
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

  fs::path root_ = fs::temp_directory_path() / ("kq-archive-" + std::to_string(std::random_device{}()));
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
    EXPECT_FALSE(fs::exists(first.archive()));
    EXPECT_TRUE(Archive().VmOptions().empty()) << row.java;
    for (const auto& ext : Files()) EXPECT_TRUE(ext == ".failed" || ext == ".log") << ext;
  }
}
#endif

}  // namespace
}  // namespace kqhost
