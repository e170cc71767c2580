#include "frame_splitter.h"
#include "test_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace vornel::audio {
namespace {

using test::Bytes;
using test::operator+;
using test::Text;
using test::ReadExternal;

// Frame bodies and junk never hold 0xFF, so the only sync patterns are the ones a test puts in.
Bytes Filler(std::size_t n, std::size_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((seed + i * 37) % 0xF0);
  return out;
}

Bytes Cut(const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)); }

Bytes Frame(Bytes header, std::size_t length) { return header + Filler(length - header.size(), length); }

// MPEG-4 AAC-LC, 7-byte header (9 with `crc`).
Bytes Adts(std::size_t length, int rateIndex, int channels, bool crc = false) {
  return Frame({0xFF, static_cast<std::uint8_t>(crc ? 0xF0 : 0xF1),
                static_cast<std::uint8_t>(1 << 6 | rateIndex << 2 | channels >> 2),
                static_cast<std::uint8_t>((channels & 3) << 6 | length >> 11), static_cast<std::uint8_t>(length >> 3),
                static_cast<std::uint8_t>((length & 7) << 5 | 0x1F), 0xFC},
               length);
}

struct Format {
  const char* name;
  FrameKind kind;
  Bytes (*frame)(int i);  // the i-th frame of a stream
  Bytes (*other)(int i);  // the same kind in another format
};
void PrintTo(const Format& format, std::ostream* os) { *os << format.name; }

const Format kFormats[] = {
    {"AdtsLc", FrameKind::Adts, [](int i) { return Adts(40 + i * 13 % 23, 4, 2); },
     [](int i) { return Adts(40 + i * 7 % 19, 3, 2); }},
    {"AdtsWithCrc", FrameKind::Adts, [](int i) { return Adts(40 + i * 13 % 23, 4, 1, true); },
     [](int i) { return Adts(40 + i * 7 % 19, 4, 2, true); }},
    // MPEG-1 Layer III joint stereo: 32 kbit/s at 48 kHz is 96 bytes, 97 padded; 128 kbit/s at
    // 44.1 kHz is 417, 418 padded.
    {"Mpeg1", FrameKind::Mpeg,
     [](int i) { return i % 2 ? Frame({0xFF, 0xFB, 0x16, 0x64}, 97) : Frame({0xFF, 0xFB, 0x14, 0x64}, 96); },
     [](int i) { return i % 2 ? Frame({0xFF, 0xFB, 0x92, 0x64}, 418) : Frame({0xFF, 0xFB, 0x90, 0x64}, 417); }},
    // MPEG-2.5 8 kbit/s 8 kHz mono: 72 bytes; MPEG-2 8 kbit/s 22.05 kHz mono: 26.
    {"Mpeg25", FrameKind::Mpeg, [](int) { return Frame({0xFF, 0xE3, 0x18, 0xC4}, 72); },
     [](int) { return Frame({0xFF, 0xF3, 0x10, 0xC4}, 26); }},
};

// What a splitter made of a stream: each frame on its own, the other bytes between two frames merged.
struct Piece {
  bool frame;
  Bytes bytes;
  bool operator==(const Piece&) const = default;
};
using Pieces = std::vector<Piece>;

Bytes Join(const Pieces& pieces) {
  Bytes out;
  for (const Piece& piece : pieces) out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
  return out;
}

// Feeds `input` as `first` bytes, then pieces of `step`, then finishes; checks that every byte
// came out exactly once, in order.
Pieces Split(FrameKind kind, const Bytes& input, std::size_t first, std::size_t step) {
  FrameSplitter splitter(kind);
  Pieces out;
  std::uint64_t other = 0;
  const auto add = [&](bool frame, const std::uint8_t* p, std::size_t n) {
    if (frame || out.empty() || out.back().frame) out.push_back({frame, {}});
    out.back().bytes.insert(out.back().bytes.end(), p, p + n);
    other += frame ? 0 : n;
  };
  const auto onFrame = [&](const std::uint8_t* p, std::size_t n) { add(true, p, n); };
  const auto onOther = [&](const std::uint8_t* p, std::size_t n) { add(false, p, n); };
  for (std::size_t at = 0, n = first; at < input.size(); at += n, n = step) {
    n = std::min(n, input.size() - at);
    splitter.feed(input.data() + at, n, onFrame, onOther);
  }
  splitter.finish(onOther);
  EXPECT_EQ(Join(out), input);
  EXPECT_EQ(splitter.droppedBytes(), other);
  return out;
}

class FrameSplitterTest : public testing::TestWithParam<Format> {};

TEST_P(FrameSplitterTest, SameFramesAndJunkWhereverTheInputIsCut) {
  const Format& f = GetParam();
  // An ID3 tag holding two frames of a kind (one short of a run); junk with a lone header; a cut frame.
  const Bytes tagBody = f.frame(0) + f.frame(1) + Bytes(5, 0);
  const Bytes tag = Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, static_cast<std::uint8_t>(tagBody.size() >> 7),
                          static_cast<std::uint8_t>(tagBody.size() & 0x7F)} + tagBody;
  const Bytes header = Cut(f.frame(0), 7);
  Pieces expected{{false, tag}};
  for (int i = 0; i < 8; ++i) {
    if (i == 4) expected.push_back({false, Filler(13, 1) + header + Filler(9, 2)});
    expected.push_back({true, f.frame(i)});
  }
  expected.push_back({false, Cut(f.frame(8), f.frame(8).size() / 2)});
  const Bytes input = Join(expected);

  ASSERT_EQ(Split(f.kind, input, 1, 1), expected);
  for (std::size_t at = 0; at <= input.size(); ++at) {
    ASSERT_EQ(Split(f.kind, input, at, input.size()), expected) << "cut at " << at;
  }
}

TEST_P(FrameSplitterTest, ChangeOfFormatResyncsAndALoneOddFrameIsJunk) {
  const Format& f = GetParam();
  Pieces changed, odd;
  for (int i = 0; i < 8; ++i) changed.push_back({true, i < 4 ? f.frame(i) : f.other(i)});
  for (int i = 0; i < 9; ++i) odd.push_back({i != 4, i == 4 ? f.other(i) : f.frame(i)});
  for (std::size_t step : {1, 100, 100000}) {
    EXPECT_EQ(Split(f.kind, Join(changed), step, step), changed) << "pieces of " << step;
    EXPECT_EQ(Split(f.kind, Join(odd), step, step), odd) << "pieces of " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FrameSplitterTest, testing::ValuesIn(kFormats),
                         [](const auto& test) { return std::string(test.param.name); });

// Real ADTS files: frame counts as their provenance notes give them.
struct RealFile {
  const char* path;
  std::size_t frames;
  std::size_t leadingOther;   // an ID3 tag
  std::size_t trailingOther;  // a cut last frame
};
void PrintTo(const RealFile& file, std::ostream* os) { *os << file.path; }

class FrameSplitterFileTest : public testing::TestWithParam<RealFile> {};

TEST_P(FrameSplitterFileTest, CountsWholeFramesAndKeepsEveryByte) {
  const RealFile& file = GetParam();
  const std::filesystem::path path = std::filesystem::path(VORNEL_TEST_EXTERNAL_DIR) / "aac" / file.path;
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << path << " is not there";
  const Bytes input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  const Pieces pieces = Split(FrameKind::Adts, input, 1000, 1000);
  EXPECT_EQ(Split(FrameKind::Adts, input, input.size(), 0), pieces);
  std::size_t frames = 0;
  for (const Piece& piece : pieces) frames += piece.frame ? 1 : 0;
  EXPECT_EQ(frames, file.frames);
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.front().frame ? 0 : pieces.front().bytes.size(), file.leadingOther);
  EXPECT_EQ(pieces.back().frame ? 0 : pieces.back().bytes.size(), file.trailingOther);
}

INSTANTIATE_TEST_SUITE_P(
    External, FrameSplitterFileTest,
    testing::Values(RealFile{"lc/androidx_sine.aac", 45, 0, 0}, RealFile{"lc/gpac_enst_audio.aac", 330, 0, 0},
                    RealFile{"lc/androidx_sample.adts", 144, 0, 0}, RealFile{"lc/muxjs_trim.aac", 215, 73, 0},
                    RealFile{"lc/file-type_fixture-adts-mpeg4.aac", 251, 0, 10},
                    RealFile{"damaged/androidx_sample_cbs_truncated.adts", 143, 0, 171},
                    RealFile{"damaged/file-type_fixture-adts-mpeg2.aac", 50, 0, 178},
                    RealFile{"damaged/music-metadata_adts-sf-escape.aac", 0, 216, 216}),
    [](const auto& test) {
      std::string name = std::filesystem::path(test.param.path).stem().string();
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

}  // namespace
}  // namespace vornel::audio
