#pragma once

// A self-drawn slider: a thumb dragged along a rail, mapped to a whole value between min and max.
// It draws rail and thumb from two pictures, or without them from classic 3-D edges, into a kept
// surface that paintEvent only copies. Property setters that refuse a value return
// InvalidPropertyValue and change nothing.
//
// Everything runs on the GUI thread. Events are raised synchronously from inside the setter or
// pointer handler that caused them, after the new value is stored and drawn; a handler may assign
// properties again.

#include <QImage>
#include <QWidget>

#include <cstdint>

#include "skin/slider_geometry.h"

namespace vornel::skin {

class PropertyBag;

enum class PropertyError : int { None = 0, InvalidPropertyValue = 380 };

class ucSlider : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::uint32_t kButtonFace = 0x8000000Fu;  // system colour 15

  explicit ucSlider(QWidget* parent = nullptr);

  // Properties. Reading uses the property's own name, assigning Let + the name.
  bool Enabled() const { return Enabled_; }
  void LetEnabled(bool New_Enabled) { Enabled_ = New_Enabled; }  // drawing unchanged
  std::uint32_t BackColor() const { return BackColor_; }
  void LetBackColor(std::uint32_t New_BackColor);
  std::int32_t MousePointer() const { return MousePointer_; }
  void LetMousePointer(std::int32_t New_MousePointer);
  const QImage& MouseIcon() const { return MouseIcon_; }
  void LetMouseIcon(const QImage& New_MouseIcon);
  int max() const { return max_; }
  [[nodiscard]] PropertyError LetMax(int New_Max);
  int min() const { return min_; }
  [[nodiscard]] PropertyError LetMin(int New_Min);
  int value() const { return value_; }
  [[nodiscard]] PropertyError LetValue(int New_Value);
  int Orientation() const { return Orientation_; }
  void LetOrientation(int New_Orientation);
  int RailStyle() const { return RailStyle_; }
  void LetRailStyle(int New_RailStyle);
  const QImage& SliderImage() const { return imgSlider_.picture; }
  void LetSliderImage(const QImage& New_SliderImage);
  const QImage& RailImage() const { return imgRail_.picture; }
  void LetRailImage(const QImage& New_RailImage);
  bool ShowValueTip() const { return ShowValueTip_; }
  void LetShowValueTip(bool New_ShowValueTip) { ShowValueTip_ = New_ShowValueTip; }

  // Life cycle: a new instance's defaults (the constructor applies them), and the persisted store.
  void InitProperties();
  void ReadProperties(const PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;

  // Sizes the widget from its pictures, places the thumb and the rail, and redraws. The host
  // runs it after sizing the widget; every later resize runs it too.
  void Layout();
  void Redraw();
  // Puts the thumb at the min end.
  void ResetThumb();

  // Pointer input as the host reports it: button 1 left, 2 right, 4 middle; Shift 1 shift,
  // 2 ctrl, 4 alt; x and y in pixels from the client area's top-left corner. A value the
  // setter refuses is returned to the caller.
  PropertyError Press(int button, std::int16_t Shift, double x, double y);
  PropertyError Move(int button, std::int16_t Shift, double x, double y);
  void Release(int button, std::int16_t Shift, double x, double y);

  // Read-outs of the geometry.
  double thumbLeft() const { return imgSlider_.left; }
  double thumbTop() const { return imgSlider_.top; }
  double thumbWidth() const { return imgSlider_.width; }
  double thumbHeight() const { return imgSlider_.height; }
  double TrackLength() const;
  const EdgeRect& RailRect() const { return RailRect_; }
  const EdgeRect& ThumbRect() const { return ThumbRect_; }
  bool Dragging() const { return Dragging_; }
  std::int64_t Range() const { return Range_; }
  int UnitsPerPixelX() const { return UnitsPerPixelX_; }
  int UnitsPerPixelY() const { return UnitsPerPixelY_; }
  // What the last Redraw drew.
  const QImage& surface() const { return surface_; }

 signals:
  void Click();
  void ArrivedFirst();
  void ArrivedLast();
  void Change();
  // The modifier mask of the press or release; a handler's change to it would have no effect.
  void MouseDown(std::int16_t Shift);
  void MouseUp(std::int16_t Shift);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Carries a picture and a geometry; draws nothing itself.
  struct Holder {
    QImage picture;
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    bool present() const { return !picture.isNull(); }
  };

  bool horizontal() const { return Orientation_ == OrientationHorizontal; }
  bool vertical() const { return Orientation_ == OrientationVertical; }
  void placeThumbAlongAxis();
  int ValueFromThumb();
  // The value tip shows nothing; the step is kept so that a tip has its place.
  void UpdateValueTip() {}
  static void Put(Holder& holder, const QImage& picture, int defaultWidth, int defaultHeight);
  void applyPointer();

  bool Dragging_ = false;
  float GrabX_ = 0;
  float GrabY_ = 0;
  EdgeRect RailRect_;
  EdgeRect ThumbRect_;
  std::int64_t Range_ = 10;  // max - min; wide, so that no pair of 32-bit ends overflows it
  int LastValue_ = 0;
  int UnitsPerPixelX_ = 15;
  int UnitsPerPixelY_ = 15;
  bool Enabled_ = true;
  int Orientation_ = OrientationVertical;
  int RailStyle_ = RailSunken;
  bool ShowValueTip_ = true;
  int min_ = 0;
  int max_ = 10;
  int value_ = 0;

  // Of the drawing surface.
  std::uint32_t BackColor_ = kButtonFace;
  std::int16_t MousePointer_ = 0;
  QImage MouseIcon_;

  Holder imgSlider_;
  Holder imgRail_;
  QImage surface_;
};

}  // namespace vornel::skin
