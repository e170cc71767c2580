#include "ui/frm_vornel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "skin/uc_slider.h"
#include "support/program_folder.h"
#include "ui/started_player.h"
#include "support/test_environment.h"
#include "ui/image_button.h"
#include "ui/message_boxes.h"
#include "ui/tray_icons.h"

namespace vornel::ui {
namespace {

class NoMessages : public core::MessageBoxes {
 public:
  void Show(const QString& text, const QString&, core::MessageIcon) override {
    ADD_FAILURE() << "unexpected message: " << text.toStdString();
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(player_.Start()); }
  void TearDown() override { QDir::setCurrent(QDir::tempPath()); }

  template <typename T>
  T* Child(const char* name) {
    T* child = window_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QStringList Items(const char* list) {
    QStringList items;
    QListWidget* widget = Child<QListWidget>(list);
    for (int i = 0; i < widget->count(); ++i) items << widget->item(i)->text();
    return items;
  }
  void Send(ImageButton* button, QEvent::Type type) {
    if (type == QEvent::Enter) {
      QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
      QCoreApplication::sendEvent(button, &event);
    } else if (type == QEvent::Leave) {
      QEvent event(QEvent::Leave);
      QCoreApplication::sendEvent(button, &event);
    } else if (type == QEvent::MouseButtonPress) {
      QTest::mousePress(button, Qt::LeftButton, {}, QPoint(2, 2));
    } else {
      QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(2, 2));
    }
  }

  NoMessages messages_;
  StartedPlayer player_{messages_};
  frmVornel& window_ = player_.window;
  std::unique_ptr<core::Program>& program_ = player_.program;
};

TEST_F(MainWindowTest, StartUpFillsListsStatusVersionAndTray) {
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(Items("listGroups"), (QStringList{"Русские", "  Джаз  ", "Rock"}));
  EXPECT_EQ(Items("listStations"), (QStringList{"Radio X (32/64/128)", "  Ретро   (64/96)", "Empty rate (0)"}));
  EXPECT_EQ(Child<QListWidget>("listGroups")->currentRow(), -1);
  EXPECT_TRUE(Child<QListWidget>("listGroups")->selectedItems().isEmpty());
  EXPECT_EQ(Child<QLabel>("lblStatus")->text(), QStringLiteral("Выберите станцию"));
  EXPECT_EQ(Child<QLabel>("lblVersion")->text(), QStringLiteral("Vornel v1.0"));
  EXPECT_EQ(Child<QLabel>("lblRadio")->text(), QStringLiteral("Vornel"));
  EXPECT_EQ(window_.bannerUrl(), QStringLiteral("http://example.org/"));
  EXPECT_EQ(window_.bannerPictureUrl(), QStringLiteral("http://example.org/banner.gif"));

  ASSERT_NE(window_.trayMenu(), nullptr);
  const QList<QAction*> actions = window_.trayMenu()->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("Показать программу"));
  EXPECT_EQ(actions[1]->text(), QStringLiteral("Играть/Остановить"));
  EXPECT_EQ(actions[2]->text(), QStringLiteral("Закрыть программу"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(actions[i]->data().toInt(), i + 1);

  ASSERT_EQ(window_.trayIcon().Count(), 1);
  EXPECT_EQ(window_.trayIcon().IconAt(1)->tooltip(), QStringLiteral("Vornel"));
}

TEST_F(MainWindowTest, ControlsSitAtTheirPlaces) {
  EXPECT_EQ(window_.size(), QSize(270, 370));
  EXPECT_TRUE(window_.windowFlags() & Qt::FramelessWindowHint);
  const struct {
    const char* name;
    QRect place;
  } places[] = {
      {"btnMenu", {9, 4, 16, 16}},         {"lblRadio", {32, 6, 185, 17}},     {"btnMinimize", {224, 5, 16, 16}},
      {"btnClose", {246, 5, 16, 16}},      {"lblStatus", {8, 40, 257, 17}},    {"btnPlay", {8, 71, 42, 20}},
      {"btnStop", {50, 71, 40, 20}},       {"btnRec", {90, 71, 42, 20}},       {"btnBitrate", {139, 71, 38, 20}},
      {"listGroups", {0, 99, 105, 171}},   {"listStations", {104, 99, 166, 171}}, {"frmOptions", {1, 100, 268, 169}},
      {"imgBanner", {0, 269, 270, 101}},   {"lblVersion", {1, 8, 265, 17}},    {"btnOptionsOK", {112, 140, 38, 20}},
      {"optBitrate_48", {8, 16, 41, 17}},  {"optBitrate_64", {56, 16, 33, 17}}, {"optBitrate_96", {104, 16, 33, 17}},
      {"optBitrate_128", {152, 16, 41, 17}}, {"sliderVolume", {201, 77, 44, 10}},
  };
  for (const auto& p : places) {
    QWidget* w = Child<QWidget>(p.name);
    if (w != nullptr) {
      EXPECT_EQ(w->geometry(), p.place) << p.name;
    }
  }
  EXPECT_FALSE(Child<QFrame>("frmOptions")->isVisible());
  EXPECT_TRUE(Child<QRadioButton>("optBitrate_64")->isChecked());
  for (int rate : {32, 48, 64, 96, 128, 192}) {
    QLabel* badge = window_.findChild<QLabel*>(QStringLiteral("imgBitrate_%1").arg(rate));
    ASSERT_NE(badge, nullptr) << rate;
    EXPECT_FALSE(badge->isVisible());
    EXPECT_EQ(badge->pixmap().size(), QSize(38, 20)) << rate;
  }
  // The lists' back colour is grey 232.
  const QImage shot = window_.grab().toImage();
  EXPECT_EQ(shot.pixel(50, 260) & 0xFFFFFF, 0xE8E8E8u);
  EXPECT_EQ(shot.pixel(200, 260) & 0xFFFFFF, 0xE8E8E8u);
}

TEST_F(MainWindowTest, ButtonsStartWithTheirDesignLooks) {
  EXPECT_EQ(Child<ImageButton>("btnClose")->opacity(), 0);
  EXPECT_EQ(Child<ImageButton>("btnMinimize")->opacity(), 0);
  EXPECT_EQ(Child<ImageButton>("btnMenu")->grayscale(), 2);
  for (const char* name : {"btnPlay", "btnStop", "btnRec", "btnBitrate", "btnOptionsOK"}) {
    EXPECT_EQ(Child<ImageButton>(name)->grayscale(), 5) << name;
    EXPECT_EQ(Child<ImageButton>(name)->shadowDepth(), 4) << name;
  }
  for (const char* name : {"btnPlay", "btnStop", "btnRec", "btnMenu", "btnClose", "btnMinimize", "btnOptionsOK"}) {
    EXPECT_FALSE(Child<ImageButton>(name)->picture().isNull()) << name;
  }
}

struct LookCase {
  const char* button;
  QEvent::Type event;
  bool opacity;  // which property the event sets
  int value;
};

class ButtonLookTest : public MainWindowTest, public ::testing::WithParamInterface<LookCase> {};

TEST_P(ButtonLookTest, EventSetsTheLook) {
  const LookCase& c = GetParam();
  ImageButton* button = Child<ImageButton>(c.button);
  // Start from the opposite look so that the event visibly changes it.
  button->setGrayscale(c.opacity ? 0 : static_cast<std::int16_t>(c.value == 0 ? 6 : 0));
  button->setOpacity(c.opacity ? (c.value == 100 ? 0 : 100) : 100);
  Send(button, c.event);
  if (c.opacity) {
    EXPECT_EQ(button->opacity(), c.value);
  } else {
    EXPECT_EQ(button->grayscale(), c.value);
  }
}

constexpr auto kEnter = QEvent::Enter;
constexpr auto kLeave = QEvent::Leave;
constexpr auto kDown = QEvent::MouseButtonPress;
constexpr auto kUp = QEvent::MouseButtonRelease;

std::string LookCaseName(const ::testing::TestParamInfo<LookCase>& info) {
  const char* kinds[] = {"Enter", "Leave", "Down", "Up"};
  const QEvent::Type type = info.param.event;
  const int kind = type == kEnter ? 0 : type == kLeave ? 1 : type == kDown ? 2 : 3;
  return std::string(info.param.button) + kinds[kind];
}

INSTANTIATE_TEST_SUITE_P(
    Table, ButtonLookTest,
    ::testing::Values(LookCase{"btnClose", kEnter, true, 100}, LookCase{"btnClose", kLeave, true, 0},
                      LookCase{"btnMinimize", kEnter, true, 100}, LookCase{"btnMinimize", kLeave, true, 0},
                      LookCase{"btnMenu", kEnter, false, 0}, LookCase{"btnMenu", kLeave, false, 3},
                      LookCase{"btnPlay", kEnter, false, 0}, LookCase{"btnPlay", kLeave, false, 6},
                      LookCase{"btnPlay", kDown, true, 90}, LookCase{"btnPlay", kUp, true, 100},
                      LookCase{"btnStop", kEnter, false, 0}, LookCase{"btnStop", kLeave, false, 6},
                      LookCase{"btnStop", kDown, true, 90}, LookCase{"btnStop", kUp, true, 100},
                      LookCase{"btnRec", kEnter, false, 0}, LookCase{"btnRec", kLeave, false, 6},
                      LookCase{"btnRec", kDown, true, 90}, LookCase{"btnRec", kUp, true, 100},
                      LookCase{"btnBitrate", kEnter, false, 0}, LookCase{"btnBitrate", kLeave, false, 6},
                      LookCase{"btnBitrate", kDown, true, 90}, LookCase{"btnBitrate", kUp, true, 100},
                      LookCase{"btnOptionsOK", kEnter, false, 0}, LookCase{"btnOptionsOK", kLeave, false, 6},
                      LookCase{"btnOptionsOK", kDown, true, 90}, LookCase{"btnOptionsOK", kUp, true, 100}),
    LookCaseName);

TEST_F(MainWindowTest, WindowTakesTheOutlineOfItsSkin) {
  // The corners lie outside the rounded outline; every control lies inside it.
  const QRegion shape = window_.mask();
  ASSERT_FALSE(shape.isEmpty());
  for (QPoint corner : {QPoint(0, 0), QPoint(269, 0)}) EXPECT_FALSE(shape.contains(corner)) << corner.x();
  for (const char* name : {"btnMenu", "btnClose", "lblStatus", "sliderVolume", "listGroups", "imgBanner"}) {
    const QRect place = Child<QWidget>(name)->geometry();
    EXPECT_EQ(shape.intersected(place), QRegion(place)) << name;
  }
}

TEST_F(MainWindowTest, VolumeSliderStartsFullAndFollowsThePointer) {
  auto* slider = Child<skin::ucSlider>("sliderVolume");
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(slider->value(), 100);
  EXPECT_EQ(slider->thumbLeft(), 33);
  int changes = 0;
  QObject::connect(slider, &skin::ucSlider::Change, [&] { ++changes; });
  // A click at the rail's left end turns the volume down at once, through the real library.
  QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(2, 5));
  EXPECT_EQ(slider->value(), 0);
  EXPECT_EQ(changes, 1);
}

TEST_F(MainWindowTest, MenuAndCloseButtonsHaveNoPressFeedback) {
  for (const char* name : {"btnMenu", "btnClose", "btnMinimize"}) {
    ImageButton* button = Child<ImageButton>(name);
    const int before = button->opacity();
    Send(button, kDown);
    EXPECT_EQ(button->opacity(), before) << name;
  }
}

TEST_F(MainWindowTest, CloseButtonUnloadsTheWindow) {
  bool unloaded = false;
  QObject::connect(&window_, &frmVornel::unloading, [&unloaded] { unloaded = true; });
  QTest::mouseClick(Child<ImageButton>("btnClose"), Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_TRUE(unloaded);
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(MainWindowTest, ClosingTheWindowEndsTheProgramWithStatusZero) {
  QTimer::singleShot(0, &window_, [this] { window_.close(); });
  EXPECT_EQ(QApplication::exec(), 0);
}

// The real message boxes, answered the way a user would: the OK button of the modal box.
TEST(QtMessageBoxes, ShowsTextCaptionAndIconAndWaitsForOk) {
  QString seenText;
  QString seenTitle;
  QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seenText = box->text();
    seenTitle = box->windowTitle();
    seenIcon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  QtMessageBoxes().Show(QStringLiteral("Error: Can't initialize device"), QStringLiteral("Vornel"),
                        core::MessageIcon::Error);
  EXPECT_EQ(seenText, QStringLiteral("Error: Can't initialize device"));
  EXPECT_EQ(seenTitle, QStringLiteral("Vornel"));
  EXPECT_EQ(seenIcon, QMessageBox::Critical);

  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seenText = box->text();
    seenIcon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  QtMessageBoxes().Show(QStringLiteral("Line one\r\nLine two"), QStringLiteral("Vornel"), core::MessageIcon::None);
  EXPECT_EQ(seenText, QStringLiteral("Line one\nLine two"));
  EXPECT_EQ(seenIcon, QMessageBox::NoIcon);
}

}  // namespace
}  // namespace vornel::ui

