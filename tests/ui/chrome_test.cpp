#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <vector>

#include "platform/settings_store.h"
#include "ui/dlg_tray.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/message_boxes.h"
#include "ui/msg_na.h"
#include "ui/registry.h"
#include "ui/shell.h"
#include "ui/started_player.h"
#include "ui/tray_icons.h"

namespace vornel::ui {
namespace {

struct ShellCall {
  QString operation, file, parameters, directory;
  int showCmd;
};

// Answers every request with `result` and keeps what it was asked.
class RecordingShell : public Shell {
 public:
  RecordingShell(std::vector<ShellCall>& calls, std::int32_t result) : calls_(calls), result_(result) {}
  std::int32_t ShellExecuteA(QWidget*, const QString& operation, const QString& file, const QString& parameters,
                             const QString& directory, int showCmd) override {
    calls_.push_back({operation, file, parameters, directory, showCmd});
    return result_;
  }

 private:
  std::vector<ShellCall>& calls_;
  std::int32_t result_;
};

TEST(ShellEx, ShowCommandAndRecordedErrors) {
  std::vector<ShellCall> calls;
  RecordingShell accepting(calls, 42);
  EXPECT_TRUE(ShellEx(accepting, "http://example.org/", 0));
  EXPECT_EQ(calls.back().showCmd, 1) << "no parameters or folder: always a normal window";
  EXPECT_EQ(calls.back().operation, "open");
  EXPECT_TRUE(ShellEx(accepting, "c:\\tools\\Setup.ExE", 10, "/quiet"));
  EXPECT_EQ(calls.back().showCmd, 0) << "a program is asked to open hidden";
  EXPECT_EQ(calls.back().parameters, "/quiet");

  const struct {
    std::int32_t code;
    std::int32_t number;
    const char* message;
  } failures[] = {{27, -2147220429, "This file type does not have a valid file association."},
                  {2, 53, "File not found"},
                  {11, -2147220445, "The executable file is invalid or corrupt"},
                  {15, -2147220441, "An error occurred occurred whilst trying to open or print the selected file."}};
  for (const auto& f : failures) {
    RecordingShell failing(calls, f.code);
    EXPECT_FALSE(ShellEx(failing, "x")) << f.code;
    EXPECT_EQ(LastShellError().number, f.number) << f.code;
    EXPECT_EQ(LastShellError().description, QString::fromLatin1(f.message));
    EXPECT_EQ(LastShellError().source, "ui_tests.GShell");
  }
  RecordingShell negative(calls, -5);
  EXPECT_TRUE(ShellEx(negative, "x")) << "a negative result is success";
}

class ChromeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TrayIcons::ClaimAvailableForTests(true);
    std::filesystem::remove(platform::SettingsFolder() / "settings.reg");
    ASSERT_TRUE(player_.Start());
    window_.setShell(std::make_unique<RecordingShell>(shellCalls_, 42));
    window_.move(100, 100);
  }
  void TearDown() override { TrayIcons::ClaimAvailableForTests(false); }
  template <typename T>
  T* Child(QWidget& parent, const char* name) {
    return parent.findChild<T*>(QString::fromLatin1(name));
  }
  // Press a button on `widget`, move the pointer by `by`, release.
  static void Drag(QWidget* widget, Qt::MouseButton button, QPoint at, QPoint by) {
    QTest::mousePress(widget, button, {}, at);
    QMouseEvent move(QEvent::MouseMove, QPointF(at + by), widget->mapToGlobal(QPointF(at + by)), Qt::NoButton,
                     button, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QTest::mouseRelease(widget, button, {}, at + by);
  }

  class : public core::MessageBoxes {
    void Show(const QString&, const QString&, core::MessageIcon) override {}
  } messages_;
  StartedPlayer player_{messages_};
  frmVornel& window_ = player_.window;
  std::vector<ShellCall> shellCalls_;
};

TEST_F(ChromeTest, BackgroundAndStationNameMoveTheWindowOtherPartsDoNot) {
  Drag(&window_, Qt::RightButton, {100, 30}, {30, 20});
  EXPECT_EQ(window_.pos(), QPoint(130, 120)) << "the background, with any button";
  Drag(Child<QLabel>(window_, "lblRadio"), Qt::LeftButton, {5, 5}, {-10, 5});
  EXPECT_EQ(window_.pos(), QPoint(120, 125));
  Drag(Child<QLabel>(window_, "lblStatus"), Qt::LeftButton, {5, 5}, {40, 40});
  EXPECT_EQ(window_.pos(), QPoint(120, 125)) << "the status line is not a handle";

  QTest::mouseClick(Child<QLabel>(window_, "imgBanner"), Qt::LeftButton, {}, {50, 50});
  EXPECT_EQ(window_.pos(), QPoint(120, 125)) << "the banner opens its link instead";
  ASSERT_EQ(shellCalls_.size(), 1u);
  EXPECT_EQ(shellCalls_[0].file, "http://example.org/");
  EXPECT_EQ(shellCalls_[0].operation, "open");
}

// The link comes over plain HTTP: only web addresses reach the desktop.
TEST_F(ChromeTest, TheBannerOpensOnlyWebAddresses) {
  const struct {
    const char* link;
    bool opened;
  } cases[] = {{"https://example.org/a?b=c", true},
               {"HTTP://Example.org/", true},
               {"file:///etc/passwd", false},
               {"/etc/passwd", false},
               {"~/.bashrc", false},
               {"javascript:alert(1)", false},
               {"ftp://example.org/x", false},
               {"smb://host/share", false},
               {"mailto:a@example.org", false},
               {"http:///no-host", false},
               {"", false}};
  for (const auto& c : cases) {
    core::Directory directory;
    directory.bannerUrl = c.link;
    window_.TakeDirectory(directory);
    shellCalls_.clear();
    QTest::mouseClick(Child<QLabel>(window_, "imgBanner"), Qt::LeftButton, {}, {50, 50});
    ASSERT_EQ(shellCalls_.size(), c.opened ? 1u : 0u) << c.link;
    if (c.opened) {
      EXPECT_EQ(shellCalls_[0].file, QString::fromLatin1(c.link));
    }
  }
}

TEST_F(ChromeTest, MinimiseShowsTheNoticeUnlessDeclined) {
  dlgTray& notice = window_.trayNotice();
  QTest::mouseClick(Child<ImageButton>(window_, "btnMinimize"), Qt::LeftButton, {}, {4, 4});
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(notice.isVisible());

  // Ticking the box is stored at once; OK hides the notice, grey for next time.
  QTest::mouseClick(notice.chkDontShow(), Qt::LeftButton, {}, {4, 8});
  EXPECT_EQ(ReadRegDword(platform::HKEY_CURRENT_USER, kSettingsKey, "tray_tip", -1), 0);
  notice.okButton()->setGrayscale(0);
  QTest::mouseClick(notice.okButton(), Qt::LeftButton, {}, {4, 4});
  EXPECT_FALSE(notice.isVisible());
  EXPECT_EQ(notice.okButton()->grayscale(), 6);

  // The icon's click brings the window back; the next minimise shows no notice.
  window_.OnTrayNotify(WM_LBUTTONUP);
  EXPECT_TRUE(window_.isVisible());
  QTest::mouseClick(Child<ImageButton>(window_, "btnMinimize"), Qt::LeftButton, {}, {4, 4});
  EXPECT_FALSE(window_.isVisible());
  EXPECT_FALSE(notice.isVisible());
  window_.OnTrayCommand(1);
  EXPECT_TRUE(window_.isVisible());

  QTest::mouseClick(notice.chkDontShow(), Qt::LeftButton, {}, {4, 8});
  EXPECT_EQ(ReadRegDword(platform::HKEY_CURRENT_USER, kSettingsKey, "tray_tip", -1), 1);
}

TEST_F(ChromeTest, WithoutANotificationAreaMinimiseGoesToTheTaskBar) {
  TrayIcons::ClaimAvailableForTests(false);
  QTest::mouseClick(Child<ImageButton>(window_, "btnMinimize"), Qt::LeftButton, {}, {4, 4});
  EXPECT_TRUE(window_.isMinimized());
  EXPECT_FALSE(window_.trayNotice().isVisible());
  window_.RestoreIfMinimised();
  EXPECT_FALSE(window_.isMinimized());
}

TEST_F(ChromeTest, TrayMenuDismissedChangesNothingAndCloseEndsTheProgram) {
  QTimer::singleShot(0, [] {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  });
  window_.OnTrayNotify(WM_RBUTTONUP);
  EXPECT_TRUE(window_.isVisible());
  window_.OnTrayNotify(0x200);  // a plain move over the icon
  EXPECT_TRUE(window_.isVisible());

  window_.OnTrayCommand(3);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_EQ(window_.findChild<dlgTray*>(), nullptr) << "the small windows go with the main window";
}

TEST_F(ChromeTest, MessageWindowMovesByItsBarAndHidesWithItsButton) {
  msgNA message(&window_);
  EXPECT_FALSE(message.mask().isEmpty()) << "shaped by its picture";
  EXPECT_FALSE(message.mask().contains(QPoint(0, 0)));
  message.move(50, 50);
  message.ShowUnavailable();
  Drag(Child<QLabel>(message, "imgDrag"), Qt::LeftButton, {100, 10}, {10, 10});
  EXPECT_EQ(message.pos(), QPoint(60, 60));
  Drag(Child<QLabel>(message, "lblCaption"), Qt::MiddleButton, {100, 5}, {-5, 0});
  EXPECT_EQ(message.pos(), QPoint(55, 60));
  QTest::mouseClick(message.okButton(), Qt::LeftButton, {}, {4, 4});
  EXPECT_FALSE(message.isVisible());
  EXPECT_EQ(message.okButton()->grayscale(), 6);
  EXPECT_EQ(Child<QLabel>(message, "Label2")->text(), "Эта станция временно недоступна.");
}

}  // namespace
}  // namespace vornel::ui
