// backup, restore and verify against an in-process stand-in for the plug-in:
// which object calls each file size takes, what survives a failure, and what
// restore refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "Commands.h"
#include "FakeStore.h"
#include "HostOs.h"
#include "ObjectMeta.h"
#include "Sha256.h"

namespace kqhost {
namespace {

namespace fs = std::filesystem;
constexpr size_t kBlock = 1024;

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kqhost-cmd-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_ / "src");
    options_.blockSize = kBlock;
    options_.threads = 1;
    hosts_ = [this](const HostOptions& o) { return std::make_unique<Host>(&store_, o.blockSize); };
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::vector<unsigned char> Write(const std::string& rel, size_t size) {
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(rng_());
    fs::path p = root_ / "src" / fs::u8path(rel);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(size));
    return bytes;
  }
  int Backup(const std::string& prefix = "p") { return RunBackup(options_, root_ / "src", prefix, hosts_); }
  int Restore(const std::string& prefix = "p") { return RunRestore(options_, root_ / "dst", prefix, hosts_); }
  static std::vector<unsigned char> Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
  }
  static size_t Count(const std::vector<std::string>& journal, const std::string& start) {
    return std::count_if(journal.begin(), journal.end(),
                         [&](const std::string& s) { return s.compare(0, start.size(), start) == 0; });
  }

  fs::path root_;
  HostOptions options_;
  FakeStore store_;
  HostFactory hosts_;
  std::mt19937 rng_{7};
};

TEST_F(CommandsTest, UpToOneBlockGoesUpInOneCallLargerFilesThroughACommittedSession) {
  struct Case {
    size_t size;
    size_t plainWrites;  // chunks before the last, which carries the metadata
    bool session;
  } cases[] = {{0, 0, false}, {1, 0, false}, {kBlock - 1, 0, false}, {kBlock, 0, false},
               {kBlock + 1, 1, true}, {2 * kBlock, 1, true}, {5 * kBlock + 3, 5, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    fs::remove_all(root_ / "src");
    store_.Reset();
    auto bytes = Write("f.bin", c.size);
    ASSERT_EQ(Backup(), kExitOk);
    auto journal = store_.Journal();
    EXPECT_EQ(Count(journal, "CreateObject"), c.session ? 1u : 0u);
    EXPECT_EQ(Count(journal, "WriteObject kqh-"), c.plainWrites);
    EXPECT_EQ(Count(journal, "WriteObject+meta"), 1u);
    EXPECT_EQ(Count(journal, "CloseObject"), c.session ? 1u : 0u);
    auto objects = store_.Objects();
    ASSERT_EQ(objects.count("p/f.bin"), 1u);
    EXPECT_EQ(objects["p/f.bin"].data, bytes);
    std::string problem;
    auto meta = DecodeMeta(objects["p/f.bin"].meta, &problem);
    ASSERT_TRUE(meta) << problem;
    EXPECT_EQ(meta->size, c.size);
    EXPECT_EQ(meta->sha256, Sha256::OfBytes(bytes.data(), bytes.size()));
  }
}

TEST_F(CommandsTest, RoundTripWithThreadsKeepsBytesNamesAndTimes) {
  Write("a/b/c.bin", 3 * kBlock + 7);
  Write("\xC3\xA9t\xC3\xA9/x.txt", 5);
  Write("empty", 0);
  for (int i = 0; i < 20; ++i) Write("many/" + std::to_string(i), static_cast<size_t>(i) * 300);
  std::string error;
  ASSERT_TRUE(SetFileMtimeNs(root_ / "src" / "empty", 981173106123456789LL, &error)) << error;
  options_.threads = 3;
  ASSERT_EQ(Backup(), kExitOk);
  ASSERT_EQ(Restore(), kExitOk);
  for (const auto& e : fs::recursive_directory_iterator(root_ / "src")) {
    if (!e.is_regular_file()) continue;
    fs::path restored = root_ / "dst" / fs::relative(e.path(), root_ / "src");
    EXPECT_EQ(Read(e.path()), Read(restored)) << restored;
    int64_t a = 0, b = 0;
    GetFileMtimeNs(e.path(), &a, &error);
    GetFileMtimeNs(restored, &b, &error);
    EXPECT_EQ(a, b) << restored;
  }
  EXPECT_EQ(RunVerify(options_, "p", hosts_), kExitOk);
}

TEST_F(CommandsTest, AFailedChunkDiscardsTheSessionAndNothingIsCommitted) {
  Write("big.bin", 4 * kBlock);
  Write("small.txt", 10);
  store_.FailOn("WriteObject kqh-1", 2, 20);  // NETWORK_ERROR on the second chunk
  testing::internal::CaptureStderr();
  int rc = Backup();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, kExitFailed);
  EXPECT_NE(err.find("big.bin: WriteObject failed: plug-in code 20 (NETWORK_ERROR)"), std::string::npos) << err;
  auto journal = store_.Journal();
  EXPECT_EQ(Count(journal, "CloseObject"), 0u);
  EXPECT_EQ(Count(journal, "DeleteObjectByHandle kqh-1"), 1u);
  auto objects = store_.Objects();
  EXPECT_EQ(objects.count("p/big.bin"), 0u);
  EXPECT_EQ(objects.count("p/small.txt"), 1u) << "storage still answers, so the other files go on";
}

TEST_F(CommandsTest, StorageThatStopsAnsweringEndsTheRun) {
  for (int i = 0; i < 6; ++i) Write("f" + std::to_string(i), 10);
  store_.FailOn("WriteObject+meta p/f0", 1, 20);  // the first file handed out (largest first, ties by name)
  store_.SetConnectivity(20);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  int rc = Backup();
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, kExitFailed);
  EXPECT_NE(err.find("storage does not answer (CheckConnectivity: plug-in code 20 (NETWORK_ERROR)); stopping"),
            std::string::npos)
      << err;
  EXPECT_NE(out.find("1 failed, 5 not attempted"), std::string::npos) << out;
  EXPECT_TRUE(store_.Objects().empty());
}

TEST_F(CommandsTest, RestoreRefusesCorruptForeignAndEscapingObjects) {
  Write("good.txt", 100);
  Write("bad.bin", 3 * kBlock);
  ASSERT_EQ(Backup(), kExitOk);
  auto objects = store_.Objects();
  auto corrupt = objects["p/bad.bin"];
  corrupt.data[kBlock] ^= 1;
  store_.Put("p/bad.bin", corrupt.data, corrupt.meta);
  store_.Put("p/../escape.txt", objects["p/good.txt"].data, objects["p/good.txt"].meta);
  store_.Put("p/foreign.txt", {'x'}, {});
  auto longer = objects["p/good.txt"];
  longer.data.push_back('!');
  store_.Put("p/longer.txt", longer.data, longer.meta);

  testing::internal::CaptureStderr();
  int rc = Restore();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, kExitFailed);
  EXPECT_NE(err.find("p/bad.bin: SHA-256 mismatch"), std::string::npos) << err;
  EXPECT_NE(err.find("p/../escape.txt: the name is not a safe relative path"), std::string::npos) << err;
  EXPECT_NE(err.find("p/foreign.txt: metadata lacks"), std::string::npos) << err;
  EXPECT_NE(err.find("p/longer.txt: the object is longer than its metadata says"), std::string::npos) << err;
  EXPECT_TRUE(fs::exists(root_ / "dst" / "good.txt"));
  EXPECT_FALSE(fs::exists(root_ / "dst" / "bad.bin"));
  EXPECT_FALSE(fs::exists(root_ / "dst" / "longer.txt"));
  EXPECT_FALSE(fs::exists(root_ / "escape.txt"));
  for (const auto& e : fs::recursive_directory_iterator(root_ / "dst"))
    EXPECT_NE(e.path().extension(), ".kqhost-part") << e.path();

  testing::internal::CaptureStderr();
  EXPECT_EQ(RunVerify(options_, "p", hosts_), kExitFailed);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("p/bad.bin: SHA-256 mismatch"), std::string::npos) << err;
}

TEST_F(CommandsTest, RecursiveRemoveDeletesOnlyUnderThePrefix) {
  Write("a.txt", 1);
  ASSERT_EQ(Backup("p"), kExitOk);
  ASSERT_EQ(Backup("pq"), kExitOk);
  EXPECT_EQ(RunRemove(options_, "p", true, hosts_), kExitOk);
  auto objects = store_.Objects();
  EXPECT_EQ(objects.count("p/a.txt"), 0u);
  EXPECT_EQ(objects.count("pq/a.txt"), 1u);
  EXPECT_EQ(RunRemove(options_, "p/a.txt", false, hosts_), kExitFailed) << "already gone";
}

}  // namespace
}  // namespace kqhost
