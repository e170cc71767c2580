#include "skin/uc_slider.h"

#include <QCursor>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include "skin/draw_edge.h"
#include "skin/property_bag.h"

namespace vornel::skin {

Q_LOGGING_CATEGORY(lcSkin, "vornel.skin")

namespace {

constexpr int kThumbDefaultWidth = 16;
constexpr int kThumbDefaultHeight = 16;
constexpr int kRailDefaultWidth = 16;
constexpr int kRailDefaultHeight = 17;
constexpr int kRailPadding = 4;  // a picture rail leaves 2 pixels at each end for the thumb's centre
constexpr int kTwipsPerInch = 1440;
constexpr std::int16_t kCustomPointer = 99;

// A new instance's values, which are also what an absent stored property reads as and what is
// never written.
constexpr int kDefaultOrientation = OrientationVertical;
constexpr int kDefaultRailStyle = RailSunken;
constexpr int kDefaultMin = 0;
constexpr int kDefaultMax = 10;
constexpr int kDefaultValue = 0;

int TwipsPerPixel(double dotsPerInch) { return dotsPerInch > 0 ? Nearest(kTwipsPerInch / dotsPerInch) : 15; }

int ButtonCode(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    case Qt::MiddleButton:
      return 4;
    default:
      return 0;
  }
}

std::int16_t ShiftCode(Qt::KeyboardModifiers modifiers) {
  std::int16_t mask = 0;
  if (modifiers & Qt::ShiftModifier) mask |= 1;
  if (modifiers & Qt::ControlModifier) mask |= 2;
  if (modifiers & Qt::AltModifier) mask |= 4;
  return mask;
}

// The edge kind of each drawn rail style; a style without one draws no rail.
std::optional<unsigned> RailEdge(int style) {
  switch (style) {
    case RailSunken:
      return EDGE_SUNKEN;
    case RailRaised:
      return EDGE_RAISED;
    case RailSunkenThin:
      return BDR_SUNKENOUTER;
    case RailRaisedThin:
      return BDR_RAISEDINNER;
    case RailNone:
      return 0u;
    default:
      return std::nullopt;
  }
}

Qt::CursorShape PointerShape(std::int16_t code) {
  switch (code) {
    case 2:
      return Qt::CrossCursor;
    case 3:
      return Qt::IBeamCursor;
    case 5:
    case 15:
      return Qt::SizeAllCursor;
    case 6:
      return Qt::SizeBDiagCursor;
    case 7:
      return Qt::SizeVerCursor;
    case 8:
      return Qt::SizeFDiagCursor;
    case 9:
      return Qt::SizeHorCursor;
    case 10:
      return Qt::UpArrowCursor;
    case 11:
      return Qt::WaitCursor;
    case 12:
      return Qt::ForbiddenCursor;
    case 13:
      return Qt::BusyCursor;
    case 14:
      return Qt::WhatsThisCursor;
    default:
      return Qt::ArrowCursor;
  }
}

}  // namespace

ucSlider::ucSlider(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ucSlider"));
  // Presses and drags only; the value changes by pointer or by assignment.
  setFocusPolicy(Qt::NoFocus);
  const QScreen* screen = this->screen();
  if (screen != nullptr) {
    UnitsPerPixelX_ = TwipsPerPixel(screen->logicalDotsPerInchX());
    UnitsPerPixelY_ = TwipsPerPixel(screen->logicalDotsPerInchY());
  }
  Put(imgSlider_, QImage(), kThumbDefaultWidth, kThumbDefaultHeight);
  Put(imgRail_, QImage(), kRailDefaultWidth, kRailDefaultHeight);
  InitProperties();
}

// ---- properties ---------------------------------------------------------------------------------

void ucSlider::LetBackColor(std::uint32_t New_BackColor) {
  BackColor_ = New_BackColor;
  Redraw();
}

void ucSlider::LetMousePointer(std::int32_t New_MousePointer) {
  MousePointer_ = static_cast<std::int16_t>(New_MousePointer);
  applyPointer();
}

void ucSlider::LetMouseIcon(const QImage& New_MouseIcon) {
  MouseIcon_ = New_MouseIcon;
  applyPointer();
}

void ucSlider::applyPointer() {
  if (MousePointer_ == 0) {
    unsetCursor();
  } else if (MousePointer_ == kCustomPointer) {
    if (MouseIcon_.isNull()) {
      unsetCursor();
    } else {
      setCursor(QCursor(QPixmap::fromImage(MouseIcon_)));
    }
  } else {
    setCursor(PointerShape(MousePointer_));
  }
}

PropertyError ucSlider::LetMax(int New_Max) {
  if (min_ >= New_Max) return PropertyError::InvalidPropertyValue;
  // The value may now lie above max; the thumb follows at the next layout or value change.
  max_ = New_Max;
  Range_ = static_cast<std::int64_t>(max_) - min_;
  return PropertyError::None;
}

PropertyError ucSlider::LetMin(int New_Min) {
  if (New_Min >= max_) return PropertyError::InvalidPropertyValue;
  min_ = New_Min;
  // Placed while the range still spans the old ends: the offset of min is 0 either way.
  const PropertyError result = LetValue(New_Min);
  Range_ = static_cast<std::int64_t>(max_) - min_;
  return result;
}

PropertyError ucSlider::LetValue(int New_Value) {
  if (New_Value < min_ || New_Value > max_) return PropertyError::InvalidPropertyValue;
  value_ = New_Value;
  if (New_Value == LastValue_) return PropertyError::None;
  // During a drag the pointer has already put the thumb on this value.
  if (!Dragging_) placeThumbAlongAxis();
  Redraw();
  LastValue_ = value_;
  emit Change();
  if (value_ == max_) emit ArrivedLast();
  if (value_ == min_) emit ArrivedFirst();
  return PropertyError::None;
}

void ucSlider::LetOrientation(int New_Orientation) {
  Orientation_ = New_Orientation;
  ResetThumb();
  Layout();
}

void ucSlider::LetRailStyle(int New_RailStyle) {
  RailStyle_ = New_RailStyle;
  Layout();
}

void ucSlider::LetSliderImage(const QImage& New_SliderImage) {
  Put(imgSlider_, New_SliderImage, kThumbDefaultWidth, kThumbDefaultHeight);
  Layout();
}

void ucSlider::LetRailImage(const QImage& New_RailImage) {
  Put(imgRail_, New_RailImage, kRailDefaultWidth, kRailDefaultHeight);
  Layout();
}

void ucSlider::Put(Holder& holder, const QImage& picture, int defaultWidth, int defaultHeight) {
  holder.picture = picture;
  // A holder whose picture is taken away measures what it measured before it had one.
  // Measured in the window's own units: a picture for a 2x screen is twice as many pixels.
  holder.width = static_cast<float>(picture.isNull() ? defaultWidth : picture.deviceIndependentSize().width());
  holder.height = static_cast<float>(picture.isNull() ? defaultHeight : picture.deviceIndependentSize().height());
}

// ---- persistence --------------------------------------------------------------------------------

void ucSlider::InitProperties() {
  Enabled_ = true;
  ShowValueTip_ = true;
  Orientation_ = kDefaultOrientation;
  max_ = kDefaultMax;
  Range_ = kDefaultMax - kDefaultMin;
  RailStyle_ = kDefaultRailStyle;
  min_ = kDefaultMin;
  value_ = kDefaultValue;
  LastValue_ = kDefaultValue;
  ResetThumb();
}

void ucSlider::ReadProperties(const PropertyBag& bag) {
  // Taken as stored: nothing is checked or clamped, no layout runs and no event is raised.
  BackColor_ = bag.ReadProperty(QStringLiteral("BackColor"), kButtonFace).toUInt();
  MousePointer_ = static_cast<std::int16_t>(bag.ReadProperty(QStringLiteral("MousePointer"), 0).toInt());
  LetMouseIcon(bag.ReadProperty(QStringLiteral("MouseIcon"), QImage()).value<QImage>());
  Enabled_ = bag.ReadProperty(QStringLiteral("Enabled"), true).toBool();
  Orientation_ = bag.ReadProperty(QStringLiteral("Orientation"), kDefaultOrientation).toInt();
  RailStyle_ = bag.ReadProperty(QStringLiteral("RailStyle"), kDefaultRailStyle).toInt();
  ShowValueTip_ = bag.ReadProperty(QStringLiteral("ShowValueTip"), true).toBool();
  min_ = bag.ReadProperty(QStringLiteral("Min"), kDefaultMin).toInt();
  max_ = bag.ReadProperty(QStringLiteral("Max"), kDefaultMax).toInt();
  value_ = bag.ReadProperty(QStringLiteral("Value"), kDefaultValue).toInt();
  Put(imgSlider_, bag.ReadProperty(QStringLiteral("SliderImage"), QImage()).value<QImage>(), kThumbDefaultWidth,
      kThumbDefaultHeight);
  Put(imgRail_, bag.ReadProperty(QStringLiteral("RailImage"), QImage()).value<QImage>(), kRailDefaultWidth,
      kRailDefaultHeight);
  Range_ = static_cast<std::int64_t>(max_) - min_;
  LastValue_ = value_;
  // Both axes at once; the layout that follows the host's sizing replaces the one across the axis.
  if (auto left = OffsetForValue(false, width() - imgSlider_.width, value_, min_, Range_))
    imgSlider_.left = static_cast<float>(*left);
  if (auto top = OffsetForValue(true, height() - imgSlider_.height, value_, min_, Range_))
    imgSlider_.top = static_cast<float>(*top);
}

void ucSlider::WriteProperties(PropertyBag& bag) const {
  bag.WriteProperty(QStringLiteral("BackColor"), BackColor_, kButtonFace);
  bag.WriteProperty(QStringLiteral("Enabled"), Enabled_, true);
  bag.WriteProperty(QStringLiteral("MouseIcon"), MouseIcon_, QImage());
  bag.WriteProperty(QStringLiteral("MousePointer"), MousePointer_, std::int16_t{0});
  bag.WriteProperty(QStringLiteral("SliderImage"), imgSlider_.picture, QImage());
  bag.WriteProperty(QStringLiteral("Orientation"), Orientation_, kDefaultOrientation);
  bag.WriteProperty(QStringLiteral("RailImage"), imgRail_.picture, QImage());
  bag.WriteProperty(QStringLiteral("RailStyle"), RailStyle_, kDefaultRailStyle);
  bag.WriteProperty(QStringLiteral("ShowValueTip"), ShowValueTip_, true);
  bag.WriteProperty(QStringLiteral("Min"), min_, kDefaultMin);
  bag.WriteProperty(QStringLiteral("Max"), max_, kDefaultMax);
  bag.WriteProperty(QStringLiteral("Value"), value_, kDefaultValue);
}

// ---- geometry and drawing -----------------------------------------------------------------------

double ucSlider::TrackLength() const {
  if (horizontal()) return width() - imgSlider_.width;
  if (vertical()) return height() - imgSlider_.height;
  return 0;
}

void ucSlider::placeThumbAlongAxis() {
  const auto offset = OffsetForValue(vertical(), TrackLength(), value_, min_, Range_);
  if (!offset) return;  // no range: the thumb stays
  if (horizontal()) imgSlider_.left = static_cast<float>(*offset);
  if (vertical()) imgSlider_.top = static_cast<float>(*offset);
}

void ucSlider::ResetThumb() {
  imgSlider_.left = 0;
  imgSlider_.top = vertical() ? static_cast<float>(height() - imgSlider_.height) : 0.0f;
}

void ucSlider::Layout() {
  if (horizontal() || vertical()) {
    const float W = imgSlider_.width;
    const float H = imgSlider_.height;
    const float RW = imgRail_.width;
    const float RH = imgRail_.height;
    const bool pictureRail = imgRail_.present() && RailStyle_ == RailPicture;

    // Each resize may run a nested Layout, which finds the size right and repeats the rest.
    if (pictureRail && horizontal()) {
      resize(Nearest(RW + kRailPadding), Nearest(H < RH ? RH : H));
    } else if (pictureRail) {
      resize(Nearest(W < RW ? RW : W), Nearest(RH + kRailPadding));
    } else if (horizontal()) {
      if (width() == 0) resize(Nearest(W), height());
      resize(width(), Nearest(H));
    } else {
      if (height() == 0) resize(width(), Nearest(H));
      resize(Nearest(W), height());
    }

    const float across = pictureRail && (horizontal() ? H < RH : W < RW)
                             ? static_cast<float>(Halved(horizontal() ? RH - H : RW - W))
                             : 0.0f;
    if (horizontal()) {
      imgSlider_.top = across;
    } else {
      imgSlider_.left = across;
    }
    placeThumbAlongAxis();
    RailRect_ = RailBand(vertical(), width(), height(), W, H);
  }
  Redraw();
}

void ucSlider::Redraw() {
  const qreal ratio = devicePixelRatioF();
  if (surface_.size() != size() * ratio || surface_.devicePixelRatio() != ratio) {
    surface_ = QImage(size() * ratio, QImage::Format_RGB32);
    surface_.setDevicePixelRatio(ratio);
  }
  surface_.fill(ColourFromStored(BackColor_));
  QPainter painter(&surface_);
  if (painter.isActive()) {
    if (RailStyle_ == RailPicture) {
      if (imgRail_.present() && horizontal()) {
        painter.drawImage(2, Halved(height() - imgRail_.height), imgRail_.picture);
      } else if (imgRail_.present() && vertical()) {
        painter.drawImage(Halved(width() - imgRail_.width), 2, imgRail_.picture);
      }
    } else if (const auto edge = RailEdge(RailStyle_)) {
      DrawEdge(painter, RailRect_, *edge, BF_RECT);
    }

    if (imgSlider_.present()) {
      painter.drawImage(Nearest(imgSlider_.left), Nearest(imgSlider_.top), imgSlider_.picture);
    } else {
      ThumbRect_.left = Nearest(imgSlider_.left);
      ThumbRect_.top = Nearest(imgSlider_.top);
      ThumbRect_.right = Nearest(imgSlider_.width + ThumbRect_.left);
      ThumbRect_.bottom = Nearest(imgSlider_.height + ThumbRect_.top);
      painter.fillRect(ThumbRect_.left, ThumbRect_.top, ThumbRect_.right - ThumbRect_.left,
                       ThumbRect_.bottom - ThumbRect_.top, SystemColour(COLOR_BTNFACE));
      DrawEdge(painter, ThumbRect_, EDGE_RAISED, BF_RECT);
    }
  }
  painter.end();
  if (ShowValueTip_ && Dragging_) UpdateValueTip();
  update();
}

int ucSlider::ValueFromThumb() {
  const double offset = vertical() ? imgSlider_.top : imgSlider_.left;
  const SnappedThumb snapped = ValueFromOffset(vertical(), TrackLength(), offset, min_, Range_);
  if (snapped.offset && horizontal()) imgSlider_.left = static_cast<float>(*snapped.offset);
  if (snapped.offset && vertical()) imgSlider_.top = static_cast<float>(*snapped.offset);
  return snapped.value;
}

// ---- pointer ------------------------------------------------------------------------------------

PropertyError ucSlider::Press(int button, std::int16_t Shift, double x, double y) {
  if (!Enabled_ || button != 1) return PropertyError::None;
  Dragging_ = true;
  const Holder& t = imgSlider_;
  const bool onThumb = t.left <= x && x < t.left + t.width && t.top <= y && y < t.top + t.height;
  if (onThumb) {
    GrabX_ = static_cast<float>(x - t.left);
    GrabY_ = static_cast<float>(y - t.top);
  } else {
    // A press on the rail brings the thumb's centre under the pointer at once.
    GrabX_ = static_cast<float>(Halved(t.width));
    GrabY_ = static_cast<float>(Halved(t.height));
    const PropertyError result = Move(button, Shift, x, y);
    if (result != PropertyError::None) return result;
  }
  if (ShowValueTip_) UpdateValueTip();
  emit MouseDown(Shift);
  return PropertyError::None;
}

PropertyError ucSlider::Move(int /*button*/, std::int16_t /*Shift*/, double x, double y) {
  if (!Dragging_ || !(horizontal() || vertical())) return PropertyError::None;
  const double track = TrackLength();
  const double p = horizontal() ? x - GrabX_ : y - GrabY_;
  const double offset = p < 0 ? 0 : (track < p ? track : p);
  if (horizontal()) {
    imgSlider_.left = static_cast<float>(offset);
  } else {
    imgSlider_.top = static_cast<float>(offset);
  }
  return LetValue(ValueFromThumb());
}

void ucSlider::Release(int button, std::int16_t Shift, double x, double y) {
  if (button == 1 && x >= 0 && x < width() && y >= 0 && y < height()) emit Click();
  if (Dragging_) emit MouseUp(Shift);
  Dragging_ = false;
}

// ---- host ---------------------------------------------------------------------------------------

void ucSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, surface_);
}

void ucSlider::resizeEvent(QResizeEvent*) { Layout(); }

void ucSlider::showEvent(QShowEvent*) { Redraw(); }

// Only stored data that breaks min < max can make the pointer produce a refused value.
void ucSlider::mousePressEvent(QMouseEvent* event) {
  if (Press(ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
            event->position().y()) != PropertyError::None)
    qCWarning(lcSkin) << objectName() << "refused the value under the pointer";
}

void ucSlider::mouseMoveEvent(QMouseEvent* event) {
  if (Move(ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
           event->position().y()) != PropertyError::None)
    qCWarning(lcSkin) << objectName() << "refused the value under the pointer";
}

void ucSlider::mouseReleaseEvent(QMouseEvent* event) {
  Release(ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
          event->position().y());
}

}  // namespace vornel::skin
