// The audio library as a shared library: what it exports and how its device functions answer.
// Runs with SDL's dummy output (set by the test environment), so no sound card is needed.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "bass.h"

namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + library + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return names;
  char line[512];
  while (fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::string text(line);
    const auto last = text.find_last_of(' ');
    std::string name = text.substr(last + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    names.insert(name);
  }
  return names;
}

TEST(BassLibrary, ExportsExactlyTheElevenFunctions) {
  const std::set<std::string> expected = {
      "BASS_GetVersion",     "BASS_Init",           "BASS_Free",        "BASS_SetConfig",
      "BASS_StreamCreateURL", "BASS_ChannelGetTags", "BASS_ChannelSetSync", "BASS_ChannelPlay",
      "BASS_ChannelStop",    "BASS_StreamFree",     "BASS_ChannelIsActive"};
  std::set<std::string> exported = DefinedDynamicSymbols(VORNEL_TEST_REAL_AUDIO_LIBRARY);
  // The linker's own version node is not a symbol of ours.
  exported.erase("VERS_1");
  std::erase_if(exported, [](const std::string& s) { return s.empty(); });
  EXPECT_EQ(exported, expected);
}

TEST(BassLibrary, ReportsVersion2303) { EXPECT_EQ(BASS_GetVersion(), 0x02030003u); }

TEST(BassLibrary, InitOpensTheOutputAndFreeReleasesIt) {
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  EXPECT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));  // already open
  EXPECT_TRUE(BASS_Free());
  EXPECT_TRUE(BASS_Free());  // and again: harmless
  EXPECT_FALSE(BASS_Init(7, 44100, 0, nullptr, nullptr));  // no other devices on offer
}

TEST(BassLibrary, InitFailsWhenNoDeviceCanBeOpened) {
  const char* saved = std::getenv("SDL_AUDIODRIVER");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  if (previous.empty()) {
    unsetenv("SDL_AUDIODRIVER");
  } else {
    setenv("SDL_AUDIODRIVER", previous.c_str(), 1);
  }
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  BASS_Free();
}

TEST(BassLibrary, VolumeIsTheOnlyConfigOption) {
  EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 0));
  EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 100));
  EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, 250));
  EXPECT_FALSE(BASS_SetConfig(1, 10));
}

TEST(BassLibrary, StreamFunctionsAreHarmlessWithNoStream) {
  ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(BASS_StreamCreateURL("http://127.0.0.1:9/", 0, BASS_STREAMFLAG_BLOCKS, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ChannelIsActive(0), BASS_STATE_STOPPED);
  EXPECT_EQ(BASS_ChannelGetTags(0, BASS_TAGS_HEADERS), nullptr);
  EXPECT_EQ(BASS_ChannelGetTags(0, BASS_TAGS_META), nullptr);
  EXPECT_EQ(BASS_ChannelSetSync(0, BASS_SYNC_METADATA, 0, nullptr, nullptr), 0u);
  EXPECT_FALSE(BASS_ChannelPlay(0, 0));
  BASS_ChannelStop(0);
  BASS_StreamFree(0);
  BASS_StreamFree(12345);
  EXPECT_TRUE(BASS_Free());
}

}  // namespace
