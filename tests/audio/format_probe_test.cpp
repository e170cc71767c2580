#include "format_probe.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::audio {
namespace {

using test::Bytes;
using test::operator+;
using test::Text;
using test::ReadExternal;

Bytes Repeat(const Bytes& unit, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out = out + unit;
  return out;
}

Bytes Noise(std::size_t n) {
  Bytes out(n);
  std::uint32_t state = 12345;
  for (auto& byte : out) byte = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 16);
  return out;
}

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

// MPEG-1 Layer III, 128 kbit/s at 44.1 kHz: 417 bytes.
const Bytes kMp3 = Repeat(Bytes{0xFF, 0xFB, 0x90, 0x64} + Bytes(413, 0), 4);
// ADTS AAC-LC 44.1 kHz stereo, 200 bytes each.
const Bytes kAdtsFrame = Bytes{0xFF, 0xF1, 0x50, 0x80, 200 >> 3, (200 & 7) << 5 | 0x1F, 0xFC} + Bytes(193, 0);
const Bytes kAdts = Repeat(kAdtsFrame, 4);

// An ID3v2.4 tag with `size` bytes after its header.
Bytes Id3(std::size_t size) {
  return Bytes{'I', 'D', '3', 4, 0, 0, 0, static_cast<std::uint8_t>(size >> 14 & 0x7F),
               static_cast<std::uint8_t>(size >> 7 & 0x7F), static_cast<std::uint8_t>(size & 0x7F)} +
         Bytes(size, 0);
}

// The first page of a logical stream, holding one packet (the checksum is not looked at).
Bytes OggFirstPage(const Bytes& packet) {
  return Text("OggS") + Bytes{0, 0x02} + Bytes(8, 0) + Bytes{1, 2, 3, 4} + Bytes(8, 0) +
         Bytes{1, static_cast<std::uint8_t>(packet.size())} + packet;
}
const Bytes kVorbisPage = OggFirstPage(Text("\x01vorbis") + Bytes(23, 1));
const Bytes kOpusPage = OggFirstPage(Text("OpusHead") + Bytes{1, 2, 0x38, 1, 0x80, 0xBB, 0, 0, 0, 0, 0});

const std::string kHtml = "<!DOCTYPE html>\n<html><head><title>Radio</title></head><body>Now playing";

struct Case {
  const char* name;
  Bytes body;
  std::string contentType;
  bool complete;
  BodyKind kind;
  std::size_t audioStart = 0;
  PlaylistKind playlist = PlaylistKind::None;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases() {
  const std::size_t beyond = kSniffAllowance + 3 * 8191 + 1000;
  return {
      {"Mp3", kMp3, "audio/mpeg", false, BodyKind::Mpeg},
      {"Mp3AfterJunk", Noise(300) + kMp3, "", false, BodyKind::Mpeg},
      {"Adts", kAdts, "audio/aac", false, BodyKind::Adts},
      {"AdtsSentAsMpeg", kAdts, "audio/mpeg", false, BodyKind::Adts},
      {"AdtsSentAsHtml", kAdts, "text/html", false, BodyKind::Adts},
      {"AdtsAfterId3", Id3(500) + kAdts, "", false, BodyKind::Adts, 510},
      {"Mp3AfterId3", Id3(300) + kMp3, "audio/mpeg", true, BodyKind::Mpeg, 310},
      {"Id3NotYetWhole", Cut(Id3(2000), 100), "", false, BodyKind::NeedMore},
      {"TwoAdtsFramesOnly", Repeat(kAdtsFrame, 2), "", false, BodyKind::NeedMore},
      {"AdtsPastTheAllowance", Bytes(kSniffAllowance + 10, 0) + kAdts, "", false, BodyKind::NotAudio},
      {"OggVorbis", kVorbisPage, "application/ogg", false, BodyKind::Ogg},
      {"OggOpus", kOpusPage, "audio/ogg", false, BodyKind::Ogg},
      {"OggOfAnotherCodec", OggFirstPage(Text("fishead") + Bytes(57, 0)), "", false, BodyKind::NotAudio},
      {"OggPageCut", Cut(kVorbisPage, 40), "", false, BodyKind::NeedMore},
      {"OggPageCutAtTheEnd", Cut(kVorbisPage, 40), "", true, BodyKind::NotAudio},
      {"TransportStream", Repeat(Bytes{0x47, 0x41, 0x00, 0x10} + Bytes(184, 0), 3), "", false,
       BodyKind::TransportStream},
      {"TransportStreamFirstPacket", Bytes{0x47, 0x40, 0, 0x10} + Bytes(100, 0), "", false, BodyKind::NeedMore},
      {"Pls", Text("[playlist]\nNumberOfEntries=1\nFile1=http://a.example/live\n"), "audio/x-scpls", false,
       BodyKind::Playlist, 0, PlaylistKind::Pls},
      {"M3u", Text("#EXTM3U\n#EXTINF:-1,Radio\nhttp://a.example/live\n"), "audio/mpeg", false, BodyKind::Playlist, 0,
       PlaylistKind::M3u},
      {"Hls", Text("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\na.ts\n"), "", false,
       BodyKind::Playlist, 0, PlaylistKind::Hls},
      {"Xspf",
       Text("<?xml version=\"1.0\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList><track>"
            "<location>http://a.example/live</location></track></trackList></playlist>"),
       "", false, BodyKind::Playlist, 0, PlaylistKind::Xspf},
      {"Asx", Text("<asx version=\"3.0\"><entry><ref href=\"http://a.example/live\"/></entry></asx>"), "", false,
       BodyKind::Playlist, 0, PlaylistKind::Asx},
      {"HtmlSentAsMpeg", Text(kHtml), "audio/mpeg", false, BodyKind::NotAudio},
      {"HtmlHeadOnly", Text(kHtml.substr(0, 20)), "audio/mpeg", false, BodyKind::NotAudio},
      {"HtmlAfterBomAndSpace", Text("\xEF\xBB\xBF \r\n<HTML><BODY>Not found</BODY></HTML>"), "", false,
       BodyKind::NotAudio},
      {"NoiseBeyondTheAllowance", Noise(beyond), "audio/mpeg", false, BodyKind::NotAudio},
      {"NoiseSoFar", Noise(1000), "audio/mpeg", false, BodyKind::NeedMore},
      {"NoiseThatEnded", Noise(1000), "audio/mpeg", true, BodyKind::NotAudio},
      {"ThreeBytes", Bytes{0xFF, 0xF1, 0x50}, "", false, BodyKind::NeedMore},
      {"ThreeBytesThatEnded", Bytes{0xFF, 0xF1, 0x50}, "", true, BodyKind::NotAudio},
  };
}

class SniffBodyTest : public testing::TestWithParam<Case> {};

TEST_P(SniffBodyTest, TellsTheFormat) {
  const Case& c = GetParam();
  const BodySniff sniff = SniffBody(c.body.data(), c.body.size(), c.contentType, c.complete);
  EXPECT_EQ(BodyKindName(sniff.kind), std::string(BodyKindName(c.kind)));
  EXPECT_EQ(sniff.audioStart, c.audioStart);
  EXPECT_EQ(sniff.playlist, c.playlist);
}

INSTANTIATE_TEST_SUITE_P(Bodies, SniffBodyTest, testing::ValuesIn(Cases()),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vornel::audio
