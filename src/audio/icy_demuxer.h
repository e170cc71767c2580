#pragma once

// Separates an ICY stream into audio bytes and metadata blocks. After every `metaint` audio bytes
// the server sends one length byte L and then L * 16 bytes of metadata text, NUL-padded. A push
// parser with no I/O: bytes go in however the network splits them, audio runs and whole metadata
// texts come out in stream order.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornel::audio {

class IcyDemuxer {
 public:
  // The longest metadata block the length byte can announce.
  static constexpr std::size_t kMaxMetadataBytes = 255 * 16;

  // `metaint` 0: the stream carries no metadata, every byte is audio.
  explicit IcyDemuxer(std::size_t metaint) : metaint_(metaint), audioLeft_(metaint) {}

  // Calls onAudio(const uint8_t*, size_t) for each run of audio bytes and onMetadata(string_view)
  // for each complete block that holds text (empty blocks carry nothing and are not reported).
  // The text ends at its first NUL.
  template <typename OnAudio, typename OnMetadata>
  void feed(const std::uint8_t* data, std::size_t size, OnAudio&& onAudio, OnMetadata&& onMetadata) {
    if (metaint_ == 0) {
      if (size > 0) onAudio(data, size);
      return;
    }
    while (size > 0) {
      switch (state_) {
        case State::Audio: {
          const std::size_t run = audioLeft_ < size ? audioLeft_ : size;
          onAudio(data, run);
          data += run;
          size -= run;
          audioLeft_ -= run;
          if (audioLeft_ == 0) state_ = State::Length;
          break;
        }
        case State::Length:
          metaLeft_ = static_cast<std::size_t>(*data) * 16;
          ++data;
          --size;
          text_.clear();
          if (metaLeft_ == 0) {
            startAudio();
          } else {
            state_ = State::Text;
          }
          break;
        case State::Text: {
          const std::size_t run = metaLeft_ < size ? metaLeft_ : size;
          text_.append(reinterpret_cast<const char*>(data), run);
          data += run;
          size -= run;
          metaLeft_ -= run;
          if (metaLeft_ == 0) {
            const std::string_view text(text_.data(), text_.find('\0') == std::string::npos ? text_.size()
                                                                                             : text_.find('\0'));
            if (!text.empty()) onMetadata(text);
            startAudio();
          }
          break;
        }
      }
    }
  }

  // True between a block's length byte and its last text byte.
  bool insideMetadata() const { return state_ != State::Audio; }

 private:
  enum class State { Audio, Length, Text };
  void startAudio() {
    state_ = State::Audio;
    audioLeft_ = metaint_;
  }

  std::size_t metaint_;
  std::size_t audioLeft_;
  std::size_t metaLeft_ = 0;
  State state_ = State::Audio;
  std::string text_;  // at most kMaxMetadataBytes
};

}  // namespace vornel::audio
