#include "ui/image_button.h"

#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

namespace vornel::ui {
namespace {

// A 10 x 10 red square inside a 14 x 14 transparent picture: room at the edges for a shadow.
QImage RedSquare() {
  QImage image(14, 14, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 2; y < 12; ++y)
    for (int x = 2; x < 12; ++x) image.setPixel(x, y, qRgba(220, 30, 30, 255));
  return image;
}

class ImageButtonTest : public ::testing::Test {
 protected:
  ImageButtonTest() {
    host_.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    host_.setPalette(palette);
    host_.resize(40, 40);
    button_ = new ImageButton(&host_);
    button_->setGeometry(0, 0, 14, 14);
    button_->setPicture(RedSquare());
    host_.show();
  }
  QRgb Shown(int x, int y) { return host_.grab().toImage().pixel(x, y); }

  QWidget host_;
  ImageButton* button_;
};

TEST_F(ImageButtonTest, StartsInColourFullyOpaqueWithoutShadow) {
  EXPECT_EQ(button_->grayscale(), 0);
  EXPECT_EQ(button_->opacity(), 100);
  EXPECT_EQ(button_->shadowDepth(), 0);
  EXPECT_EQ(Shown(5, 5), qRgb(220, 30, 30));
  EXPECT_EQ(Shown(0, 0), qRgb(255, 255, 255));
}

TEST_F(ImageButtonTest, EveryNonZeroGreyscaleCodeRendersGreyAndZeroRestoresColour) {
  for (std::int16_t mode : {2, 3, 5, 6}) {
    button_->setGrayscale(mode);
    const QRgb p = Shown(5, 5);
    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << mode;
    EXPECT_EQ(qAlpha(button_->renderedImage().pixel(0, 0)), 0) << "transparency kept, mode " << mode;
  }
  button_->setGrayscale(0);
  EXPECT_EQ(Shown(5, 5), qRgb(220, 30, 30));
}

TEST_F(ImageButtonTest, OpacityZeroHidesNinetyDimsHundredShows) {
  button_->setOpacity(0);
  EXPECT_EQ(Shown(5, 5), qRgb(255, 255, 255));
  button_->setOpacity(90);
  const QRgb dimmed = Shown(5, 5);
  EXPECT_GT(qGreen(dimmed), 30);   // white shows through
  EXPECT_LT(qGreen(dimmed), 80);
  button_->setOpacity(100);
  EXPECT_EQ(Shown(5, 5), qRgb(220, 30, 30));
}

TEST_F(ImageButtonTest, ShadowFallsAwayFromTheLight) {
  button_->setShadow(4, -4, -4);  // light from the top left
  const QImage rendered = button_->renderedImage();
  EXPECT_GT(qAlpha(rendered.pixel(12, 12)), 0);  // below right of the square
  EXPECT_EQ(qAlpha(rendered.pixel(1, 1)), 0);    // nothing above left
  EXPECT_EQ(rendered.pixel(5, 5), qRgb(220, 30, 30) | 0xFF000000u);
}

TEST_F(ImageButtonTest, PictureAssignmentTakesTheOtherImagesPicture) {
  QLabel badge;
  QImage blue(38, 20, QImage::Format_ARGB32);
  blue.fill(qRgba(0, 0, 255, 255));
  badge.setPixmap(QPixmap::fromImage(blue));
  button_->setPictureFrom(badge);
  EXPECT_EQ(button_->picture().size(), QSize(38, 20));
  EXPECT_EQ(button_->picture().pixel(3, 3), qRgba(0, 0, 255, 255));

  QLabel empty;
  button_->setPictureFrom(empty);
  EXPECT_TRUE(button_->picture().isNull());
  EXPECT_EQ(Shown(5, 5), qRgb(255, 255, 255));
}

TEST_F(ImageButtonTest, RaisesTheFiveEvents) {
  QSignalSpy enter(button_, &ImageButton::MouseEnter);
  QSignalSpy leave(button_, &ImageButton::MouseLeave);
  QSignalSpy down(button_, &ImageButton::MouseDown);
  QSignalSpy up(button_, &ImageButton::MouseUp);
  QSignalSpy click(button_, &ImageButton::Click);

  QEnterEvent enterEvent(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
  QCoreApplication::sendEvent(button_, &enterEvent);
  QEvent leaveEvent(QEvent::Leave);
  QCoreApplication::sendEvent(button_, &leaveEvent);
  EXPECT_EQ(enter.count(), 1);
  EXPECT_EQ(leave.count(), 1);

  QTest::mouseClick(button_, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(button_, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(down.count(), 2);
  EXPECT_EQ(up.count(), 2);
  EXPECT_EQ(click.count(), 2);

  // Released outside: down and up, but no click.
  QTest::mousePress(button_, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(down.count(), 3);
  EXPECT_EQ(up.count(), 3);
  EXPECT_EQ(click.count(), 2);
}

TEST_F(ImageButtonTest, AnInvisibleButtonStillSeesThePointer) {
  button_->setOpacity(0);
  QSignalSpy enter(button_, &ImageButton::MouseEnter);
  QEnterEvent enterEvent(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
  QCoreApplication::sendEvent(button_, &enterEvent);
  EXPECT_EQ(enter.count(), 1);
}

}  // namespace
}  // namespace vornel::ui
