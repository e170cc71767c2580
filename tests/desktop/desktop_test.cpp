// The player on the desktop, as a desktop meets it: the real window (offscreen) playing a scripted
// station, its media-player object on a private session bus driven by playerctl, track
// notifications received by a stand-in notification service on that bus, and a second start of
// the real program raising the first.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "app/desktop_link.h"
#include "core/startup.h"
#include "desktop/bus_instance.h"
#include "desktop/mpris.h"
#include "desktop/track_metadata.h"
#include "desktop/track_notifier.h"
#include "platform/codepage.h"
#include "skin/uc_slider.h"
#include "support/files.h"
#include "support/program_folder.h"
#include "support/server_process.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"

namespace vornel::desktop {

TEST(TrackMetadataTest, TitlesSplitIntoArtistAndTitleOnlyWhereTheyReadSo) {
  EXPECT_EQ(SplitTrackTitle("Artist - Song").artist, "Artist");
  EXPECT_EQ(SplitTrackTitle("Artist - Song").title, "Song");
  EXPECT_EQ(SplitTrackTitle("AC-DC - Back - In Black").artist, "AC-DC");
  EXPECT_EQ(SplitTrackTitle("AC-DC - Back - In Black").title, "Back - In Black");
  for (const char* whole : {"News at six", "Jean-Michel Jarre", " - Song", "Artist - ", "-"}) {
    EXPECT_TRUE(SplitTrackTitle(whole).artist.isEmpty()) << whole;
    EXPECT_EQ(SplitTrackTitle(whole).title, QString(whole).trimmed()) << whole;
  }

  // No title yet: the station stands in for it; no station at all: the reserved "no track".
  QVariantMap playing = TrackMetadata("", "Радио", 3);
  EXPECT_EQ(playing.value("xesam:title").toString(), "Радио");
  EXPECT_EQ(playing.value("xesam:album").toString(), "Радио");
  EXPECT_FALSE(playing.contains("xesam:artist"));
  EXPECT_EQ(playing.value("mpris:trackid").value<QDBusObjectPath>().path(), "/org/vornel/track/3");
  QVariantMap none = TrackMetadata("", "", 0);
  EXPECT_EQ(none.size(), 1);
  EXPECT_EQ(none.value("mpris:trackid").value<QDBusObjectPath>().path(),
            "/org/mpris/MediaPlayer2/TrackList/NoTrack");
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The private bus the ctest fixture started; started here when the binary runs by hand.
QString SessionBusAddress() {
  const std::string folder = VORNEL_TEST_SESSION_BUS_DIR;
  if (!fs::exists(folder + "/address")) {
    const std::string start = std::string(VORNEL_TEST_SESSION_BUS_SCRIPT) + " start " + folder;
    if (std::system(start.c_str()) != 0) return {};
  }
  if (!fs::exists(folder + "/address")) return {};
  return QString::fromStdString(test::ReadWholeFile(folder + "/address")).trimmed();
}

// A stand-in notification service: it records every Notify call and answers with ids of its own.
class NotificationRecorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    uint replaces = 0;
    QString icon;
    QString summary;
    QString body;
    QVariantMap hints;
  };
  std::vector<Call> calls;

 public slots:
  uint Notify(const QString&, uint replaces, const QString& icon, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap& hints, int) {
    calls.push_back({replaces, icon, summary, body, hints});
    return replaces != 0 ? replaces : 41;
  }
};

class NoMessages : public core::MessageBoxes {
 public:
  void Show(const QString& text, const QString&, core::MessageIcon) override {
    ADD_FAILURE() << text.toStdString();
  }
};

class DesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    address_ = SessionBusAddress();
    if (address_.isEmpty()) return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    server_ = new test::ServerProcess(
        {"python3", VORNEL_TEST_SCRIPTED_SERVER, "--mp3", std::string(VORNEL_TEST_TONES) + "/tone440.mp3"});
  }
  static void TearDownTestSuite() { delete server_; }

  void SetUp() override {
    if (address_.isEmpty()) GTEST_SKIP() << "no dbus-daemon for a private session bus";
    // Each test has connections of its own, so names and objects never outlive it.
    const QString tag = QString::number(++connections_);
    playerBus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, "player" + tag));
    serviceBus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, "service" + tag));
    ASSERT_TRUE(playerBus_->isConnected());

    folder_.AddAudioLibrary(test::RealAudioLibrary());
    const std::string lines[] = {
        "x",
        "",
        "",
        "1",
        "Тест",
        "1|0|First|64|" + server_->url("/ok?seconds=120&change=3&burst=16384"),
        "2|0|Second & Co|64|" + server_->url("/ok?seconds=120&title=Other%20-%20Tune"),
        "3|0|Third|64|" + server_->url("/ok?seconds=120")};
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    folder_.Write("stations.dat", platform::Utf8ToCp1251(text));

    mpris_ = std::make_unique<Mpris>(QStringLiteral("vornel"));
    ASSERT_TRUE(mpris_->Publish(*playerBus_));
    ASSERT_EQ(ClaimBusName(*playerBus_, Mpris::ServiceName()), BusClaim::First);
    notifier_ =
        std::make_unique<TrackNotifier>(*playerBus_, QStringLiteral("vornel"), QImage(":/skin/icon_64.png"));
    link_ = std::make_unique<app::DesktopLink>(window_, *mpris_, notifier_.get());
    program_ = std::make_unique<core::Program>(window_, messages_,
                                               core::StartupConfig{folder_.path(), QString(), 1, 0});
    QObject::connect(&window_, &ui::frmVornel::unloading, [this] { program_->Shutdown(); });
    ASSERT_EQ(program_->Start(), core::StartupFailure::None);
  }

  void TearDown() override {
    if (address_.isEmpty()) return;
    window_.close();
    link_.reset();
    if (playerBus_) playerBus_->interface()->unregisterService(Mpris::ServiceName());
    QDBusConnection::disconnectFromBus(playerBus_->name());
    QDBusConnection::disconnectFromBus(serviceBus_->name());
    QDir::setCurrent(QDir::tempPath());
  }

  // playerctl runs while this thread keeps serving the bus: waiting on it blocked would leave its
  // calls to us unanswered.
  QString Playerctl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("playerctl"), QStringList{"--player=vornel"} + arguments);
    if (!process.waitForStarted(5000)) {
      ADD_FAILURE() << "playerctl did not start";
      return {};
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  }
  static bool HavePlayerctl() {
    return !QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty();
  }
  QString Station() { return window_.findChild<QLabel*>("lblRadio")->text(); }
  bool Lit() { return window_.findChild<ui::ImageButton*>("btnPlay")->grayscale() == 0; }

  static inline QString address_;
  static inline test::ServerProcess* server_ = nullptr;
  static inline int connections_ = 0;
  std::unique_ptr<QDBusConnection> playerBus_;
  std::unique_ptr<QDBusConnection> serviceBus_;
  test::ProgramFolder folder_;
  ui::frmVornel window_;
  NoMessages messages_;
  std::unique_ptr<Mpris> mpris_;
  std::unique_ptr<TrackNotifier> notifier_;
  std::unique_ptr<app::DesktopLink> link_;
  std::unique_ptr<core::Program> program_;
};

TEST_F(DesktopTest, MediaControlsDriveThePlayerAndFollowIt) {
  if (!HavePlayerctl()) GTEST_SKIP() << "playerctl is not installed";
  EXPECT_EQ(Playerctl({"status"}), "Stopped");
  QProcess follow;
  follow.start(QStringLiteral("playerctl"), {"--player=vornel", "--follow", "status"});
  ASSERT_TRUE(follow.waitForStarted(5000));
  QTest::qWait(300);  // its subscription goes out before the first change

  // Play starts the current station; the title comes through split into artist and title.
  EXPECT_EQ(Playerctl({"play"}), "");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Lit(); }, 15000));
  EXPECT_EQ(Playerctl({"status"}), "Playing");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Playerctl({"metadata", "xesam:title"}) == "Song"; }, 15000));
  EXPECT_EQ(Playerctl({"metadata", "xesam:artist"}), "Artist");
  EXPECT_EQ(Playerctl({"metadata", "xesam:album"}), "First");
  EXPECT_TRUE(Playerctl({"metadata", "mpris:trackid"}).contains("/org/vornel/track/"));

  // Volume both ways: the slider follows the bus, the bus follows the slider.
  EXPECT_EQ(Playerctl({"volume", "0.3"}), "");
  EXPECT_EQ(window_.volume(), 30);
  window_.SetVolume(45);
  EXPECT_EQ(Playerctl({"volume"}).toDouble(), 0.45);
  EXPECT_EQ(Playerctl({"volume", "7"}), "");  // louder than full is full
  EXPECT_EQ(window_.volume(), 100);

  // Next and previous go through the group and wrap around.
  EXPECT_EQ(Playerctl({"next"}), "");
  EXPECT_EQ(Station(), "Second & Co");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Playerctl({"metadata", "xesam:artist"}) == "Other"; }, 15000));
  EXPECT_EQ(Playerctl({"previous"}), "");
  EXPECT_EQ(Playerctl({"previous"}), "");
  EXPECT_EQ(Station(), "Third");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Lit(); }, 15000));

  // Live radio does not pause: pause stops, and play-pause starts again.
  EXPECT_EQ(Playerctl({"pause"}), "");
  EXPECT_FALSE(Lit());
  EXPECT_EQ(Playerctl({"status"}), "Stopped");
  EXPECT_EQ(Playerctl({"play-pause"}), "");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Lit(); }, 15000));
  EXPECT_EQ(Playerctl({"stop"}), "");
  EXPECT_EQ(Playerctl({"status"}), "Stopped");

  ASSERT_TRUE(QTest::qWaitFor([&] { return follow.bytesAvailable() > 0 || follow.canReadLine(); }, 5000));
  QTest::qWait(300);
  follow.kill();
  follow.waitForFinished(5000);
  const QStringList seen = QString::fromUtf8(follow.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(seen.size(), 4) << seen.join(',').toStdString();
  EXPECT_EQ(seen.front(), "Stopped");
  EXPECT_TRUE(seen.contains("Playing"));
  EXPECT_EQ(seen.back(), "Stopped");
}

TEST_F(DesktopTest, TitlesAreNotifiedOnlyWhileTheWindowIsOutOfSightOneNotificationReplaced) {
  NotificationRecorder service;
  ASSERT_TRUE(serviceBus_->registerObject("/org/freedesktop/Notifications", &service,
                                          QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(serviceBus_->registerService("org.freedesktop.Notifications"));

  window_.StepStation(+1);  // "Second & Co": one title, "Other - Tune"
  ASSERT_TRUE(QTest::qWaitFor([&] { return Lit(); }, 15000));
  QTest::qWait(1500);
  EXPECT_TRUE(service.calls.empty()) << "the visible window shows its titles itself";

  window_.hide();           // to the notification area
  window_.StepStation(-1);  // "First": a new title every few seconds
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.calls.size() >= 2; }, 20000));
  const NotificationRecorder::Call& first = service.calls[0];
  EXPECT_EQ(first.replaces, 0u);
  EXPECT_EQ(first.summary, "Artist - Song");
  EXPECT_EQ(first.body, "First");
  EXPECT_EQ(first.icon, "vornel");
  EXPECT_TRUE(first.hints.contains("image-data"));
  EXPECT_EQ(service.calls[1].replaces, 41u) << "a new title replaces the last notification";
  EXPECT_EQ(service.calls[1].summary, "Title 1");

  window_.StepStation(+1);  // the body is markup to some services: the name must come through as written
  ASSERT_TRUE(QTest::qWaitFor([&] { return service.calls.back().summary == "Other - Tune"; }, 20000));
  EXPECT_EQ(service.calls.back().body, "Second &amp; Co");
  serviceBus_->unregisterService("org.freedesktop.Notifications");
}

TEST_F(DesktopTest, ASecondStartRaisesTheRunningPlayerAndEnds) {
  window_.hide();
  QProcess second;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  second.setProcessEnvironment(environment);
  second.start(QString::fromStdString(VORNEL_TEST_PROGRAM), {});
  ASSERT_TRUE(second.waitForStarted(5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(window_.isVisible());
}

// A logout ends a session's programs with SIGTERM; the player must go, not linger until killed.
TEST(ProgramTest, EndsOnSigterm) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  // Alone: no bus, and a folder of its own for the one-instance socket, so that no other test's
  // player takes it for a second start.
  environment.remove("DBUS_SESSION_BUS_ADDRESS");
  QTemporaryDir temporary;
  ASSERT_TRUE(temporary.isValid());
  environment.insert("TMPDIR", temporary.path());
  program.setProcessEnvironment(environment);
  program.start(QString::fromStdString(VORNEL_TEST_PROGRAM), {});
  ASSERT_TRUE(program.waitForStarted(5000));
  // Past start-up: the audio library is initialised, which is where the signal used to be taken.
  ASSERT_FALSE(program.waitForFinished(3000)) << program.readAllStandardError().toStdString();
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);
}

}  // namespace
}  // namespace vornel::desktop

#include "desktop_test.moc"
