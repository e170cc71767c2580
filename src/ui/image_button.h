#pragma once

// The skinned image button: shows one picture with an alpha channel, in full colour or in grey,
// at an opacity, optionally over a drop shadow, and raises five events. The window decides the
// looks; the button only honours them.

#include <QImage>
#include <QWidget>

#include <cstdint>

class QLabel;

namespace vornel::ui {

class ImageButton : public QWidget {
  Q_OBJECT

 public:
  explicit ImageButton(QWidget* parent = nullptr);

  void setPicture(const QImage& picture);
  const QImage& picture() const { return picture_; }
  // Picture assignment: the button shows the picture that `image` shows (nothing when it has none).
  void setPictureFrom(const QLabel& image);

  // 0 = full colour; any other code is a grey rendering (the windows use 2, 3, 5 and 6).
  void setGrayscale(std::int16_t mode);
  std::int16_t grayscale() const { return grayscale_; }

  // Per cent, 0 (invisible, though it still sees the pointer) to 100.
  void setOpacity(std::int32_t percent);
  std::int32_t opacity() const { return opacity_; }

  // The light comes from (x, y) relative to the picture; the shadow falls the other way, `depth`
  // setting its softness and darkness. Depth 0 draws no shadow.
  void setShadow(int depth, int x, int y);
  int shadowDepth() const { return shadowDepth_; }

  // The picture as it is drawn now (grey rendering and shadow applied, opacity not).
  QImage renderedImage() const;

  QSize sizeHint() const override;

 signals:
  void Click();
  void MouseEnter();
  void MouseLeave();
  void MouseDown();
  void MouseUp();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // Reached by Tab: Enter or Return clicks, and the focus shows as a mark around the picture.
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void invalidate();

  QImage picture_;
  std::int16_t grayscale_ = 0;
  std::int32_t opacity_ = 100;
  int shadowDepth_ = 0;
  int shadowX_ = 0;
  int shadowY_ = 0;
  bool pressed_ = false;
  mutable QImage rendered_;  // cache of renderedImage(), emptied by every change
};

// The grey rendering: luminance, alpha kept.
QImage GreyRendering(const QImage& picture);

}  // namespace vornel::ui
