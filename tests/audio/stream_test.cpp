// The library against a scripted server on loopback: what a station that behaves, and one that
// does not, gets from each exported function.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"
#include "support/server_process.h"
#include "support/stream_capture.h"
#include "support/waiting.h"

namespace {

using namespace std::chrono_literals;
using vornel::test::WaitFor;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using vornel::test::Received;

std::vector<std::string> HeaderLines(HSTREAM stream) {
  std::vector<std::string> lines;
  for (const char* p = BASS_ChannelGetTags(stream, BASS_TAGS_HEADERS); p != nullptr && *p != '\0';
       p += std::strlen(p) + 1)
    lines.emplace_back(p);
  return lines;
}

class StreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    mp3_ = ReadFile(std::string(VORNEL_TEST_TONES) + "/tone440.mp3");
    server_ = new vornel::test::ServerProcess(
        {"python3", VORNEL_TEST_SCRIPTED_SERVER, "--mp3", std::string(VORNEL_TEST_TONES) + "/tone440.mp3"});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr)); }
  void TearDown() override { BASS_Free(); }

  HSTREAM Open(const std::string& path, Received& received) {
    return BASS_StreamCreateURL(server_->url(path).c_str(), 0, BASS_STREAMFLAG_BLOCKS, Received::OnBlock,
                                &received);
  }
  // The audio bytes the server sends: the file from its start, looped.
  static std::string Expected(std::size_t size, const std::string& prefix = "") {
    std::string out = prefix;
    while (out.size() < size) out += mp3_;
    out.resize(size);
    return out;
  }

  static inline std::string mp3_;
  static inline vornel::test::ServerProcess* server_ = nullptr;
};

TEST_F(StreamTest, AWellBehavedStationPlaysWithHeadersTitleAndExactAudio) {
  Received received;
  const auto started = std::chrono::steady_clock::now();
  const HSTREAM stream = Open("/ok?seconds=3", received);
  ASSERT_NE(stream, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);

  const std::vector<std::string> headers = HeaderLines(stream);
  ASSERT_FALSE(headers.empty());
  EXPECT_EQ(headers[0], "HTTP/1.0 200 OK");
  EXPECT_NE(std::find(headers.begin(), headers.end(), "icy-name: Scripted Station"), headers.end());
  ASSERT_NE(BASS_ChannelGetTags(stream, BASS_TAGS_META), nullptr);
  EXPECT_STREQ(BASS_ChannelGetTags(stream, BASS_TAGS_META), "StreamTitle='Artist - Song';");
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_STOPPED);  // not played yet

  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_METADATA, 0, Received::OnTitle, &received), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_PLAYING);

  // The server closes after three seconds; the buffered audio then plays out.
  ASSERT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(stream) == BASS_STATE_STOPPED; }, 15s));
  EXPECT_FALSE(BASS_ChannelPlay(stream, 0)) << "an ended stream has nothing to play";
  {
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.ends, 1);
    EXPECT_FALSE(received.blockAfterEnd);
    ASSERT_GT(received.audio.size(), 64u * 1024);
    EXPECT_TRUE(received.audio == Expected(received.audio.size())) << "audio bytes differ from what was sent";
    EXPECT_TRUE(received.titles.empty());  // the one title came before the sync was set
  }
  EXPECT_TRUE(BASS_StreamFree(stream));
  EXPECT_FALSE(BASS_StreamFree(stream));  // already gone: harmless
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_STOPPED);
}

TEST_F(StreamTest, TitleChangesReachTheSyncOnceEachInOrder) {
  Received received;
  const HSTREAM stream = Open("/meta-split?blocks=5", received);
  ASSERT_NE(stream, 0u);
  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_METADATA, 0, Received::OnTitle, &received), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, 0));
  ASSERT_TRUE(WaitFor([&] { return received.titleCount() >= 4; }, 20s));
  BASS_StreamFree(stream);
  std::lock_guard lock(received.mutex);
  const std::string first = BASS_ChannelGetTags(stream, BASS_TAGS_META) == nullptr ? "" : "unexpected";
  EXPECT_EQ(first, "");  // freed: no tags
  for (std::size_t i = 1; i < received.titles.size(); ++i)
    EXPECT_NE(received.titles[i], received.titles[i - 1]);
  EXPECT_EQ(received.titles.back().rfind("StreamTitle='Split ", 0), 0u) << received.titles.back();
}

TEST_F(StreamTest, ARepeatedTitleIsNoChangeAndLongestTitlesArriveWhole) {
  Received repeated;
  const HSTREAM repeat = Open("/repeat?blocks=6&burst=8192", repeated);
  ASSERT_NE(repeat, 0u);
  BASS_ChannelSetSync(repeat, BASS_SYNC_METADATA, 0, Received::OnTitle, &repeated);
  BASS_ChannelPlay(repeat, 0);

  Received longest;
  const HSTREAM max = Open("/meta-max?blocks=4&burst=8192", longest);
  ASSERT_NE(max, 0u);
  BASS_ChannelSetSync(max, BASS_SYNC_METADATA, 0, Received::OnTitle, &longest);
  BASS_ChannelPlay(max, 0);
  ASSERT_TRUE(WaitFor([&] { return longest.titleCount() >= 3; }, 20s));
  ASSERT_TRUE(WaitFor([&] { return repeated.endCount() == 1; }, 20s));
  BASS_StreamFree(max);
  BASS_StreamFree(repeat);
  EXPECT_EQ(repeated.titleCount(), 0u);
  for (const std::string& title : longest.titles) EXPECT_GT(title.size(), 3900u);
}

TEST_F(StreamTest, MetaintOfOneAndStationsWithoutMetadata) {
  Received one;
  const HSTREAM stream = Open("/metaint1?bytes=40000", one);
  ASSERT_NE(stream, 0u);
  BASS_ChannelPlay(stream, 0);
  ASSERT_TRUE(WaitFor([&] { return one.endCount() == 1; }, 20s));
  EXPECT_EQ(one.audio.size(), 40000u);
  EXPECT_TRUE(one.audio == Expected(40000));
  BASS_StreamFree(stream);

  for (const char* path : {"/meta-zero?blocks=4", "/no-metaint?seconds=1"}) {
    Received none;
    const HSTREAM s = Open(path, none);
    ASSERT_NE(s, 0u) << path;
    EXPECT_EQ(BASS_ChannelGetTags(s, BASS_TAGS_META), nullptr) << path;
    BASS_ChannelPlay(s, 0);
    ASSERT_TRUE(WaitFor([&] { return none.endCount() == 1; }, 20s)) << path;
    EXPECT_TRUE(none.audio == Expected(none.audio.size())) << path;
    BASS_StreamFree(s);
  }
}

TEST_F(StreamTest, OldIcyStatusLineRedirectsAndAnId3TagAreAccepted) {
  for (const char* path :
       {"/icy?seconds=1", "/redirect?seconds=1", "/redirect-abs?seconds=1", "/id3?seconds=1"}) {
    Received received;
    const HSTREAM stream = Open(path, received);
    ASSERT_NE(stream, 0u) << path;
    const std::vector<std::string> headers = HeaderLines(stream);
    ASSERT_FALSE(headers.empty());
    if (std::string(path).rfind("/icy", 0) == 0) {
      EXPECT_EQ(headers[0], "ICY 200 OK");
    }
    if (std::string(path).rfind("/redirect", 0) == 0) {
      EXPECT_EQ(headers[0].find("302"), std::string::npos);  // the last response's headers
    }
    BASS_ChannelPlay(stream, 0);
    ASSERT_TRUE(WaitFor([&] { return received.endCount() == 1; }, 20s)) << path;
    if (std::string(path).rfind("/id3", 0) == 0) {
      EXPECT_EQ(received.audio.substr(0, 3), "ID3");
      EXPECT_NE(received.audio.find(mp3_.substr(0, 4096)), std::string::npos);
    } else {
      EXPECT_TRUE(received.audio == Expected(received.audio.size())) << path;
    }
    BASS_StreamFree(stream);
  }
}

TEST_F(StreamTest, WhatIsNotAPlayableStationGivesNoHandleAndNoCallback) {
  const std::vector<std::string> paths = {"/icy404",        "/404",     "/500",          "/html",
                                          "/html-as-audio", "/garbage", "/header-flood", "/redirect-loop"};
  for (const std::string& path : paths) {
    Received received;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(path, received), 0u) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << path;
    EXPECT_EQ(received.audioSize(), 0u) << path;
    EXPECT_EQ(received.endCount(), 0) << path;
  }
  Received refused;
  EXPECT_EQ(
      BASS_StreamCreateURL("http://127.0.0.1:1/", 0, BASS_STREAMFLAG_BLOCKS, Received::OnBlock, &refused),
      0u);
  EXPECT_EQ(BASS_StreamCreateURL("ftp://127.0.0.1/x.mp3", 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_StreamCreateURL(nullptr, 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr), 0u);
}

TEST_F(StreamTest, AStationThatNeverAnswersTimesOut) {
  Received received;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Open("/silent", received), 0u);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 7s);
  EXPECT_LT(took, 10s);
}

TEST_F(StreamTest, ServerClosingMidFrameOrMidMetadataEndsTheStreamInOrder) {
  for (const char* path : {"/close-mid-frame", "/close-mid-meta"}) {
    Received received;
    const HSTREAM stream = Open(path, received);
    if (stream == 0) continue;  // too short to prove itself MP3: refused, also in order
    BASS_ChannelPlay(stream, 0);
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(stream) == BASS_STATE_STOPPED; }, 10s)) << path;
    {
      std::lock_guard lock(received.mutex);
      EXPECT_EQ(received.ends, 1) << path;
      EXPECT_TRUE(received.audio == Expected(received.audio.size())) << path;
    }
    BASS_StreamFree(stream);
  }
}

TEST_F(StreamTest, AStalledStationReportsStalledAndFreesPromptly) {
  Received received;
  const HSTREAM stream = Open("/stall", received);
  ASSERT_NE(stream, 0u);
  BASS_ChannelPlay(stream, 0);
  ASSERT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(stream) == BASS_STATE_STALLED; }, 9s));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(BASS_StreamFree(stream));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  std::lock_guard lock(received.mutex);
  EXPECT_EQ(received.ends, 1);
}

TEST_F(StreamTest, StopEndsTheDownloadOnceAndEverythingIsHarmlessAfterwards) {
  Received received;
  const HSTREAM stream = Open("/ok?seconds=30", received);
  ASSERT_NE(stream, 0u);
  BASS_ChannelPlay(stream, 0);
  EXPECT_TRUE(BASS_ChannelStop(stream));
  EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_STATE_STOPPED);
  EXPECT_FALSE(BASS_ChannelPlay(stream, 0)) << "a stopped stream has nothing to play";
  {
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.ends, 1);
  }
  BASS_ChannelStop(stream);
  BASS_ChannelStop(0);
  EXPECT_TRUE(BASS_StreamFree(stream));
  BASS_StreamFree(0);
  std::lock_guard lock(received.mutex);
  EXPECT_EQ(received.ends, 1);
}

// SDL's audio thread runs while the device is open and wakes the process many times a second:
// an idle player must not have it.
int AudioThreads() {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name.rfind("SDLAudio", 0) == 0) ++count;
  }
  return count;
}

TEST_F(StreamTest, TheDeviceIsHeldOnlyWhileAStreamPlays) {
  EXPECT_EQ(AudioThreads(), 0) << "initialised, nothing playing";
  Received first;
  Received second;
  const HSTREAM a = Open("/ok?seconds=30", first);
  const HSTREAM b = Open("/ok?seconds=30", second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(AudioThreads(), 0) << "connected, not playing";
  ASSERT_TRUE(BASS_ChannelPlay(a, 0));
  ASSERT_TRUE(BASS_ChannelPlay(b, 0));
  // The thread names itself once it runs.
  EXPECT_TRUE(vornel::test::WaitFor([] { return AudioThreads() == 1; }, 5s));
  EXPECT_TRUE(BASS_ChannelStop(a));
  EXPECT_EQ(AudioThreads(), 1) << "the other stream still plays";
  EXPECT_TRUE(BASS_StreamFree(b));
  EXPECT_TRUE(vornel::test::WaitFor([] { return AudioThreads() == 0; }, 5s)) << "the last one has gone";

  // The next stream opens the device again and is heard.
  Received third;
  const HSTREAM c = Open("/ok?seconds=30", third);
  ASSERT_NE(c, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(c, 0));
  EXPECT_TRUE(vornel::test::WaitFor([] { return AudioThreads() == 1; }, 5s));
  EXPECT_EQ(BASS_ChannelIsActive(c), BASS_STATE_PLAYING);
  BASS_StreamFree(a);
  BASS_StreamFree(c);
  EXPECT_TRUE(vornel::test::WaitFor([] { return AudioThreads() == 0; }, 5s));
}

// Many streams in a row, with titles changing while blocks flow: run under the sanitizers this
// is the library's race and leak check.
TEST_F(StreamTest, CreatePlayRetitleStopAndFreeInALoop) {
  for (int i = 0; i < 200; ++i) {
    Received received;
    const HSTREAM stream = Open("/ok?seconds=5&change=1", received);
    ASSERT_NE(stream, 0u) << i;
    BASS_ChannelSetSync(stream, BASS_SYNC_METADATA, 0, Received::OnTitle, &received);
    BASS_ChannelPlay(stream, 0);
    BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, static_cast<DWORD>(i % 101));
    std::this_thread::sleep_for(std::chrono::milliseconds(i % 7 * 5));
    (void)BASS_ChannelGetTags(stream, BASS_TAGS_META);
    if (i % 2 == 0) BASS_ChannelStop(stream);
    BASS_StreamFree(stream);
    std::lock_guard lock(received.mutex);
    ASSERT_EQ(received.ends, 1) << i;
  }
}

}  // namespace
