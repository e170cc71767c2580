#include "playback/recorder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

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

  // The folder the recorder is given, as a portable program folder's REC.
  std::string Rec() const { return (folder_ / "REC").string(); }

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
  Recorder recorder(Rec());
  recorder.NewRecordWriter();
  Block(recorder, "before any title");
  EXPECT_TRUE(Files().empty());

  recorder.ToggleRecording();
  recorder.NewTrack("Artist - Song");
  Block(recorder, "junk" + kMpeg1 + "tail");  // the file begins at the header
  Block(recorder, "next");
  recorder.NewTrack("Artist - Song");
  Block(recorder, "no header here");
  Block(recorder, kMpeg2Crc + "x");
  recorder.NewTrack("Artist - Song");
  Block(recorder, kMpeg1);
  recorder.OnDownloadBlock(nullptr, 0);  // the download ended

  EXPECT_EQ(Files(), (std::vector<std::string>{"Artist - Song.mp3", "Artist - Song_0.mp3", "Artist - Song_1.mp3"}));
  EXPECT_EQ(File("Artist - Song.mp3"), kMpeg1 + "tail" + "next");
  EXPECT_EQ(File("Artist - Song_0.mp3"), kMpeg2Crc + "x");
  EXPECT_EQ(File("Artist - Song_1.mp3"), kMpeg1);
}

TEST_F(RecorderTest, OffAndOnWithinATitleContinuesInASuffixedFileFromTheNextFrame) {
  Recorder recorder(Rec());
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1 + "a");
  recorder.ToggleRecording();
  Block(recorder, "lost while off");
  recorder.ToggleRecording();
  Block(recorder, "b");
  Block(recorder, kMpeg1 + "c");
  EXPECT_EQ(File("Song.mp3"), kMpeg1 + "a");
  EXPECT_EQ(File("Song_0.mp3"), kMpeg1 + "c");
}

TEST_F(RecorderTest, StationChangeWaitsForTheNewTitle) {
  Recorder recorder(Rec());
  recorder.ToggleRecording();
  recorder.NewTrack("Old station");
  Block(recorder, kMpeg1 + "old");
  recorder.OnDownloadBlock(nullptr, 0);
  recorder.NewRecordWriter();  // the next station
  Block(recorder, kMpeg1 + "nothing yet");
  recorder.NewTrack("New title");
  Block(recorder, kMpeg1 + "new");
  EXPECT_EQ(Files(), (std::vector<std::string>{"New title.mp3", "Old station.mp3"}));
  EXPECT_EQ(File("Old station.mp3"), kMpeg1 + "old");
  EXPECT_EQ(File("New title.mp3"), kMpeg1 + "new");
}

TEST_F(RecorderTest, AFileThatCannotBeMadeEndsRecordingOnceAndIsTold) {
  fs::remove_all(folder_ / "REC");
  Recorder recorder(Rec());
  int told = 0;
  recorder.setFailureHandler([&](Recorder::Failure failure, const std::string& name, std::error_code error) {
    ++told;
    EXPECT_EQ(failure, Recorder::Failure::CannotOpen);
    EXPECT_NE(name.find("Song.mp3"), std::string::npos);
    EXPECT_TRUE(error);
  });
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1);
  EXPECT_FALSE(recorder.isRecording());
  fs::create_directories(folder_ / "REC");
  Block(recorder, kMpeg1 + "later");  // off now: nothing tries again
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(Files().empty());
  recorder.ToggleRecording();  // the user tries again
  Block(recorder, kMpeg1 + "again");
  EXPECT_EQ(File("Song.mp3"), kMpeg1 + "again");
}

TEST_F(RecorderTest, NamesTheFileSystemCannotHoldAreMadeSafe) {
  const std::string longTitle(400, 'x');
  const std::string cyrillic = std::string(300, 'a') + "Ж";
  EXPECT_EQ(fs::path(Recorder::MakeRecordFileName(Rec(), longTitle)).filename().string().size(), 244u + 4);
  const std::string name = fs::path(Recorder::MakeRecordFileName(Rec(), "a\tb\x01/c")).filename().string();
  EXPECT_EQ(name, "abc.mp3");
  EXPECT_EQ(fs::path(Recorder::MakeRecordFileName(Rec(), "")).filename().string(), "_.mp3");
  EXPECT_EQ(fs::path(Recorder::MakeRecordFileName(Rec(), "..")).filename().string(), "_.mp3");
  // Cut at a character boundary, never inside a multi-byte character.
  const std::string cut =
      fs::path(Recorder::MakeRecordFileName(Rec(), std::string(243, 'a') + "Ж")).filename().string();
  EXPECT_EQ(cut, std::string(243, 'a') + ".mp3");
}

// An Ogg page as the library hands it out: header, lacing values, then the packets.
std::string OggPage(std::uint32_t serial, bool first, const std::vector<std::string>& packets) {
  std::string lacing;
  std::string body;
  for (const std::string& packet : packets) {
    std::size_t left = packet.size();
    while (left >= 255) {
      lacing.push_back(static_cast<char>(255));
      left -= 255;
    }
    lacing.push_back(static_cast<char>(left));
    body += packet;
  }
  std::string page = "OggS";
  page.push_back('\0');
  page.push_back(first ? '\x02' : '\0');
  page += std::string(8, '\0');  // granule position
  for (int i = 0; i < 4; ++i) page.push_back(static_cast<char>(serial >> (8 * i)));
  page += std::string(8, '\0');  // sequence number and checksum
  page.push_back(static_cast<char>(lacing.size()));
  return page + lacing + body;
}

TEST_F(RecorderTest, EachFormatHasItsExtension) {
  const std::string adts = Bytes({0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC}) + std::string(9, 'a');
  const std::string opus = OggPage(7, true, {std::string("OpusHead\x01\x02", 10) + std::string(9, '\0')});
  const struct {
    std::string firstBlock;
    const char* file;
  } cases[] = {{kMpeg1 + "x", "T.mp3"}, {"tag" + adts, "T.aac"}, {opus, "T.opus"},
               {OggPage(7, true, {"\x01vorbis" + std::string(23, '\0')}), "T.ogg"}};
  for (const auto& c : cases) {
    fs::remove_all(folder_ / "REC");
    fs::create_directories(folder_ / "REC");
    Recorder recorder(Rec());
    recorder.NewRecordWriter();
    recorder.ToggleRecording();
    Block(recorder, c.firstBlock);
    recorder.NewTrack("T");
    Block(recorder, c.firstBlock);
    EXPECT_EQ(Files(), std::vector<std::string>{c.file});
  }
}

TEST_F(RecorderTest, AnOggFileCutFromTheMiddleBeginsWithTheHeaderPagesOfItsTrack) {
  const std::string idA = OggPage(1, true, {"\x01vorbis" + std::string(23, 'A')});
  const std::string restA = OggPage(1, false, {"\x03vorbis comments A", "\x05vorbis setup A"});
  const std::string idB = OggPage(2, true, {"\x01vorbis" + std::string(23, 'B')});
  const std::string restB = OggPage(2, false, {"\x03vorbis comments B", std::string(300, 's')});
  const std::string audioA1 = OggPage(1, false, {"a1"});
  const std::string audioA2 = OggPage(1, false, {"a2"});
  const std::string audioB = OggPage(2, false, {"b1"});

  Recorder recorder(Rec());
  recorder.NewRecordWriter();
  recorder.ToggleRecording();
  Block(recorder, idA);
  Block(recorder, restA);
  Block(recorder, audioA1);
  recorder.NewTrack("Middle of A");
  Block(recorder, audioA2);
  // The next track of the chain: its headers come before its title does.
  Block(recorder, idB);
  Block(recorder, restB);
  recorder.NewTrack("B");
  Block(recorder, audioB);
  // A title that comes just before a track's first page starts the file with that page.
  recorder.NewTrack("Again");
  Block(recorder, idA + restA + audioA1);

  EXPECT_EQ(File("Middle of A.ogg"), idA + restA + audioA2 + idB + restB);
  EXPECT_EQ(File("B.ogg"), idB + restB + audioB);
  EXPECT_EQ(File("Again.ogg"), idA + restA + audioA1);
}

TEST_F(RecorderTest, AReconnectWithTheSameTitleGoesOnInTheSameFileFromTheFirstFrame) {
  Recorder recorder(Rec());
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1 + "one");
  recorder.OnDownloadBlock(nullptr, 0);  // the connection dropped
  recorder.ContinueAfterReconnect();
  Block(recorder, "cut frame" + kMpeg1 + "before the title");
  recorder.NewTrack("Song");
  Block(recorder, "two");
  const std::string song = kMpeg1 + "one" + kMpeg1 + "before the title" + "two";
  EXPECT_EQ(Files(), std::vector<std::string>{"Song.mp3"});
  EXPECT_EQ(File("Song.mp3"), song);

  // Another title after the next drop: a file of its own.
  recorder.OnDownloadBlock(nullptr, 0);
  recorder.ContinueAfterReconnect();
  recorder.NewTrack("Other");
  Block(recorder, kMpeg1 + "three");
  EXPECT_EQ(File("Song.mp3"), song);
  EXPECT_EQ(File("Other.mp3"), kMpeg1 + "three");
}

TEST_F(RecorderTest, StopClosesTheFileAndTheNextPlayStartsANewOne) {
  Recorder recorder(Rec());
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1 + "one");
  recorder.CloseFile();
  recorder.WaitForDisk();
  recorder.NewRecordWriter();
  recorder.NewTrack("Song");
  Block(recorder, kMpeg1 + "two");
  EXPECT_EQ(File("Song.mp3"), kMpeg1 + "one");
  EXPECT_EQ(File("Song_0.mp3"), kMpeg1 + "two");
}

// A full disk, as a file-size limit shows it: the file keeps every whole block written before,
// recording ends, and the failure is told once.
TEST_F(RecorderTest, AFullDiskEndsRecordingWithTheWholeBlocksKept) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  Recorder recorder(Rec());  // from here a write past the limit fails instead of a signal
  std::vector<Recorder::Failure> told;
  recorder.setFailureHandler([&](Recorder::Failure failure, const std::string&, std::error_code) {
    told.push_back(failure);
  });
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  const std::string block = kMpeg1 + std::string(996, 'a');
  rlimit limited = saved;
  limited.rlim_cur = 2500;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  for (int i = 0; i < 5; ++i) Block(recorder, block);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(told, std::vector<Recorder::Failure>{Recorder::Failure::CannotWrite});
  EXPECT_FALSE(recorder.isRecording());
  EXPECT_EQ(File("Song.mp3"), block + block);
}

TEST_F(RecorderTest, ARecFolderThatIsNoFolderEndsRecording) {
  fs::remove_all(folder_ / "REC");
  std::ofstream(folder_ / "REC") << "a file where the folder should be";
  Recorder recorder(Rec());
  int told = 0;
  recorder.setFailureHandler([&](Recorder::Failure, const std::string&, std::error_code) { ++told; });
  recorder.ToggleRecording();
  recorder.NewTrack("Song");
  for (int i = 0; i < 3; ++i) Block(recorder, kMpeg1);
  EXPECT_EQ(told, 1);
  EXPECT_FALSE(recorder.isRecording());
}

// Killed at any moment, a recording is whole blocks up to the last one written.
TEST_F(RecorderTest, AKilledRecorderLeavesWholeBlocks) {
  const std::string block = kMpeg1 + std::string(4092, 'b');
  for (int round = 0; round < 5; ++round) {
    fs::remove_all(folder_ / "REC");
    fs::create_directories(folder_ / "REC");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Recorder recorder(Rec());
      recorder.ToggleRecording();
      recorder.NewTrack("Killed");
      for (;;) Block(recorder, block);
    }
    // Killed once it has begun writing, a little later each round.
    const auto started = std::chrono::steady_clock::now();
    std::error_code error;
    while (fs::file_size(folder_ / "REC" / "Killed.mp3", error) == 0 || error) {
      if (std::chrono::steady_clock::now() - started > std::chrono::seconds(20)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string content = File("Killed.mp3");
    ASSERT_GT(content.size(), 0u) << round;
    EXPECT_EQ(content.size() % block.size(), 0u) << round;
    for (std::size_t at = 0; at + block.size() <= content.size(); at += block.size()) {
      ASSERT_EQ(content.compare(at, block.size(), block), 0) << round << " at " << at;
    }
  }
}

// Blocks, titles and the record button from their own threads, as in the player: every byte
// written lands in some file, and nothing tears (ThreadSanitizer checks the rest).
TEST_F(RecorderTest, BlocksTitlesAndTheButtonFromThreads) {
  Recorder recorder(Rec());
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
    // Each file is whole blocks.
    EXPECT_EQ(content.size() % block.size(), 0u) << name << " " << content.size();
  }
}

}  // namespace
}  // namespace vornel::playback
