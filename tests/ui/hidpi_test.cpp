// The window on a screen of device pixel ratio 2 (ctest runs this binary with QT_SCALE_FACTOR=2):
// drawn from the twice-as-large pictures, laid out and shaped in the same units as at ratio 1.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QTest>

#include "support/program_folder.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/skin_style.h"

namespace vornel::ui {
namespace {

// The share of pixels of `area` (in device pixels) where two pictures agree.
double Agreement(const QImage& a, const QImage& b, const QRect& area) {
  int same = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) same += a.pixel(x, y) == b.pixel(x, y) ? 1 : 0;
  }
  return static_cast<double>(same) / (area.width() * area.height());
}

class HiDpiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qApp->devicePixelRatio() != 2.0) GTEST_SKIP() << "run with QT_SCALE_FACTOR=2";
  }
};

TEST_F(HiDpiTest, WindowIsDrawnFromTheSharpPicturesAtItsOwnSize) {
  frmVornel window;
  window.ApplyWindowShape();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.size(), QSize(frmVornel::kWidth, frmVornel::kHeight));

  const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(2 * frmVornel::kWidth, 2 * frmVornel::kHeight));
  // The banner corner, under no control, is the sharp picture pixel for pixel; an enlarged 1x
  // picture would differ along every edge of the logo.
  const QImage sharp = QImage(":/skin/main@2x.png").convertToFormat(QImage::Format_RGB32);
  const QImage enlarged = SkinPicture("main.png").scaled(sharp.size()).convertToFormat(QImage::Format_RGB32);
  const QRect banner(20, 560, 500, 160);
  EXPECT_GT(Agreement(shot, sharp, banner), 0.99);
  EXPECT_LT(Agreement(shot, enlarged, banner), 0.9);

  // Buttons keep their sizes in the window's units and draw from twice the pixels.
  auto* play = window.findChild<ImageButton*>("btnPlay");
  ASSERT_NE(play, nullptr);
  EXPECT_EQ(play->sizeHint(), QSize(42, 20));
  EXPECT_EQ(play->grab().toImage().size(), QSize(84, 40));
  EXPECT_EQ(window.childAt(play->geometry().center()), play);
}

TEST_F(HiDpiTest, OutlineIsTheOneOfTheOneTimesPicture) {
  frmVornel window;
  window.ApplyWindowShape();
  const QImage guide = SkinPicture("main.png");
  const QRegion outline = window.mask();
  if (outline.isEmpty()) GTEST_SKIP() << "the platform keeps no window outline";
  int checked = 0;
  for (int y = 0; y < guide.height(); y += 3) {
    for (int x = 0; x < guide.width(); x += 3) {
      EXPECT_EQ(outline.contains(QPoint(x, y)), guide.pixel(x, y) != guide.pixel(0, 0)) << x << "," << y;
      ++checked;
    }
  }
  EXPECT_GT(checked, 10000);
}

}  // namespace
}  // namespace vornel::ui
