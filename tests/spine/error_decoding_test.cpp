// The Java side's answers turned into the host's codes: the ordinal table,
// error objects without identifier or with none at all, Java exceptions.
#include <climits>
#include <string>

#include "bridge/JniWrapper.h"
#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

// The host's code for each Java ordinal from -1 to 60, written out as the
// host documents them.
const uint32_t kCodeOfOrdinal[] = {
    23,                                                                      // -1
    0,  1,  2,  7,  4,  5,  6,                                               // 0..6
    8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,  // 7..24
    26, 27,                                                                  // 25, 26
    30, 29,                                                                  // 27, 28
    30, 31, 32, 33, 34, 35, 36, 37, 38,                                      // 29..37
    1,  1,  47, 1,                                                           // 38..41
    42, 43,                                                                  // 42, 43
    23, 23, 23,                                                              // 44..46
    45, 46,                                                                  // 47, 48
    23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 23, 23,                          // 49..60
};
constexpr int kFirstOrdinal = -1;
constexpr int kLastOrdinal = 60;
static_assert(sizeof kCodeOfOrdinal / sizeof kCodeOfOrdinal[0] == kLastOrdinal - kFirstOrdinal + 1, "one per ordinal");

uint32_t Expected(int ordinal) { return kCodeOfOrdinal[ordinal - kFirstOrdinal]; }

class ErrorDecoding : public SpineTest {};

TEST_F(ErrorDecoding, MapErrorIdKnowsEveryOrdinal) {
  for (int ordinal = kFirstOrdinal; ordinal <= kLastOrdinal; ++ordinal) {
    EXPECT_EQ(CJNIWrapper::MapErrorId(ordinal), Expected(ordinal)) << "ordinal " << ordinal;
  }
  for (int32_t far : {INT_MIN, -2, 100, INT_MAX}) EXPECT_EQ(CJNIWrapper::MapErrorId(far), 23u) << far;
}

TEST_F(ErrorDecoding, NoOrdinalPassesForABridgeFailure) {
  for (int ordinal = kFirstOrdinal; ordinal <= kLastOrdinal; ++ordinal) {
    EXPECT_NE(CJNIWrapper::MapErrorId(ordinal), 40u) << "ordinal " << ordinal;
  }
}

TEST_F(ErrorDecoding, AzureInitsOrdinalReachesTheHostMapped) {
  Instance plugin = Instance::WithTestVm();
  log.Mark();
  for (int ordinal = kFirstOrdinal; ordinal <= kLastOrdinal; ++ordinal) {
    Script::Returns("AzureInit/2", "ord:" + std::to_string(ordinal));
    EXPECT_EQ(plugin->InitLibrary(W("arg")), Expected(ordinal)) << "ordinal " << ordinal;
  }
  EXPECT_TRUE(log.Since().empty());
}

TEST_F(ErrorDecoding, AnExceptionFromAzureInitIsDescribedAndCleared) {
  Instance plugin = Instance::WithTestVm();
  Script::Throws("AzureInit/2", "no account");
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(log.Since(), (Lines{"Descrption is failed", "java.lang.RuntimeException: no account",
                                "Init:: Could not get the error object"}));
  // The same from a thread the bridge attaches itself.
  log.Mark();
  RunOnNewThread([&] { EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u); });
  EXPECT_EQ(log.Since().size(), 3u);
}

TEST_F(ErrorDecoding, ALongExceptionTextIsWrittenWhole) {
  Instance plugin = Instance::WithTestVm();
  const std::string text(3000, 'x');
  Script::Throws("AzureInit/2", text);
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  const Lines lines = log.Since();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "java.lang.RuntimeException: " + text);
}

TEST_F(ErrorDecoding, NoErrorObjectIsABridgeFailure) {
  Instance plugin = Instance::WithTestVm();
  Script::ReturnsNull("AzureInit/2");
  log.Mark();
  EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
  EXPECT_EQ(log.Since(), Lines{"Init:: Could not get the error object"});
}

TEST_F(ErrorDecoding, AnErrorObjectWithoutIdentifierIsABridgeFailureWhateverItsOrdinal) {
  Instance plugin = Instance::WithTestVm();
  for (const char* answer : {"noid:0", "noid:3"}) {
    SCOPED_TRACE(answer);
    Script::Returns("AzureInit/2", answer);
    log.Mark();
    EXPECT_EQ(plugin->InitLibrary(W("arg")), 40u);
    EXPECT_EQ(log.Since(), Lines{"Can't FindClass(com/kq/AzureLibrary/KQAzurePlugInLibrary)"});
  }
}

}  // namespace
}  // namespace test
}  // namespace kq
