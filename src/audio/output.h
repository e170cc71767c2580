#pragma once

// The audio output device: one SDL2 playback device at a fixed rate, 16-bit stereo. The device
// pulls mixed PCM from the streams on SDL's audio thread.

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vornel::audio {

class Output {
 public:
  static constexpr int kChannels = 2;

  // Opens the system's default output at `frequency` Hz. False when no device can be opened.
  bool open(int frequency);
  void close();
  bool isOpen() const;

  // Global stream volume in per cent, read by the mixer on every buffer.
  void setVolume(int percent) { volume_.store(percent, std::memory_order_relaxed); }
  int volume() const { return volume_.load(std::memory_order_relaxed); }

 private:
  static void fill(void* self, std::uint8_t* stream, int length);

  mutable std::mutex mutex_;  // guards device_ against open/close from two threads
  std::uint32_t device_ = 0;  // SDL_AudioDeviceID; 0 = closed
  std::atomic<int> volume_{100};
};

}  // namespace vornel::audio
