// The ordered pipeline alone: items come out in order whichever thread
// finishes first, no more than the window is ever produced ahead, and a
// failure stops it and is reported once, in its place.

#include "backfill/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tly {
namespace {

// Keeps in `most` the largest value it is given.
void RaiseTo(std::atomic<int64_t>& most, int64_t value) {
  for (int64_t now = most.load(); value > now && !most.compare_exchange_weak(now, value);) {
  }
}

TEST(OrderedPipeline, KeepsOrderAndBoundsTheWorkAheadUnderManyJobs) {
  const PipelineOptions cases[] = {{1, 1, false}, {4, 3, false}, {64, 16, true}, {8, 256, false}};
  for (const PipelineOptions& options : cases) {
    SCOPED_TRACE(std::to_string(options.jobs) + " jobs, window " + std::to_string(options.window));
    constexpr int64_t kCount = 3000;
    std::atomic<int64_t> consumed{0};
    std::atomic<int64_t> most_ahead{0};
    std::vector<int64_t> seen;
    RunOrdered<int64_t>(
        kCount, options,
        [&](int64_t index, int64_t& item) {
          RaiseTo(most_ahead, index - consumed.load());
          // Some items take longer, so that later ones finish first.
          if (index % 7 == 0) std::this_thread::yield();
          item = index * 3 + 1;
        },
        [&](int64_t index, int64_t& item) {
          EXPECT_EQ(item, index * 3 + 1) << "slot reused before it was consumed";
          seen.push_back(index);
          consumed.store(index + 1);
        });
    ASSERT_EQ(seen.size(), static_cast<size_t>(kCount));
    for (int64_t index = 0; index < kCount; ++index) ASSERT_EQ(seen[index], index);
    EXPECT_LT(most_ahead.load(), static_cast<int64_t>(options.window));
  }
}

TEST(OrderedPipeline, AFailureStopsItAndIsReportedOnceInItsPlace) {
  constexpr size_t kWindow = 16;
  for (const int jobs : {1, 8}) {
    SCOPED_TRACE(jobs);
    // Two items fail; the first in order is the one reported, after every
    // item before it, and nothing far beyond it is begun.
    std::atomic<int64_t> highest{-1};
    std::vector<int64_t> seen;
    try {
      RunOrdered<int>(
          1000, {jobs, kWindow, false},
          [&](int64_t index, int&) {
            RaiseTo(highest, index);
            if (index == 100 || index == 105) {
              throw std::runtime_error("item " + std::to_string(index));
            }
          },
          [&](int64_t index, int&) { seen.push_back(index); });
      ADD_FAILURE() << "no failure reported";
    } catch (const std::runtime_error& failure) {
      EXPECT_STREQ(failure.what(), "item 100");
    }
    EXPECT_EQ(seen.size(), 100u);
    EXPECT_LT(highest.load(), 100 + static_cast<int64_t>(kWindow));

    // The consumer's own failure (a cancel) leaves at once.
    highest = -1;
    EXPECT_THROW(
        RunOrdered<int>(
            1000, {jobs, kWindow, true}, [&](int64_t index, int&) { RaiseTo(highest, index); },
            [&](int64_t index, int&) {
              if (index == 50) throw std::logic_error("cancelled");
            }),
        std::logic_error);
    EXPECT_LE(highest.load(), 50 + static_cast<int64_t>(kWindow));
  }
}

}  // namespace
}  // namespace tly
