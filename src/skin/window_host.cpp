#include "skin/window_host.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vornel::skin {
namespace {

using namespace vornel::platform;

// Forgets the update record once the widget has painted it.
class PaintWatcher : public QObject {
 public:
  PaintWatcher(QWidget* widget, Region* update) : QObject(widget), update_(update) {
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) *update_ = Region();
    return QObject::eventFilter(watched, event);
  }

 private:
  Region* update_;
};

struct Window {
  QPointer<QWidget> widget;
  std::optional<Region> shape;
  Region update;
};

// Window handles are multiples of 4 in [kFirstWindow, kLastWindow): above every graphics handle
// and below 2^31, so that they also read as positive 32-bit numbers.
constexpr HWND kFirstWindow = 0x40000000u;
constexpr HWND kLastWindow = 0x7FFFFFF0u;

struct WindowTable {
  // Entries are nodes, so the update record's address stays put for the watcher.
  std::unordered_map<HWND, Window> windows;
  std::unordered_map<const QWidget*, HWND> byWidget;
  HWND next = kFirstWindow;
};

WindowTable& table() {
  static WindowTable t;
  return t;
}

Window* live(HWND handle) {
  auto& windows = table().windows;
  const auto it = windows.find(handle);
  if (it == windows.end() || it->second.widget.isNull()) return nullptr;
  return &it->second;
}

// Far beyond any screen; region data from a file may hold edges that QRect's width and height
// arithmetic cannot take.
constexpr std::int32_t kMaskLimit = 1 << 24;

QRegion toQRegion(const Region& region) {
  const Region reachable = Region::Combine(
      region, Region::FromRect({-kMaskLimit, -kMaskLimit, kMaskLimit, kMaskLimit}), Region::Op::And);
  std::vector<QRect> rects;
  rects.reserve(reachable.rectCount());
  for (const RegionRect& r : reachable.rects())
    rects.emplace_back(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
  QRegion out;
  // The engine's rectangles are already banded and sorted, which is what setRects expects.
  if (!rects.empty()) out.setRects(rects.data(), int(rects.size()));
  return out;
}

}  // namespace

HWND WindowHandle(QWidget* widget) {
  if (widget == nullptr) return 0;
  WindowTable& t = table();
  if (const auto it = t.byWidget.find(widget); it != t.byWidget.end()) return it->second;
  HWND handle = t.next;
  while (t.windows.count(handle) != 0) handle = handle + 4 >= kLastWindow ? kFirstWindow : handle + 4;
  t.next = handle + 4 >= kLastWindow ? kFirstWindow : handle + 4;
  Window& entry = t.windows[handle];
  entry.widget = widget;
  t.byWidget[widget] = handle;
  new PaintWatcher(widget, &entry.update);
  QObject::connect(widget, &QObject::destroyed, [handle, widget] {
    WindowTable& tt = table();
    tt.windows.erase(handle);
    tt.byWidget.erase(widget);
  });
  return handle;
}

QWidget* WindowWidget(HWND window) {
  Window* w = live(window);
  return w ? w->widget.data() : nullptr;
}

BOOL IsWindow(HWND window) { return live(window) != nullptr; }

int SetWindowRgn(HWND window, HRGN region, BOOL redraw) {
  Window* w = live(window);
  if (w == nullptr) return 0;
  if (region == 0) {
    w->shape.reset();
    w->widget->clearMask();
  } else {
    std::optional<Region> shape = TakeRegion(region);
    if (!shape) return 0;
    w->widget->setMask(toQRegion(*shape));
    w->shape = std::move(shape);
  }
  if (redraw) w->widget->update();
  return 1;
}

int GetWindowRgn(HWND window, HRGN region) {
  Window* w = live(window);
  if (w == nullptr || !w->shape || !AssignRegion(region, *w->shape)) return RGN_ERROR;
  const std::size_t n = w->shape->rectCount();
  return n == 0 ? NULLREGION : n == 1 ? SIMPLEREGION : COMPLEXREGION;
}

BOOL InvalidateRgn(HWND window, HRGN region, BOOL) {
  Window* w = live(window);
  if (w == nullptr) return 0;
  const QRect whole = w->widget->rect();
  std::optional<Region> area =
      region == 0 ? Region::FromRect({whole.left(), whole.top(), whole.right() + 1, whole.bottom() + 1})
                  : RegionOf(region);
  if (!area) return 0;
  w->update = Region::Combine(w->update, *area, Region::Op::Or);
  w->widget->update(toQRegion(*area));
  return 1;
}

BOOL ValidateRgn(HWND window, HRGN region) {
  Window* w = live(window);
  if (w == nullptr) return 0;
  if (region == 0) {
    w->update = Region();
    return 1;
  }
  const std::optional<Region> area = RegionOf(region);
  if (!area) return 0;
  w->update = Region::Combine(w->update, *area, Region::Op::Diff);
  return 1;
}

int GetUpdateRgn(HWND window, HRGN region, BOOL) {
  Window* w = live(window);
  if (w == nullptr || !AssignRegion(region, w->update)) return RGN_ERROR;
  const std::size_t n = w->update.rectCount();
  return n == 0 ? NULLREGION : n == 1 ? SIMPLEREGION : COMPLEXREGION;
}

HBITMAP BitmapFromImage(const QImage& image) {
  if (image.isNull()) return 0;
  // Unpremultiplied, so that a pixel's colour is what it was stored as; alpha is then dropped,
  // as a conversion to 24-bit rows drops it.
  const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
  const int width = rgb.width();
  const int height = rgb.height();
  std::vector<BYTE> pixels(std::size_t(width) * std::size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    BYTE* out = pixels.data() + std::size_t(y) * std::size_t(width) * 4;
    for (int x = 0; x < width; ++x) {
      out[4 * x] = BYTE(qBlue(line[x]));
      out[4 * x + 1] = BYTE(qGreen(line[x]));
      out[4 * x + 2] = BYTE(qRed(line[x]));
      out[4 * x + 3] = 0;
    }
  }
  return CreateBitmapFromPixels(width, height, true, pixels.data(), pixels.size());
}

QImage ImageFromBitmap(HBITMAP bitmap) {
  BITMAP description;
  if (GetObjectA(bitmap, sizeof description, &description) == 0) return {};
  const int width = description.bmWidth;
  const int height = description.bmHeight < 0 ? -description.bmHeight : description.bmHeight;
  QImage image(width, height, QImage::Format_RGB32);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<BYTE> rows(std::size_t(width) * std::size_t(height) * 4);
  const HDC dc = CreateCompatibleDC(0);
  const int got = GetDIBits(dc, bitmap, 0, UINT(height), rows.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (got != height) return {};
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const BYTE* in = rows.data() + std::size_t(y) * std::size_t(width) * 4;
    for (int x = 0; x < width; ++x) line[x] = qRgb(in[4 * x + 2], in[4 * x + 1], in[4 * x]);
  }
  return image;
}

}  // namespace vornel::skin
