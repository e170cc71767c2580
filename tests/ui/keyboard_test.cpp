// The main window from the keyboard, and what a screen reader finds on it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include "playback/recorder.h"
#include "skin/uc_slider.h"
#include "ui/image_button.h"
#include "ui/msg_na.h"
#include "ui/started_player.h"

namespace vornel::ui {
namespace {

class Quiet : public core::MessageBoxes {
 public:
  void Show(const QString&, const QString&, core::MessageIcon) override {}
};

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(player_.Start());
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }
  void TearDown() override { window_.close(); }

  QString Status() { return window_.findChild<QLabel*>(QStringLiteral("lblStatus"))->text(); }
  template <typename T>
  T* Child(const char* name) {
    return window_.findChild<T*>(QString::fromLatin1(name));
  }

  Quiet messages_;
  StartedPlayer player_{messages_};
  frmVornel& window_ = player_.window;
};

TEST_F(KeyboardTest, EveryButtonAndTheSliderHaveANameAndATooltip) {
  window_.trayNotice();
  new msgNA(&window_);
  std::vector<QWidget*> controls;
  for (ImageButton* button : window_.findChildren<ImageButton*>()) controls.push_back(button);
  controls.push_back(Child<skin::ucSlider>("sliderVolume"));
  ASSERT_GE(controls.size(), 11u);
  for (QWidget* control : controls) {
    EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    EXPECT_FALSE(control->toolTip().isEmpty()) << control->objectName().toStdString();
  }
}

TEST_F(KeyboardTest, KeysPlayStopRecordAndSetTheVolume) {
  auto* slider = Child<skin::ucSlider>("sliderVolume");
  ASSERT_EQ(slider->value(), 100);
  QTest::keyClick(&window_, Qt::Key_Minus);
  QTest::keyClick(&window_, Qt::Key_Minus, Qt::KeypadModifier);
  EXPECT_EQ(slider->value(), 90);
  QTest::keyClick(&window_, Qt::Key_Plus);
  EXPECT_EQ(slider->value(), 95);
  for (int i = 0; i < 3; ++i) QTest::keyClick(&window_, Qt::Key_Plus);
  EXPECT_EQ(slider->value(), 100) << "the top of the range holds";

  QTest::keyClick(&window_, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(Child<ImageButton>("btnRec")->grayscale(), 0);
  QTest::keyClick(&window_, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(Child<ImageButton>("btnRec")->grayscale(), 6);

  QTest::keyClick(&window_, Qt::Key_Space);
  EXPECT_EQ(Status(), QStringLiteral("Подключаемся..."));
  QTest::keyClick(&window_, Qt::Key_Space);
  EXPECT_EQ(Status(), QStringLiteral("Выберите радиостанцию"));

  auto* stations = Child<QListWidget>("listStations");
  ASSERT_GT(stations->count(), 0);
  stations->setFocus();
  stations->setCurrentRow(0);
  QTest::keyClick(stations, Qt::Key_Return);
  EXPECT_EQ(Status(), QStringLiteral("Подключаемся..."));

  // Tab reaches the buttons; Enter on one clicks it.
  auto* stop = Child<ImageButton>("btnStop");
  EXPECT_TRUE(stop->focusPolicy() & Qt::TabFocus);
  stop->setFocus(Qt::TabFocusReason);
  QTest::keyClick(stop, Qt::Key_Return);
  EXPECT_EQ(Status(), QStringLiteral("Выберите радиостанцию"));
}

}  // namespace
}  // namespace vornel::ui
