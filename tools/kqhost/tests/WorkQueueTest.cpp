#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "WorkQueue.h"

namespace kqhost {
namespace {

TEST(RunParallelTest, EveryItemRunsExactlyOnce) {
  for (unsigned threads : {1u, 2u, 4u, 16u}) {
    std::vector<std::atomic<int>> hits(100);
    EXPECT_EQ(RunParallel(
                  hits.size(), threads, [&](size_t i) { ++hits[i]; }, [] { return false; }),
              hits.size());
    for (auto& h : hits) EXPECT_EQ(h.load(), 1);
  }
  EXPECT_EQ(RunParallel(
                0, 4, [](size_t) { FAIL(); }, [] { return false; }),
            0u);
}

TEST(RunParallelTest, StopOrAnExceptionEndsTheHandOut) {
  std::atomic<int> ran{0};
  size_t started = RunParallel(
      1000, 3, [&](size_t) { ++ran; }, [&] { return ran.load() >= 10; });
  EXPECT_EQ(started, static_cast<size_t>(ran.load()));
  EXPECT_LT(ran.load(), 1000);
  // One worker: the hand-out ends right at the failing item.  More workers:
  // the exception still comes back (how many items others finished first
  // depends on scheduling).
  auto throwAtFive = [&](size_t i) {
    ++ran;
    if (i == 5) throw std::runtime_error("boom");
  };
  ran = 0;
  EXPECT_THROW(RunParallel(1000, 1, throwAtFive, [] { return false; }), std::runtime_error);
  EXPECT_EQ(ran.load(), 6);
  EXPECT_THROW(RunParallel(1000, 2, throwAtFive, [] { return false; }), std::runtime_error);
}

}  // namespace
}  // namespace kqhost
