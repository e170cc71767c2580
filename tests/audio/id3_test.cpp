#include "id3.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vornel::audio {
namespace {

using namespace std::string_literals;

std::string Syncsafe(std::size_t n) {
  return {static_cast<char>(n >> 21 & 0x7F), static_cast<char>(n >> 14 & 0x7F),
          static_cast<char>(n >> 7 & 0x7F), static_cast<char>(n & 0x7F)};
}

std::string Be32(std::size_t n) {
  return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
          static_cast<char>(n)};
}

// A frame as stored: the size field counts `content` as given (already unsynchronised if so).
std::string Frame(int major, const std::string& id, const std::string& content, char format = 0) {
  if (major == 2) return id + Be32(content.size()).substr(1) + content;
  return id + (major == 3 ? Be32(content.size()) : Syncsafe(content.size())) + '\0' + format + content;
}

std::string Tag(int major, const std::string& body, char flags = 0) {
  return "ID3"s + static_cast<char>(major) + '\0' + flags + Syncsafe(body.size()) + body;
}

std::string Unsynchronise(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    out += c;
    if (c == '\xFF') out += '\0';
  }
  return out;
}

std::optional<Id3Info> Parse(const std::string& tag) {
  return ParseId3(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size());
}

struct TextCase {
  const char* name;
  int major;
  std::string content;  // encoding byte, then text
  std::string title;
};

// Octal escapes where a hex escape would swallow the letter after it.
TEST(Id3, TextEncodingsBecomeCleanUtf8) {
  const TextCase cases[] = {
      {"latin-1", 3, "\0Caf\xE9"s, "Caf\xC3\xA9"},
      {"utf-16 little-endian mark", 3, "\1\xFF\376C\0a\0f\0\xE9\0"s, "Caf\xC3\xA9"},
      {"utf-16 big-endian mark", 3, "\x01\xFE\xFF\0C\0a\0f\0\xE9"s, "Caf\xC3\xA9"},
      {"utf-16 without mark, little-endian", 3, "\1C\0a\0"s, "Ca"},
      {"utf-16be", 4, "\x02\0C\0a\0f\0\xE9"s, "Caf\xC3\xA9"},
      {"utf-8", 4, "\3Caf\xC3\xA9"s, "Caf\xC3\xA9"},
      {"surrogate pair", 4, "\x02\xD8\x3D\xDE\x00"s, "\xF0\x9F\x98\x80"},
      {"lone surrogate", 4, "\x02\xD8\x3D\0A"s, "\xEF\xBF\275A"},
      {"v2.4 values joined", 4, "\x03One\0Two\0\0"s, "One/Two"},
      {"v2.4 utf-16 values with own marks", 4, "\1\xFF\376A\0\0\0\xFE\xFF\0B"s, "A/B"},
      {"v2.3 text ends at its terminator", 3, "\x00One\0junk"s, "One"},
      {"controls dropped, tab a space", 4, "\3A\1B\tC\x7F"s, "AB C"},
      {"latin-1 C1 controls dropped", 3, "\0A\205B"s, "AB"},
      {"invalid utf-8 replaced", 4, "\3A\377B\xE2\x82"s, "A\xEF\xBF\275B\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong utf-8 replaced", 4, "\x03\xE0\x80\xAF"s, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"spaces trimmed", 3, "\x00  Title  "s, "Title"},
      {"unknown encoding", 4, "\x04Title"s, ""},
  };
  for (const TextCase& c : cases) {
    const auto info = Parse(Tag(c.major, Frame(c.major, "TIT2", c.content)));
    ASSERT_TRUE(info) << c.name;
    EXPECT_EQ(info->title, c.title) << c.name;
  }
}

struct TagCase {
  const char* name;
  std::string tag;
  std::string title;
  std::string artist;
};

TEST(Id3, TagStructures) {
  const std::string text = "\0A\377B"s;  // 0xFF is what unsynchronisation is about
  const std::string decoded = "A\xC3\277B";
  const std::string artist = Frame(4, "TPE1", "\3Artist"s);
  // 300 bytes: 00 00 01 2C read as syncsafe would be 172.
  const std::string longTitle = "\x03" + std::string(299, 'x');
  std::string plainSize = Frame(4, "TIT2", longTitle);
  plainSize.replace(4, 4, Be32(longTitle.size()));  // a writer that forgot sizes are syncsafe in v2.4
  const TagCase cases[] = {
      {"v2.2", Tag(2, Frame(2, "TT2", "\x00Song"s) + Frame(2, "TP1", "\0Band"s)), "Song", "Band"},
      {"v2.3 whole tag unsynchronised", Tag(3, Unsynchronise(Frame(3, "TIT2", text)), '\x80'), decoded, ""},
      {"v2.4 frame unsynchronised with data length",
       Tag(4, Frame(4, "TIT2", Syncsafe(4) + Unsynchronise(text), 0x03)), decoded, ""},
      {"v2.4 tag flag unsynchronises every frame",
       Tag(4, Frame(4, "TIT2", Unsynchronise(text)) + artist, '\x80'), decoded, "Artist"},
      {"v2.3 extended header", Tag(3, Be32(6) + std::string(6, '\0') + Frame(3, "TIT2", text), 0x40), decoded,
       ""},
      {"v2.4 extended header", Tag(4, Syncsafe(6) + "\x01\x00"s + Frame(4, "TIT2", text), 0x40), decoded, ""},
      {"v2.3 compressed frame skipped", Tag(3, Frame(3, "TIT2", "\x00Zip"s, '\x80') + Frame(3, "TIT2", text)),
       decoded, ""},
      {"v2.4 encrypted frame skipped", Tag(4, Frame(4, "TIT2", "\x03Secret"s, 0x04) + artist), "", "Artist"},
      {"v2.4 grouped frame", Tag(4, Frame(4, "TIT2", "\x07" + text, 0x40)), decoded, ""},
      {"v2.3 grouped frame", Tag(3, Frame(3, "TIT2", "\x07" + text, 0x20)), decoded, ""},
      {"v2.4 plain frame size", Tag(4, plainSize + artist), std::string(299, 'x'), "Artist"},
      {"TXXX StreamTitle without TIT2", Tag(4, Frame(4, "TXXX", "\x03StreamTitle\0Live\0"s) + artist), "Live",
       "Artist"},
      {"TXXX title in any case", Tag(3, Frame(3, "TXXX", "\x00TITLE\0Live"s)), "Live", ""},
      {"TIT2 wins over TXXX", Tag(4, Frame(4, "TXXX", "\x03title\0Other"s) + Frame(4, "TIT2", "\x03Real"s)),
       "Real", ""},
      {"other TXXX ignored", Tag(4, Frame(4, "TXXX", "\x03mood\0Happy"s)), "", ""},
      {"padding ends the frames", Tag(4, artist + std::string(30, '\0')), "", "Artist"},
      {"frame past the end stops", Tag(4, artist + "TIT2"s + Syncsafe(99) + "\0\0\x03X"s), "", "Artist"},
      {"cut short", Tag(4, artist + Frame(4, "TIT2", "\x03Title"s)).substr(0, 10 + artist.size() + 5), "",
       "Artist"},
      {"unknown version", Tag(5, Frame(4, "TIT2", "\x03Title"s)), "", ""},
  };
  for (const TagCase& c : cases) {
    const auto info = Parse(c.tag);
    ASSERT_TRUE(info) << c.name;
    EXPECT_EQ(info->title, c.title) << c.name;
    EXPECT_EQ(info->artist, c.artist) << c.name;
  }
  EXPECT_FALSE(Parse("TAG" + std::string(125, 'x')));
}

TEST(Id3, TagSize) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"ID3\x04\0\0\0\0\x02\x01"s, 10 + 257},
      {"ID3\x04\0\x10\0\0\0\x05"s, 10 + 5 + 10},  // footer
      {"ID3\x03\0\x10\0\0\0\x05"s, 10 + 5},       // v2.3 has no footer
      {"ID3\x04\0\0\0\0\x80\x00"s, 0},            // not syncsafe
      {"ID3\xFF\0\0\0\0\0\x05"s, 0},
      {"ID3\x04\xFF\0\0\0\0\x05"s, 0},
      {"ID3\x04\0\0\0\0\0"s, 0},  // 9 bytes
      {"ID4\x04\0\0\0\0\0\x05"s, 0},
  };
  for (const auto& [bytes, size] : cases) {
    EXPECT_EQ(Id3TagSize(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), size)
        << bytes.size();
  }
}

TEST(Id3, SegmentTimestamp) {
  const std::string owner = "com.apple.streaming.transportStreamTimestamp"s + '\0';
  const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
      {owner + "\0\0\0\x01\x00\x01\x5F\x90"s, 0x100015F90},
      {owner + "\xFF\xFF\xFF\xFE\x00\x00\x00\x05"s, 5},  // only 33 bits count
      {owner + "\0\0\0\0\0\x01\x5F"s, std::nullopt},     // 7 bytes
      {"com.example\0\0\0\0\0\0\x01\x5F\x90"s, std::nullopt},
  };
  for (const auto& [content, timestamp] : cases) {
    EXPECT_EQ(Parse(Tag(4, Frame(4, "PRIV", content)))->transportStreamTimestamp, timestamp)
        << content.size();
  }
}

TEST(Id3, PackedAudioSegments) {
  const std::pair<const char*, std::uint64_t> files[] = {{"/aac/lc/muxjs_trim.aac", 900000},
                                                         {"/aac/hls/muxjs_test-aac-segment.aac", 895690}};
  for (const auto& [file, timestamp] : files) {
    std::ifstream in(std::string(VORNEL_TEST_EXTERNAL_DIR) + file, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    if (bytes.empty()) GTEST_SKIP() << "test media not present";
    const std::size_t size = Id3TagSize(bytes.data(), bytes.size());
    ASSERT_EQ(size, 73u) << file;
    EXPECT_EQ(bytes[size], 0xFF) << "ADTS after the tag";
    EXPECT_EQ(ParseId3(bytes.data(), bytes.size())->transportStreamTimestamp, timestamp) << file;
  }
}

TEST(Id3, IcyTitleText) {
  const std::tuple<std::string, std::string, std::optional<std::string>> cases[] = {
      {"Artist", "Title", "StreamTitle='Artist - Title';"},
      {"", "Title", "StreamTitle='Title';"},
      {"Artist", " ", "StreamTitle='Artist';"},
      {" ", "\x01"s + '\0', std::nullopt},
      {"Guns 'n'; Roses", "Rock'", "StreamTitle='Guns 'n', Roses - Rock'';"},
      {"", ";Intro", "StreamTitle=',Intro';"},
      {"A;B", "C\0D"s, "StreamTitle='A;B - CD';"},
  };
  for (const auto& [artist, title, text] : cases)
    EXPECT_EQ(IcyTitleText(artist, title), text) << artist << title;
}

}  // namespace
}  // namespace vornel::audio
