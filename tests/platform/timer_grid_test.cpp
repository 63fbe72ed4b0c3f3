#include "bridge/platform/timer_grid.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using platform::TimerGrid;
using std::chrono::milliseconds;

constexpr milliseconds kInterval{33};
const TimerGrid::TimePoint kStart{std::chrono::seconds(5)};

TEST(TimerGrid, FirstRunIsDueAtStartThenEachIntervalNeverEarly) {
  TimerGrid grid(kStart, kInterval);
  EXPECT_TRUE(grid.due(kStart));
  grid.ran(kStart + milliseconds(2));
  EXPECT_FALSE(grid.due(kStart + milliseconds(32)));
  EXPECT_TRUE(grid.due(kStart + milliseconds(33)));
  grid.ran(kStart + milliseconds(40));
  EXPECT_EQ(grid.nextDue(), kStart + milliseconds(66));  // the grid, not 33 ms after the late run
}

TEST(TimerGrid, FiringsDueDuringALongRunMergeIntoOneRunAtOnceAndTheGridResumes) {
  TimerGrid grid(kStart, kInterval);
  // The first run lasts three and a half intervals: 33, 66 and 99 ms fall due meanwhile.
  const auto late = kStart + kInterval * 7 / 2;
  grid.ran(late);
  EXPECT_TRUE(grid.due(late));  // one merged run, right away
  grid.ran(late);
  EXPECT_FALSE(grid.due(kStart + kInterval * 4 - milliseconds(1)));
  EXPECT_EQ(grid.nextDue(), kStart + kInterval * 4);
}

}  // namespace
