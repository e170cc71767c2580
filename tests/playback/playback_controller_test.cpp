// The playback controller without any window: the real audio library, a scripted station on
// loopback that drops its listeners and comes back, and the controller's signals.

#include "playback/playback_controller.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <random>

#include "bass.h"
#include "support/files.h"
#include "support/linked_audio_library.h"
#include "support/server_process.h"

namespace vornel::playback {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::ReadWholeFile;

class PlaybackControllerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tone_ = std::string(VORNEL_TEST_TONES) + "/tone440.mp3";
    server_ = new test::ServerProcess({"python3", VORNEL_TEST_SCRIPTED_SERVER, "--mp3", tone_});
  }
  static void TearDownTestSuite() { delete server_; }

  PlaybackControllerTest() {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("vornel-controller-" + std::to_string(random()));
    fs::create_directories(folder_ / "REC");
  }
  ~PlaybackControllerTest() override { fs::remove_all(folder_); }

  void SetUp() override {
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr));
    recorder_ = std::make_unique<Recorder>((folder_ / "REC").string());
    controller_ = std::make_unique<PlaybackController>(bass_, *recorder_);
    QObject::connect(controller_.get(), &PlaybackController::statusChanged,
                     [this](const QString& text) { statuses_.push_back(text); });
  }
  void TearDown() override {
    BASS_Free();
    controller_->LibraryReleased();
    controller_.reset();
    recorder_.reset();
  }

  // A station of one flaky stream, with a key of its own so that each test runs its own plan.
  StationChoice Flaky(const std::string& query) {
    static int keys = 0;
    return {QStringLiteral("Flaky"),
            {{server_->url("/flaky?key=k" + std::to_string(++keys) + "&" + query), 128}}};
  }
  bool WaitForStatus(const QString& text, std::chrono::milliseconds limit = 20s) {
    return QTest::qWaitFor([&] { return !statuses_.empty() && statuses_.back() == text; },
                           static_cast<int>(limit.count()));
  }
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_ / "REC"))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static inline std::string tone_;
  static inline test::ServerProcess* server_ = nullptr;
  BassApi bass_ = test::LinkedAudioLibrary();
  fs::path folder_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<PlaybackController> controller_;
  std::vector<QString> statuses_;
};

// The server closes, refuses twice and comes back: the controller tries after 0.5, 1 and 2 s,
// says so meanwhile, and the recording of the title goes on in the same file.
TEST_F(PlaybackControllerTest, ReconnectsWithBackoffAndTheRecordingGoesOn) {
  QSignalSpy lamp(controller_.get(), &PlaybackController::lampChanged);
  recorder_->ToggleRecording();
  controller_->Play(Flaky("drops=1&down=2&seconds=1&burst=16384"), 0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  EXPECT_EQ(controller_->state(), PlaybackController::State::Playing);
  EXPECT_EQ(statuses_.front(), PlaybackController::StatusConnecting());
  const DWORD first = controller_->channel();

  ASSERT_TRUE(WaitForStatus(PlaybackController::StatusReconnecting()));
  const auto dropped = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  const auto back = std::chrono::steady_clock::now() - dropped;
  // Two refused tries (0.5 s and 1 s), then the third after 2 s more.
  EXPECT_GE(back, 3s);
  EXPECT_LT(back, 10s);
  EXPECT_NE(controller_->channel(), first);
  EXPECT_EQ(controller_->state(), PlaybackController::State::Playing);
  for (int i = 0; i < lamp.count(); ++i) EXPECT_TRUE(lamp.at(i).at(0).toBool()) << "the lamp stays lit";

  QTest::qWait(1500);
  controller_->Stop();
  recorder_->WaitForDisk();
  ASSERT_EQ(Files(), std::vector<std::string>{"Artist - Song.mp3"});
  // Each connection sends the file from its start: the recording is a stretch of the first
  // connection's bytes (from the frame where its title came), then the second connection's from
  // its first frame on, nothing more.
  const std::string recorded = ReadWholeFile(folder_ / "REC" / "Artist - Song.mp3");
  std::string sent;
  while (sent.size() < 2 * recorded.size()) sent += ReadWholeFile(tone_);
  ASSERT_GT(recorded.size(), 4096u);
  const std::size_t at = sent.find(recorded.substr(0, 4096));
  ASSERT_NE(at, std::string::npos);
  std::size_t common = 0;
  while (common < recorded.size() && recorded[common] == sent[at + common]) ++common;
  ASSERT_GT(common, 8192u);
  // The second part begins with a frame header like the first part's next frame: the common run
  // may reach a few bytes into it.
  bool joined = false;
  for (std::size_t split = common; split + 16 > common && !joined && split < recorded.size(); --split) {
    joined = recorded.compare(split, std::string::npos, sent, 0, recorded.size() - split) == 0;
  }
  EXPECT_TRUE(joined) << "after the first connection's " << common << " bytes of " << recorded.size();
}

TEST_F(PlaybackControllerTest, StopAndAnotherStationEndTheTries) {
  controller_->Play(Flaky("drops=1&down=1000&seconds=0.5&burst=8192"), 0);
  ASSERT_TRUE(WaitForStatus(PlaybackController::StatusReconnecting()));
  QSignalSpy statuses(controller_.get(), &PlaybackController::statusChanged);
  QTest::qWait(1000);
  controller_->Stop();
  EXPECT_EQ(controller_->state(), PlaybackController::State::Stopped);
  statuses.clear();
  QTest::qWait(2500);  // the next tries would have come in this time
  EXPECT_EQ(statuses.count(), 0);

  controller_->Play(Flaky("drops=1&down=1000&seconds=0.5&burst=8192"), 0);
  ASSERT_TRUE(WaitForStatus(PlaybackController::StatusReconnecting()));
  controller_->Play({QStringLiteral("Steady"), {{server_->url("/ok?seconds=30"), 128}}}, 0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  statuses.clear();
  QTest::qWait(2500);
  EXPECT_EQ(statuses.count(), 0);
  EXPECT_EQ(controller_->state(), PlaybackController::State::Playing);
}

// Ten minutes of tries, on a clock of the test's own: then it gives up and says so.
TEST_F(PlaybackControllerTest, GivesUpAfterTenMinutes) {
  SteadyTime now = std::chrono::steady_clock::now();
  controller_->setClock([&now] { return now; });
  QSignalSpy lamp(controller_.get(), &PlaybackController::lampChanged);
  controller_->Play(Flaky("drops=1&down=1000&seconds=0.5&burst=8192"), 0);
  ASSERT_TRUE(WaitForStatus(PlaybackController::StatusReconnecting()));
  now += 9min + 59s;
  ASSERT_TRUE(WaitForStatus(PlaybackController::StatusChooseStation(), 10s));
  EXPECT_EQ(controller_->state(), PlaybackController::State::Stopped);
  ASSERT_GE(lamp.count(), 2);
  EXPECT_FALSE(lamp.last().at(0).toBool());
}

// A stream that goes quiet ends when the library's stall limit passes; then it is tried again.
TEST_F(PlaybackControllerTest, AStallEndsInAReconnect) {
  controller_->Play(Flaky("drops=1&mode=stall&seconds=0.5&burst=8192"), 0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  ASSERT_TRUE(WaitForStatus(PlaybackController::StatusReconnecting(), 25s));
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
}

// Three drops within two minutes on a station with a lower rate: one step down, shown on the badge.
TEST_F(PlaybackControllerTest, RepeatedDropsStepDownOnce) {
  QSignalSpy chosen(controller_.get(), &PlaybackController::streamChosen);
  const std::string flaky = "/flaky?key=step&drops=3&seconds=0.5&burst=8192";
  controller_->Play({QStringLiteral("Two rates"),
                     {{server_->url("/ok?seconds=30&kbps=64"), 64}, {server_->url(flaky), 128}}},
                    1);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return chosen.count() >= 2 && chosen.last().at(1).toInt() == 64; }, 40000));
  EXPECT_EQ(controller_->streamIndex(), 0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  int stepsDown = 0;
  for (int i = 1; i < chosen.count(); ++i)
    stepsDown += chosen.at(i).at(1).toInt() < chosen.at(i - 1).at(1).toInt();
  EXPECT_EQ(stepsDown, 1);
}

// Many quick station changes while recording: every file is one stretch of what was sent, from a
// frame, and the controller ends on the last choice.
TEST_F(PlaybackControllerTest, AThousandStationChangesWhileRecording) {
  recorder_->ToggleRecording();
  const StationChoice a{QStringLiteral("A"), {{server_->url("/ok?seconds=30&title=A"), 128}}};
  const StationChoice b{QStringLiteral("B"), {{server_->url("/ok?seconds=30&title=B"), 128}}};
  for (int i = 0; i < 1000; ++i) {
    controller_->Play(i % 2 == 0 ? a : b, 0);
    if (i % 10 == 0) QCoreApplication::processEvents();
  }
  ASSERT_TRUE(WaitForStatus(QStringLiteral("B")));
  QTest::qWait(1500);
  controller_->Stop();
  recorder_->WaitForDisk();
  std::string sent;
  while (sent.size() < 1024 * 1024) sent += ReadWholeFile(tone_);
  const std::vector<std::string> names = Files();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    const std::string content = ReadWholeFile(folder_ / "REC" / name);
    ASSERT_FALSE(content.empty()) << name;
    EXPECT_EQ(static_cast<unsigned char>(content[0]), 0xFF) << name;
    EXPECT_NE(sent.find(content), std::string::npos) << name << " is not one stretch of the stream";
  }
}

}  // namespace
}  // namespace vornel::playback
