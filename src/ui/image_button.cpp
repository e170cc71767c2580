#include "ui/image_button.h"

#include <QLabel>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPen>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace vornel::ui {

namespace {

// A box blur of the alpha channel; enough to soften a shadow a few pixels deep.
QImage BlurredAlpha(const QImage& source, int radius) {
  if (radius <= 0) return source;
  QImage out = source;
  const int w = source.width();
  const int h = source.height();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int sum = 0;
      int count = 0;
      for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
          const int sx = x + dx;
          const int sy = y + dy;
          ++count;
          if (sx >= 0 && sy >= 0 && sx < w && sy < h) sum += qAlpha(source.pixel(sx, sy));
        }
      }
      out.setPixel(x, y, qRgba(0, 0, 0, sum / count));
    }
  }
  return out;
}

}  // namespace

QImage GreyRendering(const QImage& picture) {
  QImage grey = picture.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < grey.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
    for (int x = 0; x < grey.width(); ++x) {
      const QRgb p = line[x];
      const int luma = (qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114 + 500) / 1000;
      line[x] = qRgba(luma, luma, luma, qAlpha(p));
    }
  }
  return grey;
}

ImageButton::ImageButton(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);
  setMouseTracking(true);
}

void ImageButton::setPicture(const QImage& picture) {
  picture_ = picture.convertToFormat(QImage::Format_ARGB32);
  invalidate();
}

void ImageButton::setPictureFrom(const QLabel& image) {
  const QPixmap pixmap = image.pixmap();
  setPicture(pixmap.isNull() ? QImage() : pixmap.toImage());
}

void ImageButton::setGrayscale(std::int16_t mode) {
  if (mode == grayscale_) return;
  grayscale_ = mode;
  invalidate();
}

void ImageButton::setOpacity(std::int32_t percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == opacity_) return;
  opacity_ = percent;
  update();
}

void ImageButton::setShadow(int depth, int x, int y) {
  shadowDepth_ = std::max(0, depth);
  shadowX_ = x;
  shadowY_ = y;
  invalidate();
}

void ImageButton::invalidate() {
  rendered_ = QImage();
  updateGeometry();
  update();
}

QImage ImageButton::renderedImage() const {
  if (!rendered_.isNull() || picture_.isNull()) return rendered_;
  const QImage face = grayscale_ != 0 ? GreyRendering(picture_) : picture_;
  if (shadowDepth_ == 0) {
    rendered_ = face;
    return rendered_;
  }
  // The shadow keeps inside the picture's own rectangle, so the button never paints over its
  // neighbours; the pictures leave room for it at their edges.
  // Offsets and blur are in the window's units; a sharper picture has more pixels to each.
  const qreal ratio = face.devicePixelRatio();
  const int dx = -shadowX_ / 2;
  const int dy = -shadowY_ / 2;
  QImage shadow = BlurredAlpha(face, static_cast<int>(shadowDepth_ / 4 * ratio));
  shadow.setDevicePixelRatio(ratio);
  rendered_ = QImage(face.size(), QImage::Format_ARGB32_Premultiplied);
  rendered_.setDevicePixelRatio(ratio);
  rendered_.fill(Qt::transparent);
  QPainter painter(&rendered_);
  painter.setOpacity(std::min(1.0, 0.1 * shadowDepth_));
  painter.drawImage(dx, dy, shadow);
  painter.setOpacity(1.0);
  painter.drawImage(0, 0, face);
  return rendered_;
}

QSize ImageButton::sizeHint() const {
  return picture_.isNull() ? QSize(16, 16) : picture_.deviceIndependentSize().toSize();
}

void ImageButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (hasFocus()) {
    // The skin's accent, dotted, inside the button's own rectangle.
    painter.setPen(QPen(QColor(0xE3, 0x9B, 0x2D), 1, Qt::DotLine));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  }
  if (opacity_ == 0 || picture_.isNull()) return;
  painter.setOpacity(opacity_ / 100.0);
  painter.drawImage(0, 0, renderedImage());
}

void ImageButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
    QWidget::keyPressEvent(event);
    return;
  }
  emit MouseDown();
  emit MouseUp();
  emit Click();
}

void ImageButton::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void ImageButton::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void ImageButton::enterEvent(QEnterEvent*) { emit MouseEnter(); }

void ImageButton::leaveEvent(QEvent*) { emit MouseLeave(); }

void ImageButton::mousePressEvent(QMouseEvent* event) {
  pressed_ = true;
  emit MouseDown();
  event->accept();
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && rect().contains(event->position().toPoint());
  pressed_ = false;
  emit MouseUp();
  if (click) emit Click();
  event->accept();
}

}  // namespace vornel::ui
