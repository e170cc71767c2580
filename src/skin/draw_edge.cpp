#include "skin/draw_edge.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace vornel::skin {

namespace {

QPalette::ColorRole RoleOf(int index) {
  switch (index) {
    case COLOR_BTNFACE:
      return QPalette::Button;
    case COLOR_BTNSHADOW:
      return QPalette::Dark;
    case COLOR_BTNHIGHLIGHT:
      return QPalette::Light;
    case COLOR_3DDKSHADOW:
      return QPalette::Shadow;
    case COLOR_3DLIGHT:
      return QPalette::Midlight;
    default:
      return QPalette::Window;
  }
}

// One border: the top and left sides first, so that the bottom and right sides own the two
// corners they share with them.
void DrawBorder(QPainter& painter, const EdgeRect& r, unsigned flags, const QColor& topLeft,
                const QColor& bottomRight) {
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (flags & BF_TOP) painter.fillRect(r.left, r.top, width, 1, topLeft);
  if (flags & BF_LEFT) painter.fillRect(r.left, r.top, 1, height, topLeft);
  if (flags & BF_BOTTOM) painter.fillRect(r.left, r.bottom - 1, width, 1, bottomRight);
  if (flags & BF_RIGHT) painter.fillRect(r.right - 1, r.top, 1, height, bottomRight);
}

EdgeRect Inside(EdgeRect r, unsigned flags) {
  if (flags & BF_LEFT) ++r.left;
  if (flags & BF_TOP) ++r.top;
  if (flags & BF_RIGHT) --r.right;
  if (flags & BF_BOTTOM) --r.bottom;
  return r;
}

}  // namespace

QColor SystemColour(int index) { return QGuiApplication::palette().color(QPalette::Active, RoleOf(index)); }

QColor ColourFromStored(std::uint32_t colour) {
  if (colour & 0x80000000u) return SystemColour(static_cast<int>(colour & 0xFFu));
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

bool DrawEdge(QPainter& painter, const EdgeRect& rect, unsigned edge, unsigned flags) {
  if (!painter.isActive()) return false;
  EdgeRect r = rect;
  switch (edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER)) {
    case BDR_RAISEDOUTER:
      DrawBorder(painter, r, flags, SystemColour(COLOR_3DLIGHT), SystemColour(COLOR_3DDKSHADOW));
      break;
    case BDR_SUNKENOUTER:
      DrawBorder(painter, r, flags, SystemColour(COLOR_BTNSHADOW), SystemColour(COLOR_BTNHIGHLIGHT));
      break;
    default:
      break;
  }
  if (edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER)) r = Inside(r, flags);
  switch (edge & (BDR_RAISEDINNER | BDR_SUNKENINNER)) {
    case BDR_RAISEDINNER:
      DrawBorder(painter, r, flags, SystemColour(COLOR_BTNHIGHLIGHT), SystemColour(COLOR_BTNSHADOW));
      break;
    case BDR_SUNKENINNER:
      DrawBorder(painter, r, flags, SystemColour(COLOR_3DDKSHADOW), SystemColour(COLOR_3DLIGHT));
      break;
    default:
      break;
  }
  return true;
}

}  // namespace vornel::skin
