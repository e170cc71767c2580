#pragma once

// The bounded buffer of decoded audio between a stream's download thread (producer) and the
// output device's callback (consumer). Interleaved 16-bit stereo at the output rate. A full
// buffer makes the producer wait, which stalls the transfer instead of growing memory.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vornel::audio {

class PcmRing {
 public:
  static constexpr std::size_t kChannels = 2;

  explicit PcmRing(std::size_t capacityFrames) : samples_(capacityFrames * kChannels) {}

  // Appends every frame, waiting for room as needed. False when `abort` was set meanwhile (the
  // rest is dropped).
  bool write(const std::int16_t* samples, std::size_t frames, const std::atomic<bool>& abort);

  // Takes up to `frames` frames; never waits.
  std::size_t read(std::int16_t* out, std::size_t frames);

  std::size_t bufferedFrames() const;
  std::size_t capacityFrames() const { return samples_.size() / kChannels; }

  // Wakes a waiting writer so that it sees its abort flag.
  void wake();

 private:
  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::vector<std::int16_t> samples_;  // guarded by mutex_
  std::size_t head_ = 0;               // first buffered sample; guarded by mutex_
  std::size_t size_ = 0;               // buffered samples; guarded by mutex_
};

}  // namespace vornel::audio
