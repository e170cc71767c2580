// The player against a real Icecast: a click on a station, the station's announced name, then
// every title the server's admin sets, in the status line and the tooltip.

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <map>

#include "core/startup.h"
#include "platform/codepage.h"
#include "support/program_folder.h"
#include "support/test_environment.h"
#include "support/waiting.h"
#include "ui/frm_vornel.h"
#include "ui/tray_icons.h"

namespace vornel::ui {
namespace {

size_t Discard(char*, size_t, size_t size, void*) { return size; }

class NoMessages : public core::MessageBoxes {
 public:
  void Show(const QString& text, const QString&, core::MessageIcon) override { ADD_FAILURE() << text.toStdString(); }
};

TEST(IcecastPlayer, StatusFollowsTheStationNameAndEveryTitle) {
  if (!std::filesystem::exists(VORNEL_TEST_ICECAST_ENV)) GTEST_SKIP() << "no Icecast fixture running";
  auto env = test::ReadKeyValues(VORNEL_TEST_ICECAST_ENV);
  const std::string base = "http://" + env["HOST"] + ":" + env["PORT"];
  const auto setTitle = [&](const std::string& title) {
    char* escaped = curl_easy_escape(nullptr, title.c_str(), static_cast<int>(title.size()));
    CURL* curl = curl_easy_init();
    const std::string url = base + "/admin/metadata?mount=" + env["MOUNT_440"] + "&mode=updinfo&song=" + escaped;
    const std::string auth = env["ADMIN_USER"] + ":" + env["ADMIN_PASSWORD"];
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERPWD, auth.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 5L);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_free(escaped);
  };
  setTitle("");

  test::ProgramFolder folder;
  folder.AddAudioLibrary(test::RealAudioLibrary());
  folder.Write("stations.dat", platform::Utf8ToCp1251("x\r\n\r\n\r\n1\r\nТест\r\n1|0|Тон 440|128|" + base +
                                                      env["MOUNT_440"] + "\r\n"));
  frmVornel window;
  NoMessages messages;
  core::Program program(window, messages, {folder.path(), QString(), 1, 0});
  QObject::connect(&window, &frmVornel::unloading, [&program] { program.Shutdown(); });
  ASSERT_EQ(program.Start(), core::StartupFailure::None);

  auto* status = window.findChild<QLabel*>("lblStatus");
  auto* list = window.findChild<QListWidget*>("listStations");
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(status->text(), QStringLiteral("Подключаемся..."));
  // The title is empty now: the status comes to the station's name. (Icecast's first blocks may
  // still carry an earlier title from where its burst begins.)
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.channel() != 0; }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return status->text() == QStringLiteral("Тон 440"); }, 10000))
      << status->text().toStdString();
  for (const std::string title : {"Кино - Группа крови", "AC/DC - T.N.T."}) {
    setTitle(title);
    const QString shown = title[0] == 'A' ? QStringLiteral("ACDC - T.N.T.") : QString::fromStdString(title);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->text() == shown; }, 10000)) << title;
    EXPECT_EQ(window.trayIcon().IconAt(1)->tooltip(), shown);
  }
  window.close();
  setTitle("");
  QDir::setCurrent(QDir::tempPath());
}

}  // namespace
}  // namespace vornel::ui

int main(int argc, char** argv) {
  vornel::test::PrepareTestEnvironment();
  QApplication app(argc, argv);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  curl_global_cleanup();
  return result;
}
