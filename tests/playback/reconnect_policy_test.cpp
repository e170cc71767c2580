#include "playback/reconnect_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace vornel::playback {
namespace {

using namespace std::chrono_literals;

TEST(ReconnectScheduleTest, BacksOffThenTriesEveryThirtySecondsForTenMinutes) {
  SteadyTime now{};
  ReconnectSchedule schedule;
  EXPECT_FALSE(schedule.nextDelay(now));  // no drop, no tries
  schedule.begin(now);
  std::vector<std::chrono::milliseconds> delays;
  while (auto delay = schedule.nextDelay(now)) {
    delays.push_back(*delay);
    now += *delay;
  }
  ASSERT_GE(delays.size(), 8u);
  const std::vector<std::chrono::milliseconds> first(delays.begin(), delays.begin() + 8);
  EXPECT_EQ(first, (std::vector<std::chrono::milliseconds>{500ms, 1s, 2s, 4s, 8s, 15s, 30s, 30s}));
  for (std::size_t i = 6; i < delays.size(); ++i) EXPECT_EQ(delays[i], 30s);
  // The last try falls within the ten minutes, and none after them.
  EXPECT_LE(now - SteadyTime{}, 10min);
  EXPECT_GT(now + 30s - SteadyTime{}, 10min);
  EXPECT_FALSE(schedule.active());

  // A second drop while tries are under way does not start the count again; a reset does.
  schedule.begin(now);
  EXPECT_EQ(schedule.nextDelay(now), 500ms);
  schedule.begin(now + 1s);
  EXPECT_EQ(schedule.nextDelay(now + 1s), 1s);
  schedule.reset();
  schedule.begin(now + 2s);
  EXPECT_EQ(schedule.nextDelay(now + 2s), 500ms);
}

TEST(StepDownPolicyTest, ThreeTroublesWithinTwoMinutes) {
  SteadyTime now{};
  StepDownPolicy policy;
  EXPECT_FALSE(policy.troubled(now));
  EXPECT_FALSE(policy.troubled(now + 1min));
  EXPECT_FALSE(policy.troubled(now + 2min + 1s));  // the first has gone out of the window
  EXPECT_TRUE(policy.troubled(now + 2min + 30s));
  EXPECT_FALSE(policy.troubled(now + 2min + 31s));  // counted afresh after a step
}

}  // namespace
}  // namespace vornel::playback
