#include "playback/recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace vornel::playback {
namespace {

namespace fs = std::filesystem;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest() {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("vornel-rec-" + std::to_string(random()));
    fs::create_directories(folder_ / "REC");
  }
  ~RecorderTest() override { fs::remove_all(folder_); }

  void Block(Recorder& recorder, const std::string& bytes) {
    recorder.OnDownloadBlock(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::string File(const std::string& name) {
    std::ifstream in(folder_ / "REC" / name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_ / "REC")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
};

// MPEG-1 Layer III header bytes, and an MPEG-2 one with checksum (22/24 kHz stations).
const std::string kMpeg1 = Bytes({0xFF, 0xFB, 0x90, 0x64});
const std::string kMpeg2Crc = Bytes({0xFF, 0xF2, 0x50, 0xC4});

TEST_F(RecorderTest, OneFilePerTitleStartingAtAFrameHeader) {
  Recorder recorder(folder_.string());
  recorder.NewRecordWriter();
  Block(recorder, "before any title");
  EXPECT_TRUE(Files().empty());

  recorder.ToggleRecording();
  recorder.NewTrack("Artist - Song");
  Block(recorder, "junk" + kMpeg1 + "tail");  // the whole block follows the three bytes
  Block(recorder, "next");
  recorder.NewTrack("Artist - Song");
  Block(recorder, "no header here");
  Block(recorder, kMpeg2Crc + "x");
  recorder.NewTrack("Artist - Song");
  Block(recorder, kMpeg1);
  recorder.OnDownloadBlock(nullptr, 0);  // the download ended

  EXPECT_EQ(Files(), (std::vector<std::string>{"Artist - Song.mp3", "Artist - Song_0.mp3", "Artist - Song_1.mp3"}));
  EXPECT_EQ(File("Artist - Song.mp3"), kMpeg1.substr(0, 3) + "junk" + kMpeg1 + "tail" + "next");
  EXPECT_EQ(File("Artist - Song_0.mp3"), kMpeg2Crc.substr(0, 3) + kMpeg2Crc + "x");
  EXPECT_EQ(File("Artist - Song_1.mp3"), kMpeg1.substr(0, 3) + kMpeg1);
}

TEST_F(RecorderTest, OffAndOnWithinATitleContinuesInASuffixedFileWithoutPrefix) {
  Recorder recorder(folder_.string());
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1 + "a");
  recorder.ToggleRecording();
  Block(recorder, "lost while off");
  recorder.ToggleRecording();
  Block(recorder, "b");
  EXPECT_EQ(File("Song.mp3"), kMpeg1.substr(0, 3) + kMpeg1 + "a");
  EXPECT_EQ(File("Song_0.mp3"), "b");
}

TEST_F(RecorderTest, StationChangeWaitsForTheNewTitle) {
  Recorder recorder(folder_.string());
  recorder.ToggleRecording();
  recorder.NewTrack("Old station");
  Block(recorder, kMpeg1 + "old");
  recorder.OnDownloadBlock(nullptr, 0);
  recorder.NewRecordWriter();  // the next station
  Block(recorder, kMpeg1 + "nothing yet");
  recorder.NewTrack("New title");
  Block(recorder, kMpeg1 + "new");
  EXPECT_EQ(Files(), (std::vector<std::string>{"New title.mp3", "Old station.mp3"}));
  EXPECT_EQ(File("Old station.mp3"), kMpeg1.substr(0, 3) + kMpeg1 + "old");
  EXPECT_EQ(File("New title.mp3"), kMpeg1.substr(0, 3) + kMpeg1 + "new");
}

TEST_F(RecorderTest, MissingFolderRecordsNothingAndRetries) {
  fs::remove_all(folder_ / "REC");
  Recorder recorder(folder_.string());
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1);
  EXPECT_FALSE(fs::exists(folder_ / "REC"));
  fs::create_directories(folder_ / "REC");
  Block(recorder, kMpeg1 + "later");  // the next block tries again
  EXPECT_EQ(File("Song.mp3"), kMpeg1.substr(0, 3) + kMpeg1 + "later");
}

TEST_F(RecorderTest, NamesTheFileSystemCannotHoldAreMadeSafe) {
  const std::string longTitle(400, 'x');
  const std::string cyrillic = std::string(300, 'a') + "Ж";
  EXPECT_EQ(fs::path(Recorder::MakeRecordFileName(folder_.string(), longTitle)).filename().string().size(), 245u + 4);
  const std::string name = fs::path(Recorder::MakeRecordFileName(folder_.string(), "a\tb\x01/c")).filename().string();
  EXPECT_EQ(name, "abc.mp3");
  EXPECT_EQ(fs::path(Recorder::MakeRecordFileName(folder_.string(), "")).filename().string(), "_.mp3");
  EXPECT_EQ(fs::path(Recorder::MakeRecordFileName(folder_.string(), "..")).filename().string(), "_.mp3");
  // Cut at a character boundary, never inside a multi-byte character.
  const std::string cut = fs::path(Recorder::MakeRecordFileName(folder_.string(), std::string(244, 'a') + "Ж"))
                              .filename()
                              .string();
  EXPECT_EQ(cut, std::string(244, 'a') + ".mp3");
}

// Blocks, titles and the record button from their own threads, as in the player: every byte
// written lands in some file, and nothing tears (ThreadSanitizer checks the rest).
TEST_F(RecorderTest, BlocksTitlesAndTheButtonFromThreads) {
  Recorder recorder(folder_.string());
  recorder.ToggleRecording();
  recorder.NewTrack("Start");
  std::atomic<bool> done{false};
  std::thread titles([&] {
    for (int i = 0; !done; ++i) {
      recorder.NewTrack("Title " + std::to_string(i % 5));
      std::this_thread::yield();
    }
  });
  std::thread button([&] {
    for (int i = 0; i < 200; ++i) {
      recorder.ToggleRecording();
      recorder.SetStatusText("Status " + std::to_string(i));
      if (i % 50 == 0) recorder.NewRecordWriter();  // a station change
      std::this_thread::yield();
    }
  });
  const std::string block = kMpeg1 + std::string(100, 'z');
  for (int i = 0; i < 2000; ++i) Block(recorder, block);
  done = true;
  titles.join();
  button.join();
  recorder.OnDownloadBlock(nullptr, 0);
  for (const std::string& name : Files()) {
    const std::string content = File(name);
    // Each file is a prefix (maybe) and whole blocks.
    const std::size_t rest = content.size() % block.size();
    EXPECT_TRUE(rest == 0 || rest == 3) << name << " " << content.size();
  }
}

}  // namespace
}  // namespace vornel::playback
