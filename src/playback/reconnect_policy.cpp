#include "playback/reconnect_policy.h"

#include <array>

namespace vornel::playback {

namespace {

using std::chrono::milliseconds;

constexpr std::array<milliseconds, 7> kBackoff{milliseconds(500),  milliseconds(1000), milliseconds(2000),
                                               milliseconds(4000), milliseconds(8000), milliseconds(15000),
                                               milliseconds(30000)};

}  // namespace

void ReconnectSchedule::begin(SteadyTime now) {
  if (active_) return;
  active_ = true;
  since_ = now;
  tries_ = 0;
}

std::optional<milliseconds> ReconnectSchedule::nextDelay(SteadyTime now) {
  if (!active_) return std::nullopt;
  const milliseconds delay = kBackoff[static_cast<std::size_t>(std::min<int>(tries_, kBackoff.size() - 1))];
  if (now + delay - since_ > kGiveUpAfter) {
    active_ = false;
    return std::nullopt;
  }
  ++tries_;
  return delay;
}

bool StepDownPolicy::troubled(SteadyTime now) {
  times_.push_back(now);
  while (!times_.empty() && now - times_.front() > kWindow) times_.pop_front();
  if (static_cast<int>(times_.size()) < kTroubles) return false;
  times_.clear();
  return true;
}

}  // namespace vornel::playback
