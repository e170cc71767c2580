// The library's PulseAudio output against a real PulseAudio server of the test's own, whose only
// sink is a null sink: what reaches the server is read back with pactl and parec. Skipped where
// PulseAudio is not installed.

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bass.h"
#include "support/server_process.h"
#include "support/waiting.h"

namespace {

using namespace std::chrono_literals;
using vornel::test::WaitFor;

std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> chunk{};
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), got);
  pclose(pipe);
  return out;
}

bool OnPath(const std::string& program) {
  return CommandOutput("command -v " + program + " 2>/dev/null").size() > 0;
}

// One of the server's playback streams, as pactl lists it.
struct SinkInput {
  std::string application;
  bool corked = false;
  std::optional<double> decibels;  // of its first channel; nullopt for silence (-inf)
};

// The text between `before` and the next `until` in `block`, or nullopt.
std::optional<std::string> Between(const std::string& block, const std::string& before, char until) {
  const std::size_t start = block.find(before);
  if (start == std::string::npos) return std::nullopt;
  const std::size_t from = start + before.size();
  const std::size_t end = block.find(until, from);
  if (end == std::string::npos) return std::nullopt;
  return block.substr(from, end - from);
}

std::vector<SinkInput> SinkInputs() {
  const std::string listing = CommandOutput("pactl list sink-inputs 2>/dev/null");
  std::vector<SinkInput> inputs;
  std::size_t at = 0;
  while ((at = listing.find("Sink Input #", at)) != std::string::npos) {
    const std::size_t next = listing.find("Sink Input #", at + 1);
    const std::string block = listing.substr(at, next == std::string::npos ? std::string::npos : next - at);
    SinkInput input;
    input.application = Between(block, "application.name = \"", '"').value_or("");
    input.corked = block.find("Corked: yes") != std::string::npos;
    // "Volume: front-left: 32768 /  50% / -18.06 dB,   front-right: ..."
    if (const auto volume = Between(block, "Volume: front-left:", ',')) {
      const std::size_t slash = volume->rfind('/');
      const std::size_t unit = volume->rfind(" dB");
      if (slash != std::string::npos && unit != std::string::npos && unit > slash) {
        const std::string decibels = volume->substr(slash + 1, unit - slash - 1);
        if (decibels.find("inf") == std::string::npos) input.decibels = std::stod(decibels);
      }
    }
    inputs.push_back(input);
    at = next;
  }
  return inputs;
}

// The loudest sample on the null sink's monitor over about half a second, as a fraction of full scale.
double MonitorPeak() {
  FILE* pipe = popen(
      "parec -d vornel_test.monitor --raw --format=s16le --channels=2 --rate=44100 --latency-msec=50 "
      "2>/dev/null",
      "r");
  if (pipe == nullptr) return -1;
  std::vector<std::int16_t> samples(44100);  // a quarter of a second of stereo, twice
  int peak = 0;
  for (int round = 0; round < 2; ++round) {
    const std::size_t got = std::fread(samples.data(), sizeof(std::int16_t), samples.size(), pipe);
    for (std::size_t i = 0; i < got; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
  }
  pclose(pipe);
  return peak / 32768.0;
}

class PulseOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("pulseaudio") || !OnPath("pactl") || !OnPath("parec")) {
      GTEST_SKIP() << "PulseAudio (pulseaudio, pulseaudio-utils) is not installed";
    }
    folder_ = std::filesystem::temp_directory_path() / ("vornel-pulse-" + std::to_string(getpid()));
    StartPulse();
    // The rest of the tests choose SDL's dummy output; this one lets the library find the server.
    if (const char* driver = std::getenv("SDL_AUDIODRIVER")) savedDriver_ = driver;
    unsetenv("SDL_AUDIODRIVER");
    setenv("PULSE_SERVER", ("unix:" + (folder_ / "native").string()).c_str(), 1);
    server_.emplace(std::vector<std::string>{"python3", VORNEL_TEST_SCRIPTED_SERVER, "--mp3",
                                             std::string(VORNEL_TEST_TONES) + "/tone440.mp3"});
  }
  void TearDown() override {
    BASS_Free();
    server_.reset();
    pulse_.reset();
    if (savedDriver_) setenv("SDL_AUDIODRIVER", savedDriver_->c_str(), 1);
    unsetenv("PULSE_SERVER");
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }

  void StartPulse() {
    pulse_.emplace(std::vector<std::string>{"python3", VORNEL_TEST_PULSE_SERVER, folder_.string()});
  }

  static bool Connected() {
    return CommandOutput("pactl list clients 2>/dev/null").find("\"Vornel\"") != std::string::npos;
  }
  static std::vector<SinkInput> Ours() {
    std::vector<SinkInput> ours;
    for (const SinkInput& input : SinkInputs())
      if (input.application == "Vornel") ours.push_back(input);
    return ours;
  }

  std::filesystem::path folder_;
  std::optional<vornel::test::ServerProcess> pulse_;
  std::optional<vornel::test::ServerProcess> server_;
  std::optional<std::string> savedDriver_;
};

TEST_F(PulseOutputTest, PlaysThroughTheServerAtTheVolumeSetAndLetsGoWhenStopped) {
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  // The start-up check leaves nothing behind: no stream and no connection while idle.
  EXPECT_TRUE(SinkInputs().empty());
  EXPECT_FALSE(Connected());

  ASSERT_TRUE(BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 50));
  const HSTREAM stream = BASS_StreamCreateURL(server_->url("/ok?seconds=30").c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  ASSERT_TRUE(WaitFor([] { return Ours().size() == 1; }, 5s));
  SinkInput input = Ours().front();
  EXPECT_FALSE(input.corked);
  // Half the amplitude is -6.02 dB, applied by the server and not a second time by the mixer:
  // the tone (about -6.4 dBFS at full volume) comes out near -12.4 dBFS.
  ASSERT_TRUE(input.decibels.has_value());
  EXPECT_NEAR(*input.decibels, -6.02, 0.05);
  double peak = 0;
  ASSERT_TRUE(WaitFor([&] { return (peak = MonitorPeak()) > 0.1; }, 5s)) << "peak " << peak;
  EXPECT_NEAR(peak, 0.24, 0.04);

  // A change reaches the stream the server already holds.
  ASSERT_TRUE(BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 100));
  EXPECT_TRUE(WaitFor(
      [] {
        const std::vector<SinkInput> ours = Ours();
        return ours.size() == 1 && ours.front().decibels && std::abs(*ours.front().decibels) < 0.01;
      },
      3s));
  ASSERT_TRUE(WaitFor([&] { return (peak = MonitorPeak()) > 0.4; }, 5s)) << "peak " << peak;

  ASSERT_TRUE(BASS_ChannelStop(stream));
  EXPECT_TRUE(WaitFor([] { return SinkInputs().empty(); }, 3s));
  EXPECT_TRUE(WaitFor([] { return !Connected(); }, 3s));
}

TEST_F(PulseOutputTest, AServerThatGoesAwayWhilePlayingHoldsUpNothing) {
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  const HSTREAM stream = BASS_StreamCreateURL(server_->url("/ok?seconds=30").c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  ASSERT_TRUE(WaitFor([] { return Ours().size() == 1; }, 5s));

  pulse_.reset();  // the sound server ends (a crash, a logout)
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(BASS_ChannelStop(stream));
  BASS_StreamFree(stream);
  EXPECT_TRUE(BASS_Free());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

TEST_F(PulseOutputTest, PlaybackComesBackWhenTheServerDoes) {
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  const HSTREAM stream = BASS_StreamCreateURL(server_->url("/ok?seconds=60").c_str(), 0, 0, nullptr, nullptr);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  ASSERT_TRUE(WaitFor([] { return Ours().size() == 1; }, 5s));

  // The desktop's sound service restarts: a new server on the same socket, nothing of ours on it.
  pulse_.reset();
  StartPulse();
  ASSERT_TRUE(SinkInputs().empty());
  // The player tries once a second, so it is back within a few.
  ASSERT_TRUE(WaitFor([] { return Ours().size() == 1; }, 5s));
  double peak = 0;
  EXPECT_TRUE(WaitFor([&] { return (peak = MonitorPeak()) > 0.4; }, 5s)) << "peak " << peak;

  ASSERT_TRUE(BASS_ChannelStop(stream));
  EXPECT_TRUE(WaitFor([] { return SinkInputs().empty() && !Connected(); }, 3s));
}

}  // namespace
