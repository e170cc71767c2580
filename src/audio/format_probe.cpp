#include "format_probe.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "adts.h"
#include "frame_splitter.h"
#include "id3.h"
#include "ogg_decoder.h"
#include "ts_demuxer.h"

namespace vornel::audio {

namespace {

constexpr std::size_t kOggPageHeader = 27;

BodySniff Is(BodyKind kind, std::size_t audioStart = 0) { return {kind, audioStart, PlaylistKind::None}; }

// An Ogg stream begins with the page that holds its first packet alone, and that packet names
// the codec.
BodyKind SniffOgg(const std::uint8_t* data, std::size_t size) {
  if (size < kOggPageHeader) return BodyKind::NeedMore;
  const std::size_t segments = data[26];
  if (size < kOggPageHeader + segments) return BodyKind::NeedMore;
  std::size_t packet = 0;
  for (std::size_t i = 0; i < segments; ++i) {
    packet += data[kOggPageHeader + i];
    if (data[kOggPageHeader + i] < 255) break;
  }
  const std::size_t start = kOggPageHeader + segments;
  if (size < start + packet) return BodyKind::NeedMore;
  return IdentifyOggCodec(data + start, packet) != OggCodec::None ? BodyKind::Ogg : BodyKind::NotAudio;
}

// Markup that no station sends as its stream: a web page or an error page.
bool LooksLikeMarkup(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) pos = 3;
  while (pos < size && std::isspace(data[pos])) ++pos;
  if (pos >= size || data[pos] != '<') return false;
  std::string head(reinterpret_cast<const char*>(data + pos), std::min<std::size_t>(size - pos, 512));
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* tag : {"<!doctype html", "<html", "<head", "<body", "<?xml", "<!--", "<title"}) {
    if (head.rfind(tag, 0) == 0) return true;
  }
  return false;
}

}  // namespace

const char* BodyKindName(BodyKind kind) {
  switch (kind) {
    case BodyKind::NeedMore:
      return "undecided";
    case BodyKind::Mpeg:
      return "MPEG audio";
    case BodyKind::Adts:
      return "AAC (ADTS)";
    case BodyKind::Ogg:
      return "Ogg";
    case BodyKind::TransportStream:
      return "MPEG-TS";
    case BodyKind::Playlist:
      return "playlist";
    case BodyKind::NotAudio:
      return "not audio";
  }
  return "?";
}

BodySniff SniffBody(const std::uint8_t* data, std::size_t size, std::string_view contentType, bool complete) {
  const BodySniff needMore = Is(complete ? BodyKind::NotAudio : BodyKind::NeedMore);
  if (size < 4) return needMore;

  if (std::memcmp(data, "OggS", 4) == 0) {
    const BodyKind kind = SniffOgg(data, size);
    return kind == BodyKind::NeedMore ? needMore : Is(kind);
  }
  if (LooksLikeTransportStream(data, size)) return Is(BodyKind::TransportStream);
  if (size < 188 * 2 && data[0] == 0x47 && !complete) return needMore;

  // A playlist is text from its first line on, so it is known long before the frame search ends.
  const std::string_view text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 4096));
  const PlaylistKind playlist = SniffPlaylist(text, contentType);
  if (playlist != PlaylistKind::None) return {BodyKind::Playlist, 0, playlist};
  if (LooksLikeMarkup(data, size)) return Is(BodyKind::NotAudio);

  // Frames may follow an ID3v2 tag (a file served as a stream, HLS packed audio).
  std::size_t start = 0;
  if (size >= 3 && std::memcmp(data, "ID3", 3) == 0) {
    if (size < 10) return needMore;
    start = Id3TagSize(data, size);
    if (start > kMaxLeadingTag) return Is(BodyKind::NotAudio);
    if (start > size) return needMore;
  }
  const std::size_t limit = std::min(size, start + kSniffAllowance + 3 * kMaxAdtsFrame);
  bool adtsNeedMore = false;
  bool mpegNeedMore = false;
  const std::size_t adts = start + FindFrameRun(FrameKind::Adts, data + start, limit - start,
                                                FrameSplitter::kFramesInARow, adtsNeedMore);
  const std::size_t mpeg = start + FindFrameRun(FrameKind::Mpeg, data + start, limit - start,
                                                FrameSplitter::kFramesInARow, mpegNeedMore);
  // The earlier run wins; a candidate still cut off by the end must be seen whole first.
  if (adts < mpeg && !adtsNeedMore && adts - start < kSniffAllowance) return Is(BodyKind::Adts, start);
  if (mpeg < adts && !mpegNeedMore && mpeg - start < kSniffAllowance) return Is(BodyKind::Mpeg, start);
  if (complete || std::min(adts, mpeg) - start >= kSniffAllowance) return Is(BodyKind::NotAudio);
  return needMore;
}

}  // namespace vornel::audio
