#pragma once

// ID3v2 tags as HLS uses them: at the front of a packed-audio segment (a PRIV frame with the
// segment's MPEG timestamp, then ADTS or MP3 frames) and as the payload of timed-metadata PES.
// Only what a radio shows is read: title, artist, and that timestamp. Pure functions, no I/O.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vornel::audio {

// Total size of an ID3v2 tag at data (header + body + footer), 0 when data does not start with a
// valid tag header; needs 10 bytes (returns 0 if fewer). Rejects non-syncsafe sizes and version
// bytes 0xFF.
std::size_t Id3TagSize(const std::uint8_t* data, std::size_t size);

struct Id3Info {
  std::string title;   // UTF-8, without control characters
  std::string artist;  // UTF-8, without control characters
  // The 33-bit MPEG timestamp (90 kHz) of the first sample after a packed-audio tag.
  std::optional<std::uint64_t> transportStreamTimestamp;
};

// Reads a whole tag (v2.2, v2.3, v2.4; unsynchronisation; extended header skipped; frame
// data-length indicator; compressed/encrypted frames skipped). Text frames TIT2/TPE1 (v2.2:
// TT2/TP1) in ISO-8859-1, UTF-16 with BOM, UTF-16BE, UTF-8 become UTF-8, NULs and control
// characters dropped (tab and line breaks become spaces), several values ('\0'-separated in v2.4)
// joined with "/". A TXXX frame described "StreamTitle" or "title" is the title when TIT2 is absent
// (some stations put it there). A tag cut short is read as far as it goes; nullopt when the bytes
// are not a tag.
std::optional<Id3Info> ParseId3(const std::uint8_t* data, std::size_t size);

// The ICY-form metadata text for a title: "StreamTitle='Artist - Title';" ("StreamTitle='Title';"
// without artist, nullopt when both are empty). A "';" inside the values would end the title
// early, so such a ';' becomes ','.
std::optional<std::string> IcyTitleText(std::string_view artist, std::string_view title);

}  // namespace vornel::audio
