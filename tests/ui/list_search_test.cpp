// A directory of today's size in the window: twelve groups of 200 stations fill the lists, and
// typing in a list jumps to the station by name, blanks and hyphens included.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <array>
#include <string>

#include "core/directory_writer.h"
#include "skin/uc_slider.h"
#include "ui/started_player.h"

namespace vornel::ui {
namespace {

class Quiet : public core::MessageBoxes {
 public:
  void Show(const QString&, const QString&, core::MessageIcon) override {}
};

// Group g holds "Станция g-s" for s = 0..199; the last group also a few names to look for.
std::string LargeDirectory() {
  core::Directory directory;
  for (int g = 0; g < 12; ++g) {
    core::clsGroup group{static_cast<std::int16_t>(g), "Группа " + std::to_string(g), {}};
    for (int s = 0; s < 200; ++s) {
      core::clsStation station;
      station.id = static_cast<std::int16_t>(g * 200 + s + 1);
      station.name = "Станция " + std::to_string(g) + "-" + std::to_string(s);
      if (g == 11 && s >= 150)
        station.name = std::array{"Radio Xtra", "Radio X", "Hit-FM", "Европа Плюс"}[s % 4];
      station.AddStream(64, "http://127.0.0.1:1/" + std::to_string(s));
      station.AddStream(128, "http://127.0.0.1:1/hi" + std::to_string(s));
      group.stations.push_back(std::move(station));
    }
    directory.groups.push_back(std::move(group));
  }
  return core::WriteDirectory(directory, "Vornel").bytes;
}

class ListSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The search goes on for as long as the test types, however slowly the machine runs.
    interval_ = QApplication::keyboardInputInterval();
    QApplication::setKeyboardInputInterval(600000);
    player_.folder.Write("stations.dat", LargeDirectory());
    ASSERT_TRUE(player_.Start());
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    groups_ = window_.findChild<QListWidget*>(QStringLiteral("listGroups"));
    stations_ = window_.findChild<QListWidget*>(QStringLiteral("listStations"));
  }
  void TearDown() override {
    window_.close();
    QApplication::setKeyboardInputInterval(interval_);
  }

  // Types text as a keyboard would, shortcuts and all. A key's code is its upper-case character
  // (Qt::Key_Space is the blank's).
  static void Type(QWidget* widget, const QString& text) {
    for (QChar c : text) {
      const auto key = static_cast<Qt::Key>(c.toUpper().unicode());
      QTest::sendKeyEvent(QTest::Click, widget, key, QString(c), Qt::NoModifier);
    }
  }
  QString Status() { return window_.findChild<QLabel*>(QStringLiteral("lblStatus"))->text(); }
  QString Current() { return stations_->currentItem() ? stations_->currentItem()->text() : QString(); }
  void ShowLastGroup() {
    groups_->setFocus();
    Type(groups_, QStringLiteral("группа 11"));
    ASSERT_EQ(groups_->currentRow(), 11);
    QTest::keyClick(groups_, Qt::Key_Return);
    stations_->setFocus();
  }

  int interval_ = 0;
  Quiet messages_;
  StartedPlayer player_{messages_};
  frmVornel& window_ = player_.window;
  QListWidget* groups_ = nullptr;
  QListWidget* stations_ = nullptr;
};

TEST_F(ListSearchTest, TwelveGroupsOf200FillTheLists) {
  EXPECT_EQ(groups_->count(), 12);
  EXPECT_EQ(stations_->count(), 200);
  ShowLastGroup();
  ASSERT_EQ(stations_->count(), 200);
  EXPECT_EQ(stations_->item(199)->text(), QStringLiteral("Европа Плюс (64/128)"));
}

TEST_F(ListSearchTest, TypingJumpsToTheStationByNameWithoutPlayingOrChangingTheVolume) {
  ShowLastGroup();
  const int volume = window_.findChild<skin::ucSlider*>(QStringLiteral("sliderVolume"))->value();
  const QString status = Status();
  Type(stations_, QStringLiteral("radio x"));
  EXPECT_EQ(Current(), QStringLiteral("Radio Xtra (64/128)")) << "the first that begins so";
  Type(stations_, QStringLiteral(" "));
  EXPECT_EQ(Current(), QStringLiteral("Radio X (64/128)"));
  EXPECT_EQ(Status(), status) << "a blank in a name is no play key";

  QApplication::setKeyboardInputInterval(0);  // what follows is a new search
  QTest::qWait(5);
  Type(stations_, QStringLiteral("h"));
  QApplication::setKeyboardInputInterval(600000);
  Type(stations_, QStringLiteral("it-fm"));
  EXPECT_EQ(Current(), QStringLiteral("Hit-FM (64/128)"));
  EXPECT_EQ(window_.findChild<skin::ucSlider*>(QStringLiteral("sliderVolume"))->value(), volume)
      << "a hyphen in a name is no volume key";

  QTest::keyClick(stations_, Qt::Key_Return);
  EXPECT_EQ(Status(), QStringLiteral("Подключаемся...")) << "Enter takes the station found";
}

TEST_F(ListSearchTest, CyrillicNamesAreFoundAndABlankOnItsOwnStillPlays) {
  ShowLastGroup();
  Type(stations_, QStringLiteral("европа"));
  EXPECT_EQ(Current(), QStringLiteral("Европа Плюс (64/128)"));

  QApplication::setKeyboardInputInterval(0);
  QTest::qWait(5);
  Type(stations_, QStringLiteral(" "));
  EXPECT_EQ(Status(), QStringLiteral("Подключаемся..."));
}

}  // namespace
}  // namespace vornel::ui
