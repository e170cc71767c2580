#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "format_probe.h"
#include "id3.h"
#include "pipeline.h"
#include "pipeline_capture.h"
#include "test_bytes.h"

namespace vornel::audio {
namespace {

using test::Bytes;
using test::operator+;
using test::Text;
using test::ReadExternal;


using Recorder = test::PipelineCapture;

// As a stream reader plays a body: a leading tag handed on as it is, the frames fed in pieces.
void Play(const Bytes& input, std::size_t piece, Recorder& recorder) {
  AudioPipeline pipeline(AudioFormat::Adts, 44100, recorder);
  const std::size_t start = Id3TagSize(input.data(), input.size());
  pipeline.passOn(input.data(), start);
  for (std::size_t at = start; at < input.size(); at += piece) {
    ASSERT_TRUE(pipeline.feed(input.data() + at, std::min(piece, input.size() - at)));
  }
  pipeline.finish();
}

struct AacFile {
  const char* path;
  BodyKind sniffed;
  double seconds;
  double tolerance;  // relative
  double pitch;      // Hz; 0: not a tone
};
void PrintTo(const AacFile& file, std::ostream* os) { *os << file.path; }

class AacFileTest : public testing::TestWithParam<AacFile> {};

TEST_P(AacFileTest, HandsOnEveryByteAndDecodesAtTheOutputRate) {
  const AacFile& file = GetParam();
  const std::optional<Bytes> input = ReadExternal("aac/" + std::string(file.path));
  if (!input) GTEST_SKIP() << file.path << " is not there";
  const BodySniff sniff = SniffBody(input->data(), input->size(), "audio/aac", true);
  EXPECT_EQ(sniff.kind, file.sniffed);
  EXPECT_EQ(sniff.audioStart, Id3TagSize(input->data(), input->size()));
  Recorder recorder;
  Play(*input, 1000, recorder);
  EXPECT_EQ(recorder.blocks, *input);
  const double seconds = static_cast<double>(recorder.audio.size() / 2) / 44100;
  EXPECT_NEAR(seconds, file.seconds, file.seconds * file.tolerance);
  if (file.pitch > 0) {
    EXPECT_NEAR(test::Pitch(recorder.audio), file.pitch, file.pitch * 0.01);
  }
}

// Whole frames reach the decoder however the bytes come, so the audio is the same.
TEST(AacTest, SameAudioWhateverThePieces) {
  const std::optional<Bytes> input = ReadExternal("aac/lc/androidx_sine.aac");
  if (!input) GTEST_SKIP() << "lc/androidx_sine.aac is not there";
  Recorder whole, bytewise;
  Play(*input, input->size(), whole);
  Play(*input, 1, bytewise);
  EXPECT_EQ(bytewise.blocks, *input);
  EXPECT_EQ(whole.audio, bytewise.audio);
}

INSTANTIATE_TEST_SUITE_P(
    External, AacFileTest,
    // Durations are frames x 1024 (2048 with SBR) at the rate the decoder gives; the decoder's
    // first frame gives no audio.
    testing::Values(AacFile{"lc/androidx_sine.aac", BodyKind::Adts, 1.04, 0.03, 1000},  // 44.1 kHz mono
                    AacFile{"lc/androidx_sample.adts", BodyKind::Adts, 3.34, 0.03, 0},
                    AacFile{"lc/gpac_enst_audio.aac", BodyKind::Adts, 7.04, 0.03, 0},  // 48 kHz
                    AacFile{"lc/file-type_fixture-adts-mpeg4.aac", BodyKind::Adts, 16.06, 0.03, 0},  // 16 kHz
                    AacFile{"lc/muxjs_trim.aac", BodyKind::Adts, 9.99, 0.03, 0},  // ID3, 22.05 kHz
                    AacFile{"hls/muxjs_test-aac-segment.aac", BodyKind::Adts, 9.98, 0.03, 1000},
                    AacFile{"he-aac/pymediainfo_aac_he_v2.aac", BodyKind::Adts, 1.21, 0.06, 0},
                    AacFile{"damaged/androidx_bbb_1ch_8kHz_aac_lc.aac", BodyKind::Adts, 3.2, 0.07, 0},  // "SSR"
                    AacFile{"damaged/androidx_sample_cbs_truncated.adts", BodyKind::Adts, 3.32, 0.03, 0},
                    AacFile{"damaged/file-type_fixture-adts-mpeg2.aac", BodyKind::Adts, 1.16, 0.03, 0},
                    AacFile{"damaged/music-metadata_adts-sf-escape.aac", BodyKind::NotAudio, 0, 0, 0}),
    [](const auto& test) {
      std::string name = std::filesystem::path(test.param.path).stem().string();
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

}  // namespace
}  // namespace vornel::audio
