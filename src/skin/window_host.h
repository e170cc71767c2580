#pragma once

// Windows as the region toolkit sees them: 32-bit handles for widgets, with the window system's
// calls for window shapes and update regions. A shape is installed with QWidget::setMask, which
// both clips drawing and limits where the window takes the pointer, as a window region does.
//
// GUI thread only. A handle names its widget until the widget is destroyed, then nothing; handle
// values lie above the graphics objects' range, so no number names both a window and a region.

#include <QImage>

#include <cstdint>

#include "platform/gdi.h"

class QWidget;

namespace vornel::skin {

using HWND = std::uint32_t;

// The widget's handle, made on first use (0 for a null widget).
HWND WindowHandle(QWidget* widget);
// The widget a live handle names, else null.
QWidget* WindowWidget(HWND window);
platform::BOOL IsWindow(HWND window);

// Installs the region as the window's shape; the window owns it from then on and the handle is
// gone. Region 0 removes the shape. Non-zero on success. An empty region leaves the widget with
// no visible part as far as the mask can say so: Qt treats an empty mask as none, so the shape is
// kept for GetWindowRgn but the widget shows whole.
int SetWindowRgn(HWND window, platform::HRGN region, platform::BOOL redraw);
// Copies the window's shape into `region`; RGN_ERROR when the window has none.
int GetWindowRgn(HWND window, platform::HRGN region);

// The update region: what has been invalidated and not yet painted or validated. Validating
// takes the area out of our record; Qt may still repaint it, which is harmless.
platform::BOOL InvalidateRgn(HWND window, platform::HRGN region, platform::BOOL erase);
platform::BOOL ValidateRgn(HWND window, platform::HRGN region);
int GetUpdateRgn(HWND window, platform::HRGN region, platform::BOOL erase);

// A bitmap holding the picture's colours (alpha is not kept: shapes come from a colour key).
platform::HBITMAP BitmapFromImage(const QImage& image);
// The bitmap's pixels as an RGB32 picture; a null picture when the handle is not a bitmap.
QImage ImageFromBitmap(platform::HBITMAP bitmap);

}  // namespace vornel::skin
