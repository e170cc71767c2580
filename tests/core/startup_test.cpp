#include "core/startup.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>

#include "playback/audio_library.h"
#include "support/program_folder.h"
#include "support/test_environment.h"

namespace vornel::core {
namespace {

using test::FakeAudioLibrary;
using test::ProgramFolder;
using test::RealAudioLibrary;

// Records every call the sequences make, in order.
class RecordingWindow : public MainWindowHost {
 public:
  void ApplyWindowShape() override { calls.push_back("shape"); }
  void LoadSettings() override { calls.push_back("settings"); }
  void AttachAudio(const playback::BassApi* api, const std::string&) override {
    calls.push_back("audio");
    bass = api;
  }
  void AudioReleased() override {
    calls.push_back("audio released");
    bass = nullptr;
  }
  void SetVolume(int value) override {
    calls.push_back("volume " + std::to_string(value));
    volumeAccepted = bass != nullptr && bass->BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, static_cast<DWORD>(value));
  }
  void ShowWindow() override { calls.push_back("show"); }
  void SetStatus(const QString& text) override { calls.push_back("status " + text.toStdString()); }
  void SetVersionLabel(const QString& text) override { calls.push_back("version " + text.toStdString()); }
  void TakeDirectory(Directory d) override {
    calls.push_back("directory");
    directory = std::move(d);
  }
  void ShowGroupStations(std::int16_t index) override { calls.push_back("group " + std::to_string(index)); }
  void AddTrayIcon(const QString& tooltip) override { calls.push_back("tray " + tooltip.toStdString()); }
  void CreateTrayMenu(const std::vector<TrayMenuItem>& items) override {
    std::string line = "menu";
    for (const TrayMenuItem& item : items) line += " " + std::to_string(item.id) + "=" + item.text.toStdString();
    calls.push_back(line);
  }
  void UnloadSmallWindows() override { calls.push_back("unload small windows"); }

  std::vector<std::string> calls;
  const playback::BassApi* bass = nullptr;
  bool volumeAccepted = false;
  Directory directory;
};

struct Message {
  std::string text;
  std::string caption;
  MessageIcon icon;
};

// Answers every message box at once with OK, keeping what it was asked to show.
class RecordingMessages : public MessageBoxes {
 public:
  void Show(const QString& text, const QString& caption, MessageIcon icon) override {
    shown.push_back({text.toStdString(), caption.toStdString(), icon});
  }
  std::vector<Message> shown;
};

class StartupTest : public ::testing::Test {
 protected:
  StartupFailure Start() {
    program_ = std::make_unique<Program>(window_, messages_,
                                         StartupConfig{folder_.path(), QStringLiteral("http://127.0.0.1:1/client/stations.php"), 1, 0});
    return program_->Start();
  }
  void TearDown() override {
    program_.reset();
    QDir::setCurrent(QDir::tempPath());
  }

  ProgramFolder folder_;
  RecordingWindow window_;
  RecordingMessages messages_;
  std::unique_ptr<Program> program_;
};

const std::vector<std::string> kChecksBeforeTheLibrary = {"shape", "settings"};

TEST_F(StartupTest, NormalStartRunsEveryStepInOrder) {
  folder_.AddAudioLibrary(RealAudioLibrary());
  folder_.AddStations("well_formed.dat");
  ASSERT_EQ(Start(), StartupFailure::None);
  EXPECT_TRUE(messages_.shown.empty());
  const std::vector<std::string> expected = {
      "shape", "settings", "audio", "volume 100", "show", "status Загружается список станций",
      "version Vornel v1.0", "directory", "group 0", "status Выберите станцию", "tray Vornel",
      "menu 1=Показать программу 2=Играть/Остановить 3=Закрыть программу"};
  EXPECT_EQ(window_.calls, expected);
  EXPECT_TRUE(window_.volumeAccepted);
  EXPECT_EQ(window_.directory.groups.size(), 3u);
  // The program folder becomes the working folder.
  EXPECT_TRUE(QDir::current() == QDir(QString::fromStdString(folder_.path())));

  window_.calls.clear();
  program_->Shutdown();
  program_->Shutdown();  // a second unload does nothing
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"unload small windows", "audio released"}));
}

struct FailureCase {
  const char* name;
  std::string library;  // empty: no library file at all
  StartupFailure failure;
  std::string text;     // the message's text, or its beginning when `textPrefix`
  bool textPrefix;
  std::string caption;
};

class StartupFailureTest : public StartupTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailureTest, StopsWithOneMessageBeforeTheWindowShows) {
  const FailureCase& c = GetParam();
  if (c.library == "garbage") {
    folder_.Write(playback::kAudioLibraryFileName, "this is not a shared library");
  } else if (!c.library.empty()) {
    folder_.AddAudioLibrary(c.library);
  }
  folder_.AddStations("well_formed.dat");

  EXPECT_EQ(Start(), c.failure);
  ASSERT_EQ(messages_.shown.size(), 1u);
  const Message& m = messages_.shown[0];
  if (c.textPrefix) {
    EXPECT_EQ(m.text.substr(0, c.text.size()), c.text);
  } else {
    EXPECT_EQ(m.text, c.text);
  }
  EXPECT_EQ(m.caption, c.caption);
  EXPECT_EQ(m.icon, MessageIcon::Error);
  EXPECT_EQ(window_.calls, kChecksBeforeTheLibrary);  // never shown, never given the library
}

INSTANTIATE_TEST_SUITE_P(
    Library, StartupFailureTest,
    ::testing::Values(
        FailureCase{"Missing", "", StartupFailure::AudioLibraryMissing, "BASS.DLL does not exists", false, "BASS.DLL"},
        FailureCase{"NotALibrary", "garbage", StartupFailure::AudioLibraryUnloadable,
                    "BASS.DLL is present but cannot be loaded", true, "BASS.DLL"},
        FailureCase{"LacksAFunction", FakeAudioLibrary("missing_function"), StartupFailure::AudioLibraryIncomplete,
                    "BASS.DLL lacks the function BASS_ChannelIsActive", false, "BASS.DLL"},
        FailureCase{"Version2304", FakeAudioLibrary("version_2304"), StartupFailure::AudioLibraryVersion,
                    "BASS version 2.3.0.3 was not loaded", false, "BASS.DLL"},
        FailureCase{"OlderVersion", FakeAudioLibrary("version_2200"), StartupFailure::AudioLibraryVersion,
                    "BASS version 2.3.0.3 was not loaded", false, "BASS.DLL"},
        FailureCase{"DeviceFails", FakeAudioLibrary("init_fails"), StartupFailure::AudioDevice,
                    "Error: Can't initialize device", false, "Vornel"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StartupTest, LibraryFolderEntryThatIsAFolderCountsAsMissing) {
  std::filesystem::create_directory(folder_.file(playback::kAudioLibraryFileName));
  folder_.AddStations("well_formed.dat");
  EXPECT_EQ(Start(), StartupFailure::AudioLibraryMissing);
}

TEST_F(StartupTest, NoCachedDirectoryShowsTheConnectionMessageAfterTheWindow) {
  folder_.AddAudioLibrary(RealAudioLibrary());
  EXPECT_EQ(Start(), StartupFailure::NoDirectory);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].text,
            "Невозможно соединиться с сервером!\r\nВозможно, у Вас отсутствует подключение к Интернету.\r\n"
            "Повторите попытку позже.");
  EXPECT_EQ(messages_.shown[0].caption, "Vornel");
  EXPECT_EQ(messages_.shown[0].icon, MessageIcon::None);
  // The window was already on screen with the loading text; nothing after the directory ran.
  ASSERT_FALSE(window_.calls.empty());
  EXPECT_EQ(window_.calls.back(), "status Загружается список станций");
}

TEST_F(StartupTest, BrokenCachedDirectoryStillStarts) {
  folder_.AddAudioLibrary(RealAudioLibrary());
  folder_.AddStations("binary_garbage.dat");
  EXPECT_EQ(Start(), StartupFailure::None);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(window_.calls.back().substr(0, 4), "menu");
}

}  // namespace
}  // namespace vornel::core

