#pragma once

// When to try a lost station again, and when a station's trouble calls for a lower bit rate. Pure
// arithmetic on the times given, so that tests run them on a clock of their own.

#include <chrono>
#include <deque>
#include <optional>

namespace vornel::playback {

using SteadyTime = std::chrono::steady_clock::time_point;

// The waits between tries after a drop: 0.5, 1, 2, 4, 8, 15, 30 s, then every 30 s, until ten
// minutes have passed since the drop.
class ReconnectSchedule {
 public:
  static constexpr std::chrono::minutes kGiveUpAfter{10};

  // A drop at `now`; the tries count from here. Nothing when tries are already under way.
  void begin(SteadyTime now);
  // The wait before the next try, or nothing when the time for tries is over.
  std::optional<std::chrono::milliseconds> nextDelay(SteadyTime now);
  // The stream plays again, or the user chose: the next drop starts afresh.
  void reset() { active_ = false; }
  bool active() const { return active_; }

 private:
  bool active_ = false;
  SteadyTime since_{};
  int tries_ = 0;
};

// Three stalls or drops within two minutes call for a lower bit rate.
class StepDownPolicy {
 public:
  static constexpr int kTroubles = 3;
  static constexpr std::chrono::minutes kWindow{2};

  // One stall or drop at `now`; true when it makes kTroubles within kWindow (the count then
  // starts again).
  bool troubled(SteadyTime now);
  void reset() { times_.clear(); }

 private:
  std::deque<SteadyTime> times_;
};

}  // namespace vornel::playback
