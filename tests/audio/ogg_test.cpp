#include "ogg_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pipeline.h"
#include "vorbis_comments.h"
#include "pipeline_capture.h"
#include "test_bytes.h"

namespace vornel::audio {
namespace {

using test::Bytes;
using test::operator+;
using test::Text;
using test::ReadExternal;

Bytes U32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

// A comment list: vendor, count, then each entry with its length.
Bytes Comments(const std::vector<std::string>& entries, std::optional<std::uint32_t> count = std::nullopt) {
  Bytes out = U32(6) + Text("vendor") + U32(count.value_or(static_cast<std::uint32_t>(entries.size())));
  for (const std::string& entry : entries) out = out + U32(static_cast<std::uint32_t>(entry.size())) + Text(entry);
  return out;
}

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

struct CommentCase {
  const char* name;
  Bytes data;
  std::optional<std::pair<std::string, std::string>> tags;  // artist, title
};
void PrintTo(const CommentCase& c, std::ostream* os) { *os << c.name; }

std::vector<CommentCase> CommentCases() {
  using Tags = std::pair<std::string, std::string>;
  const Bytes plain = Comments({"ARTIST=Ann", "TITLE=Song"});
  return {
      {"Plain", plain, Tags{"Ann", "Song"}},
      {"KeysInAnyCase", Comments({"artist=Ann", "TiTlE=Song"}), Tags{"Ann", "Song"}},
      {"SeveralArtistsJoined", Comments({"ARTIST=Ann", "TITLE=Song", "Artist=Bob"}), Tags{"Ann / Bob", "Song"}},
      {"EmptyValuesLeftOut", Comments({"ARTIST=", "TITLE=", "ARTIST=Bob"}), Tags{"Bob", ""}},
      {"OnlyExactKeys", Comments({"ALBUMARTIST=x", "ARTISTS=y", "TITLE", "SUBTITLE=z"}), Tags{"", ""}},
      {"EqualsInsideValue", Comments({"TITLE=a=b"}), Tags{"", "a=b"}},
      {"NoEntries", Comments({}), Tags{"", ""}},
      {"Empty", {}, std::nullopt},
      {"VendorOverruns", U32(100) + Text("vendor"), std::nullopt},
      {"CountMissing", U32(6) + Text("vendor"), std::nullopt},
      {"EntryOverruns", Cut(plain, plain.size() - 1), std::nullopt},
      {"EntryLengthHuge", U32(0) + U32(1) + U32(0xFFFFFFFFu) + Text("TITLE=x"), std::nullopt},
      {"CountHugeEntriesFew", Comments({"ARTIST=Ann", "TITLE=Song"}, 0xFFFFFFFFu), std::nullopt},
  };
}

class VorbisCommentsTest : public testing::TestWithParam<CommentCase> {};

TEST_P(VorbisCommentsTest, ReadsArtistAndTitle) {
  const CommentCase& c = GetParam();
  const auto check = [&](const std::optional<TrackTags>& tags) {
    ASSERT_EQ(tags.has_value(), c.tags.has_value());
    if (!tags) return;
    EXPECT_EQ(tags->artist, c.tags->first);
    EXPECT_EQ(tags->title, c.tags->second);
  };
  check(ParseVorbisComments(c.data.data(), c.data.size()));
  // The same list as the comment packet of either codec; behind another magic it is not one.
  check(ParseCommentPacket((Text("\x03vorbis") + c.data).data(), c.data.size() + 7));
  check(ParseCommentPacket((Text("OpusTags") + c.data).data(), c.data.size() + 8));
  for (std::string_view magic : {"\x01vorbis", "OpusHead", "\x03vorbi"}) {
    EXPECT_FALSE(ParseCommentPacket((Text(magic) + c.data).data(), c.data.size() + magic.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, VorbisCommentsTest, testing::ValuesIn(CommentCases()),
                         [](const auto& test) { return std::string(test.param.name); });

using Recorder = test::PipelineCapture;

void Play(const Bytes& input, std::size_t piece, Recorder& recorder) {
  AudioPipeline pipeline(AudioFormat::Ogg, 44100, recorder);
  for (std::size_t at = 0; at < input.size(); at += piece) {
    ASSERT_TRUE(pipeline.feed(input.data() + at, std::min(piece, input.size() - at)));
  }
  pipeline.finish();
}

// Pages of a logical stream of no codec we know, built by libogg, with junk before, between and
// after them: junk that holds the letter O, where a page search stops to look.
TEST(OggDecoderTest, JunkAroundPagesIsHandedOnInPlace) {
  ogg_stream_state stream;
  ogg_stream_init(&stream, 77);
  Bytes input = Text("xOxxOgOggxO");
  for (int i = 0; i < 3; ++i) {
    Bytes packet = Text("opaque packet ") + Bytes(300 + i, static_cast<std::uint8_t>('a' + i));
    ogg_packet p{packet.data(), static_cast<long>(packet.size()), i == 0, i == 2, i, i};
    ogg_stream_packetin(&stream, &p);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) {
      input = input + Bytes(page.header, page.header + page.header_len) + Bytes(page.body, page.body + page.body_len);
    }
    input = input + Text(i == 0 ? "OOOO" : i == 1 ? "OggSOggS" : "O-O");
  }
  ogg_stream_clear(&stream);
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, input.size()}) {
    Recorder recorder;
    Play(input, piece, recorder);
    EXPECT_EQ(recorder.blocks, input) << "pieces of " << piece;
    EXPECT_TRUE(recorder.audio.empty());
  }
}


struct OggFile {
  const char* path;
  std::size_t piece;  // bytes per feed
  const char* title;  // nullptr: the file names none
  double seconds;
  double pitch;  // Hz; 0: not a tone
};
void PrintTo(const OggFile& file, std::ostream* os) { *os << file.path; }

class OggFileTest : public testing::TestWithParam<OggFile> {};

TEST_P(OggFileTest, HandsOnEveryByteAndDecodesAtTheOutputRate) {
  const OggFile& file = GetParam();
  const std::optional<Bytes> input = ReadExternal("aac/ogg/" + std::string(file.path));
  if (!input) GTEST_SKIP() << file.path << " is not there";
  Recorder recorder, whole;
  Play(*input, file.piece, recorder);
  Play(*input, input->size(), whole);
  EXPECT_EQ(recorder.blocks, *input);
  EXPECT_EQ(recorder.titles, file.title ? std::vector<std::string>{file.title} : std::vector<std::string>{});
  EXPECT_NEAR(static_cast<double>(recorder.audio.size() / 2) / 44100, file.seconds, file.seconds * 0.02);
  EXPECT_EQ(recorder.audio, whole.audio);  // however the bytes came
  if (file.pitch > 0) {
    EXPECT_NEAR(test::Pitch(recorder.audio), file.pitch, file.pitch * 0.01);
  }
}

INSTANTIATE_TEST_SUITE_P(
    External, OggFileTest,
    testing::Values(OggFile{"waxlabel_sample.ogg", 1000, "StreamTitle='Sample Artist - Sample Title';", 1.5, 0},
                    OggFile{"waxlabel_sample.opus", 1000, "StreamTitle='Sample Artist - Sample Title';", 1.5, 0},
                    // A 440 Hz tone at 44.1 kHz.
                    OggFile{"tinytag_test.ogg", 1, "StreamTitle='james brown - the boss';", 1.0, 440},
                    // Cut short: its whole pages end at 1 s (less the pre-skip).
                    OggFile{"tinytag_test.opus", 1, "StreamTitle='nomico - Bad Apple!!';", 0.99, 0},
                    OggFile{"file-type_fixture.opus", 1000, "StreamTitle='Mozilla.org - De todos. Para todos.';",
                            2.91, 0},
                    // Links of 59392 frames at 44.1 kHz and 515234 at 48 kHz.
                    OggFile{"lewton_xiph_chain-test3.ogg", 1000, nullptr, 12.08, 0}),
    [](const auto& test) {
      std::string name = test.param.path;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

// The second link of this chain is 48 kHz mono after 44.1 kHz stereo: the decoder reports each
// link's own format, and the pipeline converts both to the output's.
TEST(OggDecoderTest, ChainChangesFormat) {
  const std::optional<Bytes> input = ReadExternal("aac/ogg/lewton_xiph_chain-test3.ogg");
  if (!input) GTEST_SKIP() << "lewton_xiph_chain-test3.ogg is not there";
  struct Formats final : OggDecoder::Events, PcmOut {
    std::vector<std::pair<int, int>> formats;  // rate, channels, as they changed
    std::vector<std::size_t> frames;           // per format
    void page(const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t) override {}
    void other(const std::uint8_t*, std::size_t) override {}
    void tags(const TrackTags&) override {}
    bool pcm(const std::int16_t*, std::size_t count, int rate, int channels) override {
      if (formats.empty() || formats.back() != std::pair(rate, channels)) {
        formats.emplace_back(rate, channels);
        frames.push_back(0);
      }
      frames.back() += count / static_cast<std::size_t>(channels);
      return true;
    }
  } out;
  OggDecoder decoder(out, out);
  ASSERT_TRUE(decoder.feed(input->data(), input->size()));
  decoder.finish();
  EXPECT_EQ(decoder.codec(), OggCodec::Vorbis);
  ASSERT_EQ(out.formats, (std::vector<std::pair<int, int>>{{44100, 2}, {48000, 1}}));
  EXPECT_NEAR(static_cast<double>(out.frames[0]), 59392, 2048);
  EXPECT_NEAR(static_cast<double>(out.frames[1]), 515234, 2048);
}

}  // namespace
}  // namespace vornel::audio
