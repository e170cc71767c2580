#include "icy_demuxer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_probe.h"
#include "mp3_probe.h"

namespace vornel::audio {
namespace {

struct Demuxed {
  std::string audio;
  std::vector<std::string> titles;
  bool operator==(const Demuxed&) const = default;
};

std::string Block(const std::string& text, int sixteens) {
  std::string block(1, static_cast<char>(sixteens));
  block += text;
  block.resize(1 + static_cast<std::size_t>(sixteens) * 16, '\0');
  return block;
}

// Feeds `wire` in pieces cut at the given offsets.
Demuxed Demux(std::size_t metaint, const std::string& wire, std::vector<std::size_t> cuts) {
  Demuxed out;
  IcyDemuxer demuxer(metaint);
  cuts.push_back(wire.size());
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    demuxer.feed(
        reinterpret_cast<const std::uint8_t*>(wire.data()) + from, cut - from,
        [&](const std::uint8_t* p, std::size_t n) { out.audio.append(reinterpret_cast<const char*>(p), n); },
        [&](std::string_view text) { out.titles.emplace_back(text); });
    from = cut;
  }
  return out;
}

TEST(IcyDemuxer, SameResultWhereverTheNetworkSplitsTheBytes) {
  const std::string wire = "abcde" + Block("StreamTitle='One';", 2) + "fghij" + Block("", 0) + "klmno" +
                           Block("StreamTitle='Two';", 2) + "pq";
  const Demuxed expected{"abcdefghijklmnopq", {"StreamTitle='One';", "StreamTitle='Two';"}};
  ASSERT_EQ(Demux(5, wire, {}), expected);
  for (std::size_t a = 0; a <= wire.size(); ++a) {
    for (std::size_t b = a; b <= wire.size(); ++b) ASSERT_EQ(Demux(5, wire, {a, b}), expected) << a << "," << b;
  }
}

TEST(IcyDemuxer, MetaintOfOneAndLongestBlock) {
  std::string wire;
  std::string audio;
  const std::string longTitle = "StreamTitle='" + std::string(4000, 'x') + "';";
  for (int i = 0; i < 50; ++i) {
    wire += static_cast<char>('A' + i % 26);
    audio += static_cast<char>('A' + i % 26);
    wire += i == 10 ? Block(longTitle, 255) : Block("", 0);
  }
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < wire.size(); ++i) everyByte.push_back(i);
  const Demuxed expected{audio, {longTitle}};
  EXPECT_EQ(Demux(1, wire, {}), expected);
  EXPECT_EQ(Demux(1, wire, everyByte), expected);
}

TEST(IcyDemuxer, WithoutMetaintEveryByteIsAudio) {
  const std::string wire = std::string("\x01\x02StreamTitle='x';\0\0", 20);
  EXPECT_EQ(Demux(0, wire, {3, 7}), (Demuxed{wire, {}}));
}

TEST(IcyDemuxer, ABlockWithNothingButPaddingIsNoTitle) {
  const std::string wire = "ab" + Block("", 1) + "cd";
  EXPECT_EQ(Demux(2, wire, {}), (Demuxed{"abcd", {}}));
}

// An MPEG-1 Layer III frame at 128 kbit/s, 44100 Hz, stereo: 417 bytes without padding.
std::string Frame() {
  std::string frame(417, '\0');
  frame[0] = '\xFF';
  frame[1] = '\xFB';
  frame[2] = '\x90';
  frame[3] = '\x00';
  return frame;
}

TEST(BodySniff, FindsChainedFramesAfterJunkAndAnId3Tag) {
  const std::string frames = Frame() + Frame() + Frame() + Frame();
  const auto sniff = [](const std::string& s, bool complete = false) {
    return SniffBody(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), "audio/mpeg", complete);
  };
  EXPECT_EQ(sniff(frames).kind, BodyKind::Mpeg);
  EXPECT_EQ(sniff("junk" + frames).kind, BodyKind::Mpeg);
  const std::string tag = std::string("ID3\x04\x00\x00\x00\x00\x01\x00", 10) + std::string(128, 'T');
  EXPECT_EQ(sniff(tag + frames).kind, BodyKind::Mpeg);
  EXPECT_EQ(sniff(tag + frames).audioStart, tag.size());
  EXPECT_EQ(sniff(tag.substr(0, 60)).kind, BodyKind::NeedMore);
  EXPECT_EQ(sniff(Frame() + Frame()).kind, BodyKind::NeedMore);
  EXPECT_EQ(sniff(Frame() + Frame(), true).kind, BodyKind::NotAudio);
  EXPECT_EQ(sniff("<html><body>" + std::string(70000, 'x')).kind, BodyKind::NotAudio);
  EXPECT_EQ(sniff(std::string(70000, 'x')).kind, BodyKind::NotAudio);
  Mp3FrameHeader header;
  ASSERT_TRUE(ReadMp3FrameHeader(reinterpret_cast<const std::uint8_t*>(Frame().data()), header));
  EXPECT_EQ(header.length, 417u);
  EXPECT_EQ(header.sampleRate, 44100);
}

}  // namespace
}  // namespace vornel::audio
