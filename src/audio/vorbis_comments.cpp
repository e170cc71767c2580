#include "vorbis_comments.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace vornel::audio {

namespace {

constexpr std::size_t kMaxComments = 4096;

bool ReadU32(const std::uint8_t* data, std::size_t size, std::size_t& pos, std::size_t& value) {
  if (size - pos < 4) return false;
  value = std::size_t{data[pos]} | std::size_t{data[pos + 1]} << 8 | std::size_t{data[pos + 2]} << 16 |
          std::size_t{data[pos + 3]} << 24;
  pos += 4;
  return true;
}

bool ReadLength(const std::uint8_t* data, std::size_t size, std::size_t& pos, std::size_t& length) {
  return ReadU32(data, size, pos, length) && length <= size - pos;
}

bool KeyIs(std::string_view entry, std::string_view key) {
  if (entry.size() <= key.size() || entry[key.size()] != '=') return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(entry[i])) != key[i]) return false;
  }
  return true;
}

void Append(std::string& to, std::string_view value) {
  if (value.empty()) return;
  if (!to.empty()) to += " / ";
  to.append(value);
}

}  // namespace

std::optional<TrackTags> ParseVorbisComments(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  std::size_t length = 0;
  if (!ReadLength(data, size, pos, length)) return std::nullopt;  // vendor
  pos += length;
  std::size_t count = 0;
  if (!ReadU32(data, size, pos, count)) return std::nullopt;
  TrackTags tags;
  for (std::size_t i = 0; i < count && i < kMaxComments; ++i) {
    if (!ReadLength(data, size, pos, length)) return std::nullopt;
    const std::string_view entry(reinterpret_cast<const char*>(data + pos), length);
    pos += length;
    if (KeyIs(entry, "ARTIST")) Append(tags.artist, entry.substr(7));
    if (KeyIs(entry, "TITLE")) Append(tags.title, entry.substr(6));
  }
  return tags;
}

std::optional<TrackTags> ParseCommentPacket(const std::uint8_t* packet, std::size_t size) {
  if (size >= 7 && std::memcmp(packet, "\x03vorbis", 7) == 0)
    return ParseVorbisComments(packet + 7, size - 7);
  if (size >= 8 && std::memcmp(packet, "OpusTags", 8) == 0) return ParseVorbisComments(packet + 8, size - 8);
  return std::nullopt;
}

}  // namespace vornel::audio
