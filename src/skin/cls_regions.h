#pragma once

// The region toolkit: window shapes from pictures, and a general set of operations over region
// handles: making, combining, testing, moving, scaling and painting regions, clip regions and
// window shapes, and region data saved to or loaded from files, resources and byte arrays.
//
// No operation throws or reports to the user; each answers failure with 0, false, -1 or an empty
// byte array (and SaveRegionToFile with an error number). Every region handle an operation
// returns belongs to the caller, who destroys it with DestroyRegion unless it is installed on a
// window. The two buffers are object state and are empty between operations, so one object serves
// one thread (the GUI thread) at a time.
//
// Region data, as GetRegionBytes returns it and a region file holds it (little-endian):
//   0  header size (32)   4  type (1)   8  rectangle count n   12  rectangle bytes (16 n)
//   16 bounding rectangle: left, top, right, bottom
//   32 n rectangles of left, top, right, bottom (signed 32-bit; right and bottom exclusive)

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/gdi.h"
#include "skin/window_host.h"

namespace vornel::skin {

// One value of CreateRegion's list: a number (32-bit, or text holding one), or the address of
// the caller's data. An address carries its extent, which stands in for asking the platform
// whether the memory there is readable: a point or count list shorter than the count given, or a
// null rectangle, is unreadable.
using RegionValue = std::variant<std::int32_t, std::string, const platform::RECT*,
                                 std::span<const platform::POINT>, std::span<const std::int32_t>>;
// Where ImportRegion finds a region: a number (handle), text (file name, resource type, or a
// handle written as text) or region data bytes.
using RegionLocation = std::variant<std::int32_t, std::string, std::vector<std::uint8_t>>;

class clsRegions {
 public:
  clsRegions() = default;
  ~clsRegions();
  clsRegions(const clsRegions&) = delete;
  clsRegions& operator=(const clsRegions&) = delete;

  // Window shape from a picture. With a window the result is SetWindowRgn's; without, the new
  // region (0 when no pixel is inside). `transColor` -1 takes the top-left pixel's colour; other
  // negative values a system colour (low byte); otherwise 0x00BBGGRR.
  std::int32_t RegionFromBitmap(platform::HBITMAP hBitmap, HWND hWndToApply = 0, std::int32_t transColor = -1,
                                bool returnAntiRegion = false, std::int32_t ExcludeL = 0,
                                std::int32_t ExcludeT = 0, std::int32_t ExcludeR = 0,
                                std::int32_t ExcludeB = 0);

  std::int32_t AreReqionsEqual(platform::HRGN hRgn1, platform::HRGN hRgn2);
  // `Action`: 1 intersection, 2 union, 3 exclusive or, 4 difference, 5 copy.
  std::int32_t CombineRegions(platform::HRGN hRgnDest, platform::HRGN hRgnSrc1, platform::HRGN hRgnSrc2,
                              std::int32_t Action, bool bDestroyRgn = false);
  std::int32_t ConvertRgnToRectangle(platform::HRGN hRgn, const platform::RECT* RectVarPtr = nullptr,
                                     std::int32_t Left = 0, std::int32_t Top = 0, std::int32_t Right = 0,
                                     std::int32_t Bottom = 0);
  // `RgnType`: 0 rectangle, 1 rounded rectangle, 2 ellipse, 3 polygon, 4 several polygons.
  platform::HRGN CreateRegion(std::int32_t RgnType, std::span<const RegionValue> vData);
  std::int32_t DestroyRegion(platform::HRGN hRgn);
  std::vector<std::uint8_t> ExtractRegionRectangles(platform::HRGN hRgn, std::int32_t& nrRectangles);
  // The object keeps ownership of the cached region.
  platform::HRGN GetCachedRegion() const { return cachedRgn; }
  std::vector<std::uint8_t> GetRegionBytes(platform::HRGN hRgn, bool bDestroyRegion = false);
  // `RgnType`: 0 window shape, 1 region file, 2 resource (the Qt resource ":/<type>/<number>"),
  // 3 region data, 4 copy of a region, 5 clip region of a context, 6 system region of a context,
  // 7 update region of a window.
  platform::HRGN ImportRegion(std::int32_t RgnType, const RegionLocation& RgnLocation,
                              std::int32_t lParam = 0);
  std::int32_t IsNullRegion(platform::HRGN hRgn);
  bool IsRegion(platform::HRGN hRgn);
  bool MoveRegion(std::uint32_t hRgnOrDC, std::int32_t X, std::int32_t Y, bool isClipRegion = false,
                  platform::RECT* RectVarPtr = nullptr);
  // `Action`: bit 1 fill, bit 2 frame, bit 4 invert; drawn in the order fill, invert, frame.
  std::int32_t PaintRegion(platform::HRGN hRgn, platform::HDC hDC, std::int32_t Action,
                           std::int32_t FrameColor = 0, std::int32_t FillColor = 0,
                           platform::HBRUSH FrameBrush = 0, platform::HBRUSH FillBrush = 0,
                           bool bDeleteBrushes = false);
  std::int32_t PointInRegion(std::uint32_t hRgnOrDC, std::int32_t X, std::int32_t Y, bool bIsDC = false);
  std::int32_t PolyFillMode(std::int32_t Action, platform::HDC hDC, std::int32_t SetFillValue = 2);
  std::int32_t RectInRegion(std::uint32_t hRgnOrDC, bool bIsDC = false,
                            const platform::RECT* RectVarPtr = nullptr, std::int32_t Left = 0,
                            std::int32_t Top = 0, std::int32_t Right = 0, std::int32_t Bottom = 0);
  std::int32_t RegionBounds(platform::HRGN hRgn, platform::RECT* RectVarPtr, std::int32_t& Left,
                            std::int32_t& Top, std::int32_t& Right, std::int32_t& Bottom);
  bool RegionIntersect(std::uint32_t Handle1, std::uint32_t Handle2, const platform::RECT* RectVarPtr1,
                       const platform::RECT* RectVarPtr2, std::int32_t xOffset1, std::int32_t yOffset1,
                       std::int32_t xOffset2, std::int32_t yOffset2, bool bReturnAsRegion,
                       platform::HRGN& RtnRgnHandle);
  std::int32_t RegionSizeBytes(platform::HRGN hRgn);
  // 0, or 380 not a region, 76 blank file name, 17 region without rectangles, 70 access denied,
  // 75 any other file failure. `fileAttrs`: 1 read-only (kept), 2 hidden and 4 system (no meaning
  // on this file system).
  std::int32_t SaveRegionToFile(platform::HRGN hRgn, const std::string& sFileName, std::int32_t fileAttrs = 0,
                                bool bDestroyRegion = false);
  bool SetCachedRegion(platform::HRGN hRgn, bool bDestroyPrevious = false);
  std::int32_t SetClipRegionToDC(platform::HRGN hRgn, platform::HDC hDC, bool bDestroyRgn = false,
                                 std::int32_t RgnAction = 0);
  std::int32_t SetRegionToWindow(platform::HRGN hRgn, HWND hWnd, bool bRedrawWindow = true);
  platform::HRGN StretchRegion(platform::HRGN hRgn, float GrowCx, float GrowCy,
                               bool bDestroyOriginalRgn = false);
  std::int32_t ValidateInvalidateRgn(HWND hWnd, platform::HRGN hRgn = 0, bool bValidate = true,
                                     bool bRedrawInvalidated = true, bool bDestroyRegion = false);

 private:
  using Slot = std::array<std::int32_t, 4>;  // one rectangle, or half of the region-data header

  platform::HRGN CreateRegionFromBuffer(std::size_t first, std::size_t last, std::int32_t left,
                                        std::int32_t width, const platform::XFORM* transform);
  platform::HRGN CreateRegionInBatches(std::size_t last, std::int32_t left, std::int32_t width,
                                       const platform::XFORM* transform);
  // Appends the one-row rectangles of rows firstRow .. endRow - 1. `bandRight` above 0 marks an
  // exclusion band: columns scanEnd .. bandRight (both included) go in whole and the row is
  // scanned again from bandRight to `width`.
  void ScanRowsToRects(const platform::BitmapPixels& picture, std::int32_t firstRow, std::int32_t scanEnd,
                       std::int32_t bandRight, std::int32_t width, std::int32_t endRow,
                       std::uint32_t keyColour, bool anti, std::size_t& count);
  void scanRow(const std::uint32_t* row, std::int32_t y, std::int32_t from, std::int32_t to,
               std::uint32_t keyColour, bool anti, std::int32_t width, std::size_t& count);
  void appendRect(const Slot& rect, std::int32_t width, std::size_t& count);
  platform::HRGN rebuildFromData();
  void emptyBuffers();

  std::vector<Slot> rgnRects;
  std::vector<std::uint8_t> dibBytes;
  platform::HRGN cachedRgn = 0;
};

}  // namespace vornel::skin
