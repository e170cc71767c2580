// A station plays, as a user meets it: the real window (offscreen), the real audio library and a
// scripted station on loopback. Status texts, the tooltip, the play lamp, the bit-rate button,
// an unreachable station, a choice that supersedes a slow connect, and recording per title.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <filesystem>

#include "core/startup.h"
#include "platform/codepage.h"
#include "support/files.h"
#include "support/program_folder.h"
#include "support/server_process.h"
#include "support/test_environment.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/tray_icons.h"

namespace vornel::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::ReadWholeFile;

class NoMessages : public core::MessageBoxes {
 public:
  void Show(const QString& text, const QString&, core::MessageIcon) override {
    ADD_FAILURE() << text.toStdString();
  }
};

class PlaybackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tone_ = std::string(VORNEL_TEST_TONES) + "/tone440.mp3";
    server_ = new test::ServerProcess({"python3", VORNEL_TEST_SCRIPTED_SERVER, "--mp3", tone_});
  }
  static void TearDownTestSuite() { delete server_; }

  void SetUp() override {
    folder_.AddAudioLibrary(test::RealAudioLibrary());
    fs::create_directory(folder_.file("REC"));
    const std::string lines[] = {
        "x", "", "", "1", "Тест",
        "1|0|Scripted|64|" + server_->url("/ok?seconds=4&change=2&burst=16384") + "|128|" +
            server_->url("/icy?seconds=30"),
        "2|0|Unreachable|128|http://127.0.0.1:1/",
        "3|0|Silent|128|" + server_->url("/silent")};
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    folder_.Write("stations.dat", platform::Utf8ToCp1251(text));
    program_ = std::make_unique<core::Program>(window_, messages_, core::StartupConfig{folder_.path(), QString(), 1, 0});
    QObject::connect(&window_, &frmVornel::unloading, [this] { program_->Shutdown(); });
    ASSERT_EQ(program_->Start(), core::StartupFailure::None);
  }
  void TearDown() override {
    window_.close();
    QDir::setCurrent(QDir::tempPath());
  }

  QString Status() { return window_.findChild<QLabel*>("lblStatus")->text(); }
  QString Tooltip() { return window_.trayIcon().IconAt(1)->tooltip(); }
  ImageButton* Button(const char* name) { return window_.findChild<ImageButton*>(name); }
  void ClickStation(int row) {
    auto* list = window_.findChild<QListWidget*>("listStations");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
  }
  bool WaitForStatus(const QString& text, std::chrono::milliseconds limit = 15s) {
    return QTest::qWaitFor([&] { return Status() == text; }, static_cast<int>(limit.count()));
  }

  static inline std::string tone_;
  static inline test::ServerProcess* server_ = nullptr;
  test::ProgramFolder folder_;
  frmVornel window_;
  NoMessages messages_;
  std::unique_ptr<core::Program> program_;
};

TEST_F(PlaybackTest, StationPlaysWithStatusTitlesLampAndRecording) {
  QTest::mouseClick(Button("btnRec"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Button("btnRec")->grayscale(), 0);

  ClickStation(0);  // 64 kbit/s is the default: the first stream
  EXPECT_EQ(Status(), QStringLiteral("Подключаемся..."));
  EXPECT_EQ(Tooltip(), Status());
  EXPECT_EQ(window_.findChild<QLabel*>("lblRadio")->text(), QStringLiteral("Scripted"));
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  EXPECT_NE(window_.channel(), 0u);
  EXPECT_EQ(Button("btnPlay")->grayscale(), 0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Title 1")));
  EXPECT_EQ(Tooltip(), QStringLiteral("Title 1"));
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Title 2")));

  // The server ends after four seconds: the player reconnects, and the title returns with the
  // audio. Stop then puts the lamp out at once.
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Переподключение..."), 20s));
  EXPECT_EQ(Button("btnPlay")->grayscale(), 0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(folder_.file("REC") / "Artist - Song_0.mp3"); }, 10000));
  QTest::mouseClick(Button("btnStop"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Button("btnPlay")->grayscale(), 6);

  // One file per title (the title after the reconnect differs from the last one: a file of its
  // own); the files of the first connection are one stretch of what the server sent.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_.file("REC"))) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "Artist - Song.mp3");
  EXPECT_EQ(names[1], "Artist - Song_0.mp3");
  EXPECT_EQ(names[2], "Title 1.mp3");
  std::string recorded;
  for (const std::string& name : {std::string("Artist - Song.mp3"), std::string("Title 1.mp3"),
                                  std::string("Title 2.mp3")}) {
    if (!fs::exists(folder_.file("REC") / name)) continue;
    const std::string content = ReadWholeFile(folder_.file("REC") / name);
    ASSERT_GT(content.size(), 3u) << name;
    EXPECT_EQ(static_cast<unsigned char>(content[0]), 0xFF) << name;  // a frame begins each file
    recorded += content;
  }
  std::string sent;
  while (sent.size() < 2 * 1024 * 1024) sent += ReadWholeFile(tone_);
  EXPECT_NE(sent.find(recorded), std::string::npos) << "recorded bytes are not one stretch of the stream";
}

TEST_F(PlaybackTest, BitrateButtonStepsThroughTheStationsStreams) {
  ClickStation(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window_.channel() != 0; }, 15000));
  EXPECT_EQ(window_.currentStream(), 0);
  QTest::mouseClick(Button("btnBitrate"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(window_.currentStream(), 1);
  EXPECT_EQ(Button("btnBitrate")->picture(),
            window_.findChild<QLabel*>("imgBitrate_128")->pixmap().toImage().convertToFormat(QImage::Format_ARGB32));
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));  // the /icy stream announces it too
  QTest::mouseClick(Button("btnStop"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Status(), QStringLiteral("Выберите радиостанцию"));
  EXPECT_EQ(Button("btnPlay")->grayscale(), 6);
}

TEST_F(PlaybackTest, UnreachableStationSaysSoWithoutBlocking) {
  ClickStation(1);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Выберите станцию")));
  QWidget* message = window_.findChild<QWidget*>("msgNA");
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->isVisible());
  EXPECT_EQ(message->findChild<QLabel*>("Label2")->text(), QStringLiteral("Эта станция временно недоступна."));
  EXPECT_EQ(window_.channel(), 0u);
}

TEST_F(PlaybackTest, ANewChoiceSupersedesASlowConnect) {
  ClickStation(2);  // never answers: its connect takes the full time-out
  QApplication::processEvents();
  ClickStation(0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Artist - Song")));
  // When the silent station's connect gives up, nothing changes.
  QTest::qWait(9000);
  EXPECT_NE(window_.channel(), 0u);
  EXPECT_NE(Status(), QStringLiteral("Выберите станцию"));
  EXPECT_EQ(window_.findChild<QLabel*>("lblRadio")->text(), QStringLiteral("Scripted"));
  QWidget* message = window_.findChild<QWidget*>("msgNA");
  EXPECT_TRUE(message == nullptr || !message->isVisible());
}

// Closing the window while a connect waits on a silent server, and while a recording is written
// during a reconnect: shutdown returns at once and leaves every file closed (the sanitizer builds
// check that nothing leaks).
TEST_F(PlaybackTest, ClosingDuringAConnectEndsAtOnce) {
  ClickStation(2);  // never answers
  QApplication::processEvents();
  QElapsedTimer closing;
  closing.start();
  window_.close();
  EXPECT_LT(closing.elapsed(), 2000);
}

TEST_F(PlaybackTest, ClosingDuringAReconnectWhileRecordingEndsInOrder) {
  QTest::mouseClick(Button("btnRec"), Qt::LeftButton, {}, QPoint(5, 5));
  ClickStation(0);
  ASSERT_TRUE(WaitForStatus(QStringLiteral("Переподключение..."), 20s));
  QElapsedTimer closing;
  closing.start();
  window_.close();
  EXPECT_LT(closing.elapsed(), 2000);
  ASSERT_FALSE(fs::is_empty(folder_.file("REC")));
}

}  // namespace
}  // namespace vornel::ui

