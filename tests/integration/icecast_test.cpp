// The library against a real Icecast on loopback (the "icecast" CTest fixture): station name,
// titles set through Icecast's admin interface, the exact audio bytes, and the sound that plays
// (SDL's disk output writes it to a file, which the test reads back).

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"
#include "playback/metadata.h"
#include "playback/recorder.h"
#include "support/played_audio.h"
#include "support/stream_capture.h"
#include "support/test_environment.h"
#include "support/waiting.h"

namespace {

using namespace std::chrono_literals;
using vornel::test::FirstSound;
using vornel::test::MeasureTone;
using vornel::test::ReadPlayedAudio;
using vornel::test::Tone;
using vornel::test::WaitFor;

size_t Append(char* data, size_t, size_t size, void* out) {
  static_cast<std::string*>(out)->append(data, size);
  return size;
}

// A plain GET; for the admin interface and for a capture of a mount without metadata.
std::string HttpGet(const std::string& url, const std::string& userpwd, long seconds) {
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (!userpwd.empty()) curl_easy_setopt(curl, CURLOPT_USERPWD, userpwd.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, seconds);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return body;
}

// A second listener that keeps listening until told to stop, so that on a loaded machine it
// still covers all the library heard however late the library got in.
struct Capture {
  std::string body;
  std::atomic<bool> stop{false};
};

size_t AppendUntilStopped(char* data, size_t, size_t size, void* out) {
  auto* capture = static_cast<Capture*>(out);
  if (capture->stop) return 0;
  capture->body.append(data, size);
  return size;
}

void Listen(const std::string& url, Capture& capture) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendUntilStopped);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &capture);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
}

using vornel::test::Received;

class IcecastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(VORNEL_TEST_ICECAST_ENV)) GTEST_SKIP() << "no Icecast fixture running";
    env_ = vornel::test::ReadKeyValues(VORNEL_TEST_ICECAST_ENV);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  }
  void TearDown() override { BASS_Free(); }

  std::string Url(const std::string& mount) { return "http://" + env_["HOST"] + ":" + env_["PORT"] + mount; }
  void SetTitle(const std::string& mount, const std::string& title) {
    char* escaped = curl_easy_escape(nullptr, title.c_str(), static_cast<int>(title.size()));
    HttpGet(Url("/admin/metadata?mount=" + mount + "&mode=updinfo&song=" + escaped),
            env_["ADMIN_USER"] + ":" + env_["ADMIN_PASSWORD"], 5);
    curl_free(escaped);
  }

  std::map<std::string, std::string> env_;
};

TEST_F(IcecastTest, StationNameAndEveryTitleChange) {
  const std::string mount = env_["MOUNT_440"];
  Received received;
  const HSTREAM stream =
      BASS_StreamCreateURL(Url(mount).c_str(), 0, BASS_STREAMFLAG_BLOCKS, Received::OnBlock, &received);
  ASSERT_NE(stream, 0u);
  bool named = false;
  std::string status;
  for (const char* p = BASS_ChannelGetTags(stream, BASS_TAGS_HEADERS); *p != '\0'; p += std::strlen(p) + 1) {
    if (status.empty()) status = p;
    if (std::string(p).rfind("icy-name:", 0) == 0) named = std::string(p).find("Vornel Test 440") != std::string::npos;
  }
  EXPECT_EQ(status.rfind("HTTP/1.", 0), 0u) << status;
  EXPECT_TRUE(named);

  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_METADATA, 0, Received::OnTitle, &received), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_PLAYING);
  for (const std::string title : {"Первая песня - One", "Second; with a semicolon"}) {
    SetTitle(mount, title);
    EXPECT_TRUE(WaitFor([&] { return received.hasTitle("StreamTitle='" + title + "';"); }, 10s)) << title;
  }
  const char* current = BASS_ChannelGetTags(stream, BASS_TAGS_META);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(std::string(current).rfind("StreamTitle='Second; with a semicolon';", 0), 0u);
  EXPECT_TRUE(BASS_ChannelStop(stream));
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_STOPPED);
  BASS_StreamFree(stream);
  SetTitle(mount, "");
}

TEST_F(IcecastTest, DownloadedBytesAreTheAudioIcecastSends) {
  const std::string mount = env_["MOUNT_440"];
  Capture listener;
  std::thread capturing([&] { Listen(Url(mount), listener); });
  Received received;
  const HSTREAM stream =
      BASS_StreamCreateURL(Url(mount).c_str(), 0, BASS_STREAMFLAG_BLOCKS, Received::OnBlock, &received);
  if (stream != 0) {
    BASS_ChannelPlay(stream, 0);
    std::this_thread::sleep_for(3s);
    BASS_StreamFree(stream);
    std::this_thread::sleep_for(500ms);
  }
  listener.stop = true;
  capturing.join();
  ASSERT_NE(stream, 0u);
  const std::string& capture = listener.body;

  // Both listeners saw one byte sequence, perhaps from different starting points.
  std::lock_guard lock(received.mutex);
  ASSERT_GT(received.audio.size(), 64u * 1024);
  ASSERT_GT(capture.size(), 64u * 1024);
  const std::size_t at = capture.find(received.audio.substr(0, 4096));
  ASSERT_NE(at, std::string::npos) << "the library's first bytes are not in the capture";
  const std::size_t overlap = std::min(received.audio.size(), capture.size() - at);
  EXPECT_GT(overlap, 32u * 1024);
  EXPECT_TRUE(received.audio.compare(0, overlap, capture, at, overlap) == 0);
}

TEST_F(IcecastTest, PlaysTheToneAtItsPitchAndFollowsTheVolume) {
  struct Case {
    const char* mount;
    double hertz;
  };
  for (const Case& c : {Case{"MOUNT_440", 440.0}, Case{"MOUNT_1000", 1000.0}}) {
    BASS_Free();
    std::filesystem::remove(VORNEL_TEST_PCM_FILE);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
    BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 100);
    const HSTREAM stream = BASS_StreamCreateURL(Url(env_[c.mount]).c_str(), 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << c.mount;
    BASS_ChannelPlay(stream, 0);
    std::this_thread::sleep_for(1500ms);
    const auto fullEnds = std::filesystem::file_size(VORNEL_TEST_PCM_FILE) / 4;
    BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 50);
    std::this_thread::sleep_for(1500ms);
    BASS_StreamFree(stream);
    BASS_Free();

    const std::vector<std::int16_t> pcm = ReadPlayedAudio(VORNEL_TEST_PCM_FILE);
    const std::size_t first = FirstSound(pcm);
    const std::size_t second = 44100 / 2;
    ASSERT_GT(fullEnds, first + second + 2205) << c.mount;
    const Tone full = MeasureTone(pcm, fullEnds - second - 2205, second);
    ASSERT_GT(pcm.size() / 2, fullEnds + 4410 + second) << c.mount;
    const Tone half = MeasureTone(pcm, fullEnds + 4410, second);
    EXPECT_NEAR(full.hertz, c.hertz, c.hertz * 0.01) << c.mount;
    EXPECT_NEAR(half.hertz, c.hertz, c.hertz * 0.01) << c.mount;
    EXPECT_NEAR(full.peak, 0.48 * 32767, 0.05 * 32767) << c.mount;
    EXPECT_NEAR(static_cast<double>(half.peak) / full.peak, 0.5, 0.03) << c.mount;
  }
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
}

// AAC, Vorbis and Opus mounts (Opus at 48 kHz) play at their pitch and level.
TEST_F(IcecastTest, AacVorbisAndOpusMountsPlayAtTheirPitch) {
  for (const char* which : {"AAC", "VORBIS", "OPUS"}) {
    BASS_Free();
    std::filesystem::remove(VORNEL_TEST_PCM_FILE);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
    const std::string mount = env_[std::string("MOUNT_") + which];
    const double hertz = std::stod(env_[std::string("FREQ_") + which]);
    const HSTREAM stream = BASS_StreamCreateURL(Url(mount).c_str(), 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << mount;
    BASS_ChannelPlay(stream, 0);
    std::this_thread::sleep_for(1500ms);
    BASS_StreamFree(stream);
    const std::vector<std::int16_t> pcm = ReadPlayedAudio(VORNEL_TEST_PCM_FILE);
    const std::size_t window = 44100 / 2;
    ASSERT_GT(pcm.size() / 2, FirstSound(pcm) + window + 4410) << mount;
    const Tone tone = MeasureTone(pcm, pcm.size() / 2 - window - 2205, window);
    EXPECT_NEAR(tone.hertz, hertz, hertz * 0.01) << mount;
    EXPECT_NEAR(tone.peak, 0.5 * 32767, 0.08 * 32767) << mount;
  }
}

// Titles: ICY metadata of an AAC mount as of an MP3 one, and each track's comments of a chained
// Ogg stream, in the same ICY form.
TEST_F(IcecastTest, TitlesOfAnAacMountAndOfEveryTrackOfAChainedOggStream) {
  const std::string aac = env_["MOUNT_AAC"];
  Received fromAac;
  const HSTREAM aacStream = BASS_StreamCreateURL(Url(aac).c_str(), 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr);
  ASSERT_NE(aacStream, 0u);
  BASS_ChannelSetSync(aacStream, BASS_SYNC_METADATA, 0, Received::OnTitle, &fromAac);
  BASS_ChannelPlay(aacStream, 0);
  SetTitle(aac, "AAC artist - AAC title");
  EXPECT_TRUE(WaitFor([&] { return fromAac.hasTitle("StreamTitle='AAC artist - AAC title';"); }, 10s));
  BASS_StreamFree(aacStream);
  SetTitle(aac, "");

  Received fromChain;
  const HSTREAM chain =
      BASS_StreamCreateURL(Url(env_["MOUNT_CHAIN"]).c_str(), 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr);
  ASSERT_NE(chain, 0u);
  const char* first = BASS_ChannelGetTags(chain, BASS_TAGS_META);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first).rfind("StreamTitle='Vornel Chain - Track ", 0), 0u) << first;
  BASS_ChannelSetSync(chain, BASS_SYNC_METADATA, 0, Received::OnTitle, &fromChain);
  BASS_ChannelPlay(chain, 0);
  // Tracks of 4 s alternate: both titles come within a few tracks.
  EXPECT_TRUE(WaitFor([&] { return fromChain.hasTitle("StreamTitle='Vornel Chain - Track A';") &&
                                   fromChain.hasTitle("StreamTitle='Vornel Chain - Track B';"); },
                      15s));
  BASS_StreamFree(chain);
}

// The TLS port: its certificate verifies against the fixture's CA once the library is told to
// trust it, and not before.
TEST_F(IcecastTest, HttpsMountPlaysOnlyWithTheTrustedCertificate) {
  const std::string url = "https://" + env_["HOST"] + ":" + env_["TLS_PORT"] + env_["MOUNT_AAC"];
  unsetenv("CURL_CA_BUNDLE");
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr), 0u);
  setenv("SSL_CERT_FILE", env_["CA_FILE"].c_str(), 1);
  Received received;
  const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAMFLAG_BLOCKS, Received::OnBlock, &received);
  unsetenv("SSL_CERT_FILE");
  ASSERT_NE(stream, 0u);
  BASS_ChannelPlay(stream, 0);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_PLAYING);
  BASS_StreamFree(stream);
  std::lock_guard lock(received.mutex);
  // The burst may begin inside a frame; ADTS frames follow.
  EXPECT_NE(received.audio.find("\xFF\xF1"), std::string::npos);
}

// Recording a chained Ogg stream track by track, as the player does: every file begins with its
// track's header pages and decodes on its own.
TEST_F(IcecastTest, RecordingsOfAChainedOggStreamPlayOnTheirOwn) {
  const std::string ffmpeg = "/usr/bin/ffmpeg";
  if (!std::filesystem::exists(ffmpeg)) GTEST_SKIP() << "ffmpeg is needed to check the files";
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vornel-chain-recording";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "REC");
  vornel::playback::Recorder recorder((folder / "REC").string());
  recorder.NewRecordWriter();
  recorder.ToggleRecording();
  const auto onBlock = [](const void* buffer, DWORD length, void* user) {
    static_cast<vornel::playback::Recorder*>(user)->OnDownloadBlock(static_cast<const std::uint8_t*>(buffer), length);
  };
  const auto onTitle = [](HSYNC, DWORD, const char* text, void* user) {
    if (const auto title = vornel::playback::StreamTitleOf(text))
      static_cast<vornel::playback::Recorder*>(user)->NewTrack(*title);
  };
  const HSTREAM stream =
      BASS_StreamCreateURL(Url(env_["MOUNT_CHAIN"]).c_str(), 0, BASS_STREAMFLAG_BLOCKS, onBlock, &recorder);
  ASSERT_NE(stream, 0u);
  onTitle(0, stream, BASS_ChannelGetTags(stream, BASS_TAGS_META), &recorder);
  BASS_ChannelSetSync(stream, BASS_SYNC_METADATA, 0, onTitle, &recorder);
  BASS_ChannelPlay(stream, 0);
  std::this_thread::sleep_for(9s);
  BASS_StreamFree(stream);
  recorder.NewRecordWriter();

  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "REC")) {
    ++files;
    const std::string path = entry.path().string();
    EXPECT_EQ(entry.path().extension(), ".ogg") << path;
    std::ifstream in(path, std::ios::binary);
    char head[6] = {};
    in.read(head, sizeof head);
    EXPECT_EQ(std::string(head, 4), "OggS") << path;
    EXPECT_EQ(head[5] & 0x02, 0x02) << path << " does not begin with its track's first page";
    const std::string errors = (folder / "errors.txt").string();
    EXPECT_EQ(std::system((ffmpeg + " -nostdin -v error -i '" + path + "' -f null - 2>'" + errors + "'").c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(errors), 0u) << path;
  }
  EXPECT_GE(files, 2);
  std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
  // The played sound goes to a file (in real time, like a sound card) for the pitch checks.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", VORNEL_TEST_PCM_FILE, 1);
  vornel::test::PrepareTestEnvironment();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  curl_global_cleanup();
  return result;
}
