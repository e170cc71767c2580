#include "pcm_ring.h"

#include <algorithm>
#include <cstring>

namespace vornel::audio {

bool PcmRing::write(const std::int16_t* samples, std::size_t frames, const std::atomic<bool>& abort) {
  std::size_t left = frames * kChannels;
  std::unique_lock lock(mutex_);
  while (left > 0) {
    room_.wait(lock, [&] { return abort.load() || size_ < samples_.size(); });
    if (abort.load()) return false;
    const std::size_t capacity = samples_.size();
    const std::size_t tail = (head_ + size_) % capacity;
    const std::size_t run = std::min({left, capacity - size_, capacity - tail});
    std::memcpy(&samples_[tail], samples, run * sizeof(std::int16_t));
    samples += run;
    left -= run;
    size_ += run;
  }
  return true;
}

std::size_t PcmRing::read(std::int16_t* out, std::size_t frames) {
  std::size_t taken = 0;
  {
    std::lock_guard lock(mutex_);
    const std::size_t capacity = samples_.size();
    std::size_t want = std::min(frames * kChannels, size_);
    while (want > 0) {
      const std::size_t run = std::min(want, capacity - head_);
      std::memcpy(out + taken, &samples_[head_], run * sizeof(std::int16_t));
      head_ = (head_ + run) % capacity;
      size_ -= run;
      taken += run;
      want -= run;
    }
  }
  if (taken > 0) room_.notify_one();
  return taken / kChannels;
}

std::size_t PcmRing::bufferedFrames() const {
  std::lock_guard lock(mutex_);
  return size_ / kChannels;
}

void PcmRing::wake() {
  { std::lock_guard lock(mutex_); }
  room_.notify_all();
}

}  // namespace vornel::audio
