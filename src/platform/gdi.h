#pragma once

// The graphics calls of the window system that the region toolkit uses, with their names,
// argument orders and results: regions, bitmaps, brushes and drawing contexts behind 32-bit
// handles. Regions are kept by the banded engine of region_engine.h; region data (RGNDATA) has
// the window system's exact byte layout, little-endian.
//
// Drawing contexts are memory contexts: one draws into the bitmap selected into it. The screen
// context of GetDC(0) has no surface here, so drawing on it succeeds and changes nothing.
//
// One handle space holds every kind of object, so GetObjectType tells them apart; a handle value
// is not given out again until the counter wraps, so a stale handle finds nothing rather than a
// stranger's object. The calls may come from any thread; the tables are guarded by one lock.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/region_engine.h"

namespace vornel::platform {

using HGDIOBJ = std::uint32_t;
using HRGN = HGDIOBJ;
using HBITMAP = HGDIOBJ;
using HBRUSH = HGDIOBJ;
using HDC = HGDIOBJ;
using COLORREF = std::uint32_t;  // 0x00BBGGRR
using BOOL = std::int32_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = unsigned char;
using LONG = std::int32_t;

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};
struct POINT {
  LONG x = 0;
  LONG y = 0;
};
struct XFORM {
  float eM11 = 1, eM12 = 0, eM21 = 0, eM22 = 1, eDx = 0, eDy = 0;
};
struct RGNDATAHEADER {
  DWORD dwSize = 0;
  DWORD iType = 0;
  DWORD nCount = 0;
  DWORD nRgnSize = 0;
  RECT rcBound;
};
// The rectangles follow the header directly; Buffer only marks where.
struct RGNDATA {
  RGNDATAHEADER rdh;
  char Buffer[1];
};
static_assert(sizeof(RGNDATAHEADER) == 32 && sizeof(RECT) == 16);

struct BITMAP {
  LONG bmType = 0;
  LONG bmWidth = 0;
  LONG bmHeight = 0;  // negative for a bitmap whose rows are stored from the top
  LONG bmWidthBytes = 0;
  WORD bmPlanes = 0;
  WORD bmBitsPixel = 0;
  void* bmBits = nullptr;
};
struct BITMAPINFOHEADER {
  DWORD biSize = 0;
  LONG biWidth = 0;
  LONG biHeight = 0;  // negative: rows wanted from the top
  WORD biPlanes = 0;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
struct RGBQUAD {
  BYTE rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// Region kinds, the result of most region calls.
constexpr int RGN_ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
// Combine modes.
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;
constexpr DWORD RDH_RECTANGLES = 1;
// Object types.
constexpr DWORD OBJ_BRUSH = 2;
constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_BITMAP = 7;
constexpr DWORD OBJ_REGION = 8;
constexpr DWORD OBJ_MEMDC = 10;
constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr int ALTERNATE = 1;
constexpr int WINDING = 2;
constexpr INT SYSRGN = 4;
// System colour indices used by the toolkit's callers.
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_HIGHLIGHT = 13;

// Regions.
HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT* rect);
HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight);
HRGN CreateEllipticRgn(int left, int top, int right, int bottom);
HRGN CreateEllipticRgnIndirect(const RECT* rect);
HRGN CreatePolygonRgn(const POINT* points, int count, int fillMode);
HRGN CreatePolyPolygonRgn(const POINT* points, const INT* counts, int polygons, int fillMode);
// `bytes` is the length of the data at `data`: the header and the rectangles that follow it. The
// header's count must fit that length; its bounding rectangle is not trusted. A transform may
// scale and shift (no shear or rotation); scaled edges are rounded to the nearest whole number.
HRGN ExtCreateRegion(const XFORM* transform, DWORD bytes, const RGNDATA* data);
int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode);
// With `data` null: the size the region data needs. Otherwise `bytes` when it was large enough
// and the data was written, else 0.
DWORD GetRegionData(HRGN region, DWORD bytes, RGNDATA* data);
int OffsetRgn(HRGN region, int dx, int dy);
BOOL PtInRegion(HRGN region, int x, int y);
BOOL RectInRegion(HRGN region, const RECT* rect);
BOOL EqualRgn(HRGN a, HRGN b);
int GetRgnBox(HRGN region, RECT* box);
BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom);
BOOL IntersectRect(RECT* dest, const RECT* a, const RECT* b);
BOOL IsRectEmpty(const RECT* rect);

// Objects.
BOOL DeleteObject(HGDIOBJ object);
DWORD GetObjectType(HGDIOBJ object);
// Describes a bitmap as BITMAP; with `out` null, the size of that description.
int GetObjectA(HGDIOBJ object, int bytes, void* out);

// Colours. The system colours start as the classic desktop's; SetSysColors changes them for the
// process.
DWORD GetSysColor(int index);
BOOL SetSysColors(int count, const INT* indices, const COLORREF* colours);

// Bitmaps. Our own way in: `pixels` holds `height` rows of `width` pixels, 4 bytes each (blue,
// green, red, unused), stored from the top when `topDown`, else from the bottom; `size` must be
// exactly 4 * width * height. The unused byte is not kept: it reads back as 0.
HBITMAP CreateBitmapFromPixels(int width, int height, bool topDown, const BYTE* pixels, std::size_t size);
// A bitmap's own pixels for a caller that only reads them, without a copy: `height` rows of
// `width` words 0x00RRGGBB (blue in the low byte, the unused byte 0), as a 32-bit GetDIBits gives
// them. The view keeps the pixels as they were when it was taken: drawing into the bitmap
// afterwards works on a copy, and deleting the bitmap leaves the view valid.
struct BitmapPixels {
  int width = 0;
  int height = 0;
  bool topDown = true;
  std::shared_ptr<const std::vector<std::uint32_t>> words;  // rows in storage order
  // Row `y` counted from the top, whatever the storage order.
  const std::uint32_t* row(int y) const {
    return words->data() + std::size_t(topDown ? y : height - 1 - y) * std::size_t(width);
  }
};
std::optional<BitmapPixels> PixelsOfBitmap(HBITMAP bitmap);
// Rows of the bitmap in the layout the header asks for: 24 or 32 bits per pixel, no
// compression, each row padded to 4 bytes, from the top when biHeight is negative. The header's
// width and height must be the bitmap's (so that `bits` is the size the caller computed).
// With `bits` null the header is completed and the height returned. Returns the rows written.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage);

// Drawing contexts.
HDC GetDC(std::uint32_t window);  // only 0, the screen
int ReleaseDC(std::uint32_t window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// Bitmaps and brushes; the previous one of that kind is returned.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
int SelectClipRgn(HDC dc, HRGN region);
int ExtSelectClipRgn(HDC dc, HRGN region, int mode);
// 1 with the clip region copied into `region`, 0 when the context has none, -1 on error.
int GetClipRgn(HDC dc, HRGN region);
int OffsetClipRgn(HDC dc, int dx, int dy);
// Only SYSRGN: the surface's bounds. 1 copied, 0 none (the screen context), -1 on error.
int GetRandomRgn(HDC dc, HRGN region, INT which);
BOOL PtVisible(HDC dc, int x, int y);
BOOL RectVisible(HDC dc, const RECT* rect);
int SetPolyFillMode(HDC dc, int mode);
int GetPolyFillMode(HDC dc);
HBRUSH CreateSolidBrush(COLORREF colour);
BOOL PaintRgn(HDC dc, HRGN region);
BOOL FillRgn(HDC dc, HRGN region, HBRUSH brush);
BOOL InvertRgn(HDC dc, HRGN region);
// Paints the region's border: the pixels of the region within `width` columns or `height` rows of
// its outside.
BOOL FrameRgn(HDC dc, HRGN region, HBRUSH brush, int width, int height);

// For the window layer, which keeps window shapes and update regions by value.
std::optional<Region> RegionOf(HRGN region);
// Removes the region from the handle table and hands its value over (a window taking ownership).
std::optional<Region> TakeRegion(HRGN region);
HRGN CreateRegionHandle(Region region);
BOOL AssignRegion(HRGN region, Region value);
// The number of live objects, to find leaks.
std::size_t GdiObjectCount();
// Makes ExtCreateRegion refuse data of more than `maxRects` rectangles, as some platforms do
// with long lists; 0 lifts the limit.
void SetExtCreateRegionLimit(std::size_t maxRects);

}  // namespace vornel::platform
