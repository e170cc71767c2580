#pragma once

// What a response body holds, told from its first bytes: the content decides, the Content-Type
// header is only a hint, because servers send AAC as audio/mpeg, streams as
// application/octet-stream and even as text/html.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "playlist.h"

namespace vornel::audio {

enum class BodyKind {
  NeedMore,         // cannot tell yet
  Mpeg,             // MPEG audio frames (MP3)
  Adts,             // AAC in ADTS frames
  Ogg,              // Ogg Vorbis or Opus
  TransportStream,  // MPEG-TS (an HLS segment, or a station that sends one)
  Playlist,         // a list of addresses, or an HLS playlist (see `playlist`)
  NotAudio,         // an HTML page, other text, or bytes of no format we play
};

struct BodySniff {
  BodyKind kind = BodyKind::NeedMore;
  std::size_t audioStart = 0;  // where the audio begins: after a leading ID3v2 tag
  PlaylistKind playlist = PlaylistKind::None;
};

inline constexpr std::size_t kSniffAllowance = 64 * 1024;   // searched for frames after any tag
inline constexpr std::size_t kMaxLeadingTag = 1024 * 1024;  // larger ID3 tags are not waited for

// `complete`: the body has ended, so NeedMore is never the answer.
BodySniff SniffBody(const std::uint8_t* data, std::size_t size, std::string_view contentType, bool complete);

const char* BodyKindName(BodyKind kind);

}  // namespace vornel::audio
