#pragma once

// The comment header of Vorbis and Opus streams ("ARTIST=...", "TITLE=..."), where a chained Ogg
// stream names each of its tracks.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vornel::audio {

struct TrackTags {
  std::string artist;
  std::string title;
};

// Reads the comment list that follows the packet's magic ("\x03vorbis" or "OpusTags"): a vendor
// string, a count, then "KEY=value" entries, every length a 32-bit little-endian number. Keys are
// case-insensitive; several ARTIST or TITLE entries are joined with " / ". Nothing when the
// lengths do not fit the packet.
std::optional<TrackTags> ParseVorbisComments(const std::uint8_t* data, std::size_t size);

// Same, from a whole comment packet of either codec; nothing when it is neither.
std::optional<TrackTags> ParseCommentPacket(const std::uint8_t* packet, std::size_t size);

}  // namespace vornel::audio
