#pragma once

// Everything an audio pipeline hands on, kept for a test to look at.

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline.h"
#include "support/played_audio.h"
#include "test_bytes.h"

namespace vornel::audio::test {

struct PipelineCapture : AudioPipeline::Sink {
  Bytes blocks;
  std::vector<std::int16_t> audio;  // stereo at 44100 Hz
  std::vector<std::string> titles;
  void block(const std::uint8_t* data, std::size_t size) override { blocks.insert(blocks.end(), data, data + size); }
  bool pcm(const std::int16_t* samples, std::size_t frames) override {
    audio.insert(audio.end(), samples, samples + frames * 2);
    return true;
  }
  void title(const std::string& text) override { titles.push_back(text); }
};

// The pitch of the decoded audio, leaving out the first and last tenth (encoder delay, fades).
inline double Pitch(const std::vector<std::int16_t>& stereo) {
  const std::size_t frames = stereo.size() / 2;
  return vornel::test::MeasureTone(stereo, frames / 10, frames - 2 * (frames / 10)).hertz;
}

}  // namespace vornel::audio::test
