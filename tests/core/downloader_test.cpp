#include "core/downloader.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "core/startup.h"
#include "support/program_folder.h"
#include "support/server_process.h"

namespace vornel::core {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DownloaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("vornel-http-" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    std::ofstream(root_ / "ok.dat", std::ios::binary) << "directory\r\n";
    std::string big;
    for (int i = 0; big.size() < 100 * 1024; ++i) big += static_cast<char>(i % 251 + 1);
    std::ofstream(root_ / "big.dat", std::ios::binary) << big;
    std::ofstream(root_ / "c0.dat", std::ios::binary) << "\xC0";
    server_ = new test::ServerProcess({"python3", VORNEL_TEST_HTTP_SERVER, root_.string()});
  }
  static void TearDownTestSuite() {
    delete server_;
    fs::remove_all(root_);
  }
  static int Hits() {
    Downloader probe;
    return probe.DownloadText(QString::fromStdString(server_->url("/hits")), 5).toInt();
  }
  QString Url(const std::string& path) { return QString::fromStdString(server_->url(path)); }

  static inline fs::path root_;
  static inline test::ServerProcess* server_ = nullptr;
};

TEST_F(DownloaderTest, ReplyBodiesComeBackWholeAndByteForByte) {
  Downloader downloader;
  EXPECT_EQ(downloader.DownloadText(Url("/file/ok.dat"), 30), QStringLiteral("directory\r\n"));
  EXPECT_FALSE(downloader.busy());
  EXPECT_EQ(downloader.DownloadText(Url("/file/c0.dat"), 30), QStringLiteral("А"));
  EXPECT_EQ(downloader.receivedBytes(), QByteArray("\xC0"));
  downloader.DownloadText(Url("/file/big.dat"), 30);
  EXPECT_EQ(downloader.receivedBytes().toStdString(), ReadFile(root_ / "big.dat"));
}

TEST_F(DownloaderTest, FailuresAreTheInvalidAddressMarker) {
  Downloader downloader;
  for (const char* path : {"/empty", "/status/404", "/status/500"}) {
    EXPECT_EQ(downloader.DownloadText(Url(path), 30), Downloader::InvalidAddress()) << path;
  }
  EXPECT_EQ(downloader.DownloadText(QStringLiteral("http://127.0.0.1:1/x"), 30), Downloader::InvalidAddress());
  const int before = Hits();
  EXPECT_EQ(downloader.DownloadText(Url("/file/ok.dat").replace("http://", "HTTP://"), 30),
            Downloader::InvalidAddress());
  EXPECT_EQ(Hits(), before + 1);  // only the count itself: the upper-case address never went out
}

TEST_F(DownloaderTest, TheLimitIsKeptAndALateReplyIsStillTakenIn) {
  Downloader downloader;
  EXPECT_EQ(downloader.DownloadText(Url("/delay/0.5/ok.dat"), 1), QStringLiteral("directory\r\n"));
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(downloader.DownloadText(Url("/delay/2/ok.dat"), 1), Downloader::InvalidAddress());
  EXPECT_GE(timer.elapsed(), 1000);
  EXPECT_LT(timer.elapsed(), 1900);
  EXPECT_TRUE(downloader.busy());
  EXPECT_EQ(downloader.DownloadText(Url("/file/ok.dat"), 1), QString());  // still in flight
  QElapsedTimer late;
  late.start();
  while (downloader.busy() && late.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_FALSE(downloader.busy());
  EXPECT_EQ(downloader.receivedText(), QStringLiteral("directory\r\n"));
}

// Start-up's cache step: a good download replaces stations.dat (atomically), a failed one leaves
// it exactly as it was, and a folder that cannot take the file still starts with the download.
class NullWindow : public MainWindowHost {
 public:
  void ApplyWindowShape() override {}
  void LoadSettings() override {}
  void AttachAudio(const playback::BassApi*, const std::string&) override {}
  void AudioReleased() override {}
  void SetVolume(int) override {}
  void ShowWindow() override {}
  void SetStatus(const QString&) override {}
  void SetVersionLabel(const QString&) override {}
  void TakeDirectory(Directory d) override { directory = std::move(d); }
  void ShowGroupStations(std::int16_t) override {}
  void AddTrayIcon(const QString&) override {}
  void CreateTrayMenu(const std::vector<TrayMenuItem>&) override {}
  void UnloadSmallWindows() override {}
  Directory directory;
};

class Silent : public MessageBoxes {
 public:
  void Show(const QString& text, const QString&, MessageIcon) override { shown.push_back(text.toStdString()); }
  std::vector<std::string> shown;
};

class CacheStepTest : public DownloaderTest {
 protected:
  StartupFailure Start(const std::string& path) {
    program_ = std::make_unique<Program>(window_, messages_, StartupConfig{folder_.path(), Url(path), 1, 0});
    return program_->Start();
  }
  void TearDown() override {
    program_.reset();
    QDir::setCurrent(QDir::tempPath());
  }
  test::ProgramFolder folder_;
  NullWindow window_;
  Silent messages_;
  std::unique_ptr<Program> program_;
};

TEST_F(CacheStepTest, AGoodDownloadReplacesTheCacheByteForByte) {
  folder_.AddAudioLibrary(test::RealAudioLibrary());
  folder_.AddStations("well_formed.dat");
  // Byte 0xC0 is the Cyrillic capital A, stored exactly as it came.
  std::ofstream(root_ / "served.dat", std::ios::binary) << "x\r\npic\r\nlink\r\n1\r\n\xC0\r\n1|0|One|64|http://a/\r\n";
  ASSERT_EQ(Start("/file/served.dat"), StartupFailure::None);
  EXPECT_EQ(ReadFile(folder_.file("stations.dat")), ReadFile(root_ / "served.dat"));
  ASSERT_EQ(window_.directory.groups.size(), 1u);
  EXPECT_EQ(window_.directory.groups[0].name, "А");
  EXPECT_EQ(window_.directory.bannerUrl, "link");
}

TEST_F(CacheStepTest, AFailedDownloadLeavesTheCacheUntouched) {
  folder_.AddAudioLibrary(test::RealAudioLibrary());
  folder_.AddStations("well_formed.dat");
  const auto stamp = fs::last_write_time(folder_.file("stations.dat"));
  const auto size = fs::file_size(folder_.file("stations.dat"));
  ASSERT_EQ(Start("/status/500"), StartupFailure::None);
  EXPECT_EQ(fs::last_write_time(folder_.file("stations.dat")), stamp);
  EXPECT_EQ(fs::file_size(folder_.file("stations.dat")), size);
  EXPECT_EQ(window_.directory.groups.size(), 3u);
  EXPECT_TRUE(messages_.shown.empty());
}

// A captive portal answers 200 with its sign-in page: that is no directory, and the cache stays.
TEST_F(CacheStepTest, AnAnswerThatIsNoDirectoryLeavesTheCacheUntouched) {
  folder_.AddAudioLibrary(test::RealAudioLibrary());
  folder_.AddStations("well_formed.dat");
  const std::string cached = ReadFile(folder_.file("stations.dat"));
  for (const std::string& page : {std::string("<html><body><form>Sign in to the Wi-Fi</form></body></html>\r\n"),
                                  std::string(), std::string("x\r\npic\r\nlink\r\n1\r\nGroup\r\n")}) {
    std::ofstream(root_ / "portal.html", std::ios::binary) << page;
    ASSERT_EQ(Start("/file/portal.html"), StartupFailure::None);
    EXPECT_EQ(ReadFile(folder_.file("stations.dat")), cached) << page;
    EXPECT_EQ(window_.directory.groups.size(), 3u) << page;
    program_.reset();
  }
  // Without a cache, such an answer is as good as none.
  fs::remove(folder_.file("stations.dat"));
  EXPECT_EQ(Start("/file/portal.html"), StartupFailure::NoDirectory);
  EXPECT_FALSE(fs::exists(folder_.file("stations.dat")));
}

TEST_F(CacheStepTest, AnUnwritableCacheStillStartsWithTheDownload) {
  folder_.AddAudioLibrary(test::RealAudioLibrary());
  fs::create_directory(folder_.file("stations.dat"));  // not a file: it cannot be replaced
  fs::copy_file(fs::path(VORNEL_TEST_FIXTURES) / "stations" / "well_formed.dat", root_ / "served.dat",
                fs::copy_options::overwrite_existing);
  ASSERT_EQ(Start("/file/served.dat"), StartupFailure::None);
  EXPECT_EQ(window_.directory.groups.size(), 3u);
}

TEST_F(CacheStepTest, ClosingTheWindowDuringTheWaitEndsStartUpInOrder) {
  folder_.AddAudioLibrary(test::RealAudioLibrary());
  folder_.AddStations("well_formed.dat");
  program_ = std::make_unique<Program>(window_, messages_, StartupConfig{folder_.path(), Url("/delay/20/ok.dat"), 1, 0});
  QTimer::singleShot(300, [this] { program_->Shutdown(); });
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(program_->Start(), StartupFailure::ClosedDuringStart);
  EXPECT_LT(timer.elapsed(), 5000);
  EXPECT_TRUE(window_.directory.groups.empty());  // nothing after the wait ran
}

}  // namespace
}  // namespace vornel::core
