// The library against the stations of today, served on loopback by tests/audio/server/hls_server.py
// from media made at build time: AAC, Ogg Vorbis and Opus, MP3 under lying Content-Types, HLS in
// every container it comes in, and playlist addresses. Every stream is a tone of its own
// frequency, so the played sound (SDL's disk output) tells which stream played, and at what pitch.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"
#include "playback/recorder.h"
#include "support/played_audio.h"
#include "support/server_process.h"
#include "support/stream_capture.h"
#include "support/test_environment.h"
#include "support/waiting.h"

namespace {

using namespace std::chrono_literals;
using vornel::test::WaitFor;

std::string PcmFile() { return "/tmp/vornel-formats-" + std::to_string(getpid()) + ".raw"; }

std::string Encode(const std::string& url) {
  std::string out;
  for (unsigned char c : url) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

using vornel::test::Received;

class FormatsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new vornel::test::ServerProcess(
        {"python3", VORNEL_TEST_HLS_SERVER, "--media", VORNEL_TEST_HLS_MEDIA});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    std::filesystem::remove(PcmFile());
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  }
  void TearDown() override {
    BASS_Free();
    std::filesystem::remove(PcmFile());
  }

  static std::string Url(const std::string& path) { return server_->url(path); }
  static HSTREAM Open(const std::string& url, Received* received = nullptr) {
    return BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAMFLAG_BLOCKS,
                                received ? Received::OnBlock : nullptr, received);
  }
  // Plays `stream` for a while and measures the tone of its last half second.
  static vornel::test::Tone PlayAndMeasure(HSTREAM stream, std::chrono::milliseconds length = 1500ms) {
    BASS_ChannelPlay(stream, 0);
    std::this_thread::sleep_for(length);
    const std::vector<std::int16_t> pcm = vornel::test::ReadPlayedAudio(PcmFile());
    const std::size_t frames = pcm.size() / 2;
    const std::size_t window = 44100 / 2;
    if (frames < vornel::test::FirstSound(pcm) + window + 4410) return {};
    return vornel::test::MeasureTone(pcm, frames - window - 2205, window);
  }

  static inline vornel::test::ServerProcess* server_ = nullptr;
};

struct PitchCase {
  const char* name;
  const char* path;
  double hertz;
};

class FormatPitchTest : public FormatsTest, public ::testing::WithParamInterface<PitchCase> {};

// Each kind of station plays at its own pitch and level, whatever its server calls it.
TEST_P(FormatPitchTest, PlaysAtItsPitch) {
  const PitchCase& c = GetParam();
  const auto started = std::chrono::steady_clock::now();
  const HSTREAM stream = Open(Url(c.path));
  ASSERT_NE(stream, 0u) << c.path;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << c.path;
  const vornel::test::Tone tone = PlayAndMeasure(stream);
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_PLAYING) << c.path;
  EXPECT_NEAR(tone.hertz, c.hertz, c.hertz * 0.01) << c.path;
  EXPECT_NEAR(tone.peak, 0.5 * 32767, 0.08 * 32767) << c.path;
  BASS_StreamFree(stream);
}

INSTANTIATE_TEST_SUITE_P(
    Stations, FormatPitchTest,
    ::testing::Values(
        PitchCase{"AacSentAsMpeg", "/file/tone.aac?loop=1&ctype=audio/mpeg", 1200},
        PitchCase{"AacSentAsHtml", "/file/tone.aac?loop=1&ctype=text/html", 1200},
        PitchCase{"VorbisSentAsOctetStream", "/file/tone.ogg?loop=1&ctype=application/octet-stream", 1450},
        PitchCase{"OpusAt48kHz", "/file/tone.opus?loop=1", 1800},
        PitchCase{"Mp3SentAsHtml", "/file/tone.mp3?loop=1&ctype=text/html", 2100},
        PitchCase{"HlsMasterPicksTheBestAudioUpTo320k", "/ts/master.m3u8", 1000},
        PitchCase{"HlsChunkedOnKeptConnections", "/chunked/ts/master.m3u8", 1000},
        PitchCase{"HlsMp3InTransportStream", "/mp3ts/media.m3u8", 570},
        PitchCase{"HlsPackedAac", "/packed/media.m3u8", 640},
        PitchCase{"HlsPackedMp3", "/packed-mp3/media.m3u8", 740},
        PitchCase{"HlsTimedId3", "/tsid3/media.m3u8", 880},
        PitchCase{"RelativePlaylistEntry", "/relative.m3u", 1000},
        PitchCase{"PlaylistSentAsOctetStream", "/list.pls?ctype=application/octet-stream", 2100}),
    [](const ::testing::TestParamInfo<PitchCase>& param) { return std::string(param.param.name); });

// Titles from the ID3 tags of HLS segments reach the player in the ICY form, at connect and as
// they change.
TEST_F(FormatsTest, HlsTitlesComeFromId3Tags) {
  for (const char* path : {"/packed/media.m3u8", "/tsid3/media.m3u8"}) {
    const std::string prefix = std::string(path) == "/packed/media.m3u8"
                                   ? "StreamTitle='Packed Artist - Song "
                                   : "StreamTitle='TS Artist - Tune ";
    Received received;
    const HSTREAM stream = Open(Url(path), &received);
    ASSERT_NE(stream, 0u) << path;
    const char* current = BASS_ChannelGetTags(stream, BASS_TAGS_META);
    ASSERT_NE(current, nullptr) << path;
    const std::string first = current;
    EXPECT_EQ(first.rfind(prefix, 0), 0u) << first;
    BASS_ChannelSetSync(stream, BASS_SYNC_METADATA, 0, Received::OnTitle, &received);
    BASS_ChannelPlay(stream, 0);
    // The title changes every two segments (4 s); the buffer is 3 s ahead.
    const bool changed = WaitFor([&] { return received.titleCount() >= 1; }, 8s);
    BASS_StreamFree(stream);  // before the lock: a title callback may be waiting for it
    ASSERT_TRUE(changed) << path;
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.titles[0].rfind(prefix, 0), 0u) << received.titles[0];
    EXPECT_NE(received.titles[0], first);
  }
}

// The download callback of an HLS station gets its elementary audio: ADTS frames, one after
// another from the first byte, with no transport-stream packet or tag among them.
TEST_F(FormatsTest, HlsDownloadCallbackGetsWholeAdtsFrames) {
  Received received;
  const HSTREAM stream = Open(Url("/ts/master.m3u8"), &received);
  ASSERT_NE(stream, 0u);
  BASS_ChannelPlay(stream, 0);
  std::this_thread::sleep_for(2s);
  BASS_StreamFree(stream);
  std::lock_guard lock(received.mutex);
  const std::string& bytes = received.audio;
  ASSERT_GT(bytes.size(), 20000u);
  std::size_t pos = 0;
  int frames = 0;
  while (pos + 7 <= bytes.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
    ASSERT_TRUE(p[0] == 0xFF && (p[1] & 0xF6) == 0xF0) << "no ADTS header at " << pos;
    pos += (std::size_t{p[3] & 3u} << 11) | (std::size_t{p[4]} << 3) | (p[5] >> 5);
    ++frames;
  }
  EXPECT_EQ(pos, bytes.size());
  EXPECT_GT(frames, 100);
}

// A live playlist whose sequence numbers jump plays on across the jumps.
TEST_F(FormatsTest, HlsPlaysOnAcrossSequenceGaps) {
  const HSTREAM stream = Open(Url("/gap/media.m3u8"));
  ASSERT_NE(stream, 0u);
  // The first jump comes after five segments (10 s) at the latest.
  const vornel::test::Tone tone = PlayAndMeasure(stream, 13s);
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_PLAYING);
  EXPECT_NEAR(tone.hertz, 460, 4.6);
  BASS_StreamFree(stream);
}

// What cannot be played is refused at once rather than after the time-outs.
TEST_F(FormatsTest, FragmentedMp4HlsAndDeadPlaylistsAreRefusedPromptly) {
  const std::string dead = "http://127.0.0.1:1/nothing-listens-here";
  const std::string missing = Url("/no/such/stream");
  const std::string page = Url("/another/missing/page");
  for (const std::string& url :
       {Url("/fmp4/media.m3u8"), Url("/list.m3u?entries=" + Encode(dead) + "," + Encode(missing)),
        Url("/list.xspf?entries=" + Encode(page)),
        Url("/nested.pls?depth=3&entries=" + Encode(Url("/file/tone.mp3")))}) {
    Received received;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(url, &received), 0u) << url;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << url;
    EXPECT_TRUE(received.audio.empty()) << url;
  }
}

// Every kind of playlist: dead entries first, then one that plays; nesting up to three lists.
TEST_F(FormatsTest, PlaylistsTryTheirEntriesInOrder) {
  const std::string entries = Encode("http://127.0.0.1:1/dead") + "," + Encode(Url("/missing")) + "," +
                              Encode(Url("/file/tone.ogg?loop=1"));
  for (const std::string path :
       {"/list.pls", "/list.m3u", "/list.xspf", "/list.asx", "/nested.pls?depth=2&x=1"}) {
    const std::string url =
        Url(path + (path.find('?') == std::string::npos ? "?" : "&") + "entries=" + entries);
    Received received;
    const HSTREAM stream = Open(url, &received);
    ASSERT_NE(stream, 0u) << url;
    BASS_ChannelPlay(stream, 0);
    std::this_thread::sleep_for(300ms);
    BASS_StreamFree(stream);
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.audio.rfind("OggS", 0), 0u) << url;  // the Vorbis station's own bytes
  }
}

// HTTPS: a certificate that verifies against the trusted bundle plays, one that does not gives
// no handle (never an unverified connection); redirects between http and https are followed.
TEST_F(FormatsTest, HttpsTrustsOnlyVerifiedCertificatesAndRedirectsAcrossSchemes) {
  if (!std::filesystem::exists("/usr/bin/openssl")) GTEST_SKIP() << "openssl makes the certificates";
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vornel-tls-" + std::to_string(getpid()));
  ASSERT_EQ(std::system(("bash '" VORNEL_TEST_MAKE_CERT "' '" + folder.string() + "'").c_str()), 0);
  vornel::test::ServerProcess tls({"python3", VORNEL_TEST_HLS_SERVER, "--media", VORNEL_TEST_HLS_MEDIA,
                                   "--certfile", (folder / "server.pem").string()});
  const std::string https = "https://127.0.0.1:" + std::to_string(tls.port());
  unsetenv("SSL_CERT_FILE");
  unsetenv("CURL_CA_BUNDLE");
  EXPECT_EQ(Open(https + "/file/tone.ogg?loop=1"), 0u) << "an unverified certificate was accepted";

  setenv("CURL_CA_BUNDLE", (folder / "ca.pem").c_str(), 1);
  struct Case {
    std::string url;
    const char* begins;
  };
  for (const Case& c : {Case{https + "/file/tone.ogg?loop=1", "OggS"},
                        Case{Url("/redirect?to=" + Encode(https + "/file/tone.opus?loop=1")), "OggS"},
                        Case{https + "/redirect?to=" + Encode(Url("/file/tone.mp3?loop=1")), "\xFF"},
                        Case{https + "/ts/master.m3u8", "\xFF"}}) {
    Received received;
    const HSTREAM stream = Open(c.url, &received);
    EXPECT_NE(stream, 0u) << c.url;
    BASS_ChannelPlay(stream, 0);
    std::this_thread::sleep_for(200ms);
    BASS_StreamFree(stream);
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.audio.rfind(c.begins, 0), 0u) << c.url;
  }
  unsetenv("CURL_CA_BUNDLE");
  std::filesystem::remove_all(folder);
}

// Recording: each format's files get its extension, begin at a frame or page, and decode on
// their own without an error.
TEST_F(FormatsTest, RecordingsOfEveryFormatPlayOnTheirOwn) {
  const std::string ffmpeg = "/usr/bin/ffmpeg";
  if (!std::filesystem::exists(ffmpeg)) GTEST_SKIP() << "ffmpeg is needed to check the files";
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vornel-formats-rec-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "REC");
  struct Case {
    const char* path;
    const char* extension;
  };
  for (const Case& c : {Case{"/file/tone.aac?loop=1", ".aac"}, Case{"/file/tone.ogg?loop=1", ".ogg"},
                        Case{"/file/tone.opus?loop=1", ".opus"}, Case{"/file/tone.mp3?loop=1", ".mp3"},
                        Case{"/packed/media.m3u8", ".aac"}, Case{"/mp3ts/media.m3u8", ".mp3"}}) {
    vornel::playback::Recorder recorder((folder / "REC").string());
    recorder.NewRecordWriter();
    recorder.ToggleRecording();
    const HSTREAM stream = BASS_StreamCreateURL(
        Url(c.path).c_str(), 0, BASS_STREAMFLAG_BLOCKS,
        [](const void* buffer, DWORD length, void* user) {
          static_cast<vornel::playback::Recorder*>(user)->OnDownloadBlock(
              static_cast<const std::uint8_t*>(buffer), length);
        },
        &recorder);
    ASSERT_NE(stream, 0u) << c.path;
    BASS_ChannelPlay(stream, 0);
    recorder.NewTrack("First");
    std::this_thread::sleep_for(1500ms);
    recorder.NewTrack("Second");  // cut mid-stream: the file must still play on its own
    std::this_thread::sleep_for(1500ms);
    BASS_StreamFree(stream);
    recorder.NewRecordWriter();  // closes the file
    for (const char* name : {"First", "Second"}) {
      const std::filesystem::path file = folder / "REC" / (std::string(name) + c.extension);
      ASSERT_TRUE(std::filesystem::exists(file)) << file;
      EXPECT_GT(std::filesystem::file_size(file), 1000u) << file;
      const std::string errors = folder / "errors.txt";
      const std::string command =
          ffmpeg + " -nostdin -v error -i '" + file.string() + "' -f null - 2>'" + errors + "'";
      EXPECT_EQ(std::system(command.c_str()), 0) << file;
      EXPECT_EQ(std::filesystem::file_size(errors), 0u) << file << ": " << std::ifstream(errors).rdbuf();
    }
    std::filesystem::remove_all(folder / "REC");
    std::filesystem::create_directories(folder / "REC");
  }
  std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
  // The played sound goes to a file of this process's own, so that tests can run side by side.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", PcmFile().c_str(), 1);
  setenv("VORNEL_AUDIO_LOG", "1", 0);
  vornel::test::PrepareTestEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
