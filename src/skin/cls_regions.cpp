#include "skin/cls_regions.h"

#include <QFile>
#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vornel::skin {
namespace {

Q_LOGGING_CATEGORY(lcRegions, "vornel.skin.regions")

using namespace vornel::platform;

constexpr std::size_t kHeaderSlots = 2;
constexpr std::size_t kBatchRects = 2000;

constexpr std::int32_t kErrNotRegion = 380;
constexpr std::int32_t kErrBlankName = 76;
constexpr std::int32_t kErrNoRectangles = 17;
constexpr std::int32_t kErrAccessDenied = 70;
constexpr std::int32_t kErrFileAccess = 75;

std::int32_t fileError(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? kErrAccessDenied : kErrFileAccess;
}
std::int32_t fileError(const std::error_code& error) { return fileError(error.value()); }

// A whole decimal number, as text values of a list are read.
std::optional<std::int32_t> wholeNumber(const std::string& text) {
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// The leading number of a text, after leading spaces; 0 when there is none or it does not fit.
std::int64_t leadingNumber(const std::string& text) {
  std::size_t at = text.find_first_not_of(' ');
  if (at == std::string::npos) return 0;
  std::int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data() + at, text.data() + text.size(), value);
  (void)ptr;
  return ec == std::errc() ? value : 0;
}

std::optional<std::int32_t> numberOf(const RegionValue& value) {
  if (const auto* n = std::get_if<std::int32_t>(&value)) return *n;
  if (const auto* s = std::get_if<std::string>(&value)) return wholeNumber(*s);
  return std::nullopt;
}

// A handle given as a number or as text with a leading number.
std::uint32_t handleOf(const RegionLocation& location, bool textAllowed) {
  if (const auto* n = std::get_if<std::int32_t>(&location)) return static_cast<std::uint32_t>(*n);
  if (const auto* s = std::get_if<std::string>(&location)) {
    const std::int64_t v = textAllowed ? leadingNumber(*s) : wholeNumber(*s).value_or(0);
    if (v > 0 && v <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(v);
  }
  return 0;
}

std::int32_t saturate(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

RECT movedBox(const RECT& box, std::int32_t dx, std::int32_t dy) {
  return {saturate(std::int64_t{box.left} + dx), saturate(std::int64_t{box.top} + dy),
          saturate(std::int64_t{box.right} + dx), saturate(std::int64_t{box.bottom} + dy)};
}

HRGN emptyRegion() { return CreateRectRgn(0, 0, 0, 0); }

COLORREF colourOf(std::int32_t colour) {
  return colour < 0 ? GetSysColor(colour & 0xFF) : static_cast<COLORREF>(colour) & 0xFFFFFFu;
}

// The first x in [from, to) whose pixel is the key colour (`isKey`) or is not, else `to`. Runs
// of a skin are hundreds of pixels long, so eight pixels are compared at a time.
std::int32_t findPixel(const std::uint32_t* row, std::int32_t from, std::int32_t to, std::uint32_t key,
                       bool isKey) {
  std::int32_t x = from;
#if defined(__SSE2__)
  const __m128i keys = _mm_set1_epi32(static_cast<int>(key));
  const unsigned flip = isKey ? 0u : 0xFFu;
  for (; to - x >= 8; x += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 4));
    const auto low = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, keys))));
    const auto high = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(b, keys))));
    const unsigned found = (low | (high << 4)) ^ flip;
    if (found != 0) return x + std::countr_zero(found);
  }
#endif
  while (x < to && (row[x] == key) != isKey) ++x;
  return x;
}

}  // namespace

clsRegions::~clsRegions() {
  if (cachedRgn != 0) DestroyRegion(cachedRgn);
}

void clsRegions::emptyBuffers() {
  rgnRects.clear();
  rgnRects.shrink_to_fit();
  dibBytes.clear();
  dibBytes.shrink_to_fit();
}

// ---- Window shape from a picture ----

std::int32_t clsRegions::RegionFromBitmap(HBITMAP hBitmap, HWND hWndToApply, std::int32_t transColor,
                                          bool returnAntiRegion, std::int32_t ExcludeL, std::int32_t ExcludeT,
                                          std::int32_t ExcludeR, std::int32_t ExcludeB) {
  if (hBitmap == 0) return 0;
  if (hWndToApply != 0 && !IsWindow(hWndToApply)) return 0;
  // The bitmap's own rows are read where they are; a converted copy would cost more than the scan.
  const std::optional<BitmapPixels> picture = PixelsOfBitmap(hBitmap);
  if (!picture) return 0;
  const std::int64_t width = picture->width;
  const std::int64_t height = picture->height;
  if (width <= 0 || height <= 0 || width > std::numeric_limits<std::int32_t>::max() / 3) return 0;
  const auto W = static_cast<std::int32_t>(width);
  const auto H = static_cast<std::int32_t>(height);

  HRGN region = 0;
  bool failed = false;
  try {
    ExcludeL = std::max(ExcludeL, 0);
    ExcludeT = std::max(ExcludeT, 0);
    ExcludeB = std::min(ExcludeB, H);
    ExcludeR = std::min(ExcludeR, W);
    if (ExcludeB <= ExcludeT || ExcludeR <= ExcludeL) {
      ExcludeR = ExcludeL;
      ExcludeB = ExcludeT;
    }

    // Pixel words and the key alike are 0x00RRGGBB, so that one comparison tells a pixel.
    std::uint32_t keyColour = 0;
    if (transColor == -1) {
      keyColour = picture->row(0)[0];
    } else {
      const COLORREF reference = colourOf(transColor);
      keyColour = ((reference >> 16) & 0xFF) | (reference & 0xFF00) | ((reference & 0xFF) << 16);
    }

    rgnRects.assign(3 * static_cast<std::size_t>(W) + 1, Slot{});
    std::size_t count = 0;
    if (ExcludeR <= ExcludeL) {
      ScanRowsToRects(*picture, 0, W, 0, W, H, keyColour, returnAntiRegion, count);
    } else {
      ScanRowsToRects(*picture, 0, W, 0, W, ExcludeT, keyColour, returnAntiRegion, count);
      rgnRects.resize(rgnRects.size() + static_cast<std::size_t>(ExcludeB - ExcludeT));
      ScanRowsToRects(*picture, ExcludeT, ExcludeL, ExcludeR, W, ExcludeB, keyColour, returnAntiRegion,
                      count);
      ScanRowsToRects(*picture, ExcludeB, W, 0, W, H, keyColour, returnAntiRegion, count);
    }

    if (count > 0) {
      region = CreateRegionFromBuffer(kHeaderSlots, count + 1, 0, W, nullptr);
      if (region == 0 && count > kBatchRects) region = CreateRegionInBatches(count + 1, 0, W, nullptr);
      if (region == 0) qCDebug(lcRegions) << "no region from" << count << "rectangles";
    }
  } catch (const std::bad_alloc&) {
    failed = true;
  } catch (const std::length_error&) {
    failed = true;
  }
  emptyBuffers();
  if (failed) {
    qCDebug(lcRegions) << "picture of" << W << "x" << H << "too large to shape a window from";
    if (region != 0) DeleteObject(region);
    return 0;
  }
  if (hWndToApply != 0) return SetWindowRgn(hWndToApply, region, 1);
  return static_cast<std::int32_t>(region);
}

void clsRegions::appendRect(const Slot& rect, std::int32_t width, std::size_t& count) {
  const std::size_t slot = count + kHeaderSlots;
  if (slot >= rgnRects.size()) rgnRects.resize(rgnRects.size() + static_cast<std::size_t>(width));
  rgnRects[slot] = rect;
  ++count;
}

void clsRegions::scanRow(const std::uint32_t* row, std::int32_t y, std::int32_t from, std::int32_t to,
                         std::uint32_t keyColour, bool anti, std::int32_t width, std::size_t& count) {
  // A normal region takes the pixels that differ from the key, an anti-region the others.
  for (std::int32_t x = from; x < to;) {
    const std::int32_t left = findPixel(row, x, to, keyColour, anti);
    if (left == to) break;
    x = findPixel(row, left + 1, to, keyColour, !anti);
    appendRect({left, y, x, y + 1}, width, count);
  }
}

void clsRegions::ScanRowsToRects(const BitmapPixels& picture, std::int32_t firstRow, std::int32_t scanEnd,
                                 std::int32_t bandRight, std::int32_t width, std::int32_t endRow,
                                 std::uint32_t keyColour, bool anti, std::size_t& count) {
  for (std::int32_t y = firstRow; y < endRow; ++y) {
    const std::uint32_t* row = picture.row(y);
    scanRow(row, y, 0, scanEnd, keyColour, anti, width, count);
    if (bandRight > 0) {
      // The band takes column bandRight too, which the rescan then looks at again. A band that
      // reaches the picture's right edge simply ends there, with nothing left to rescan.
      appendRect({scanEnd, y, bandRight < width ? bandRight + 1 : width, y + 1}, width, count);
      if (bandRight < width) scanRow(row, y, bandRight, width, keyColour, anti, width, count);
    }
  }
}

HRGN clsRegions::CreateRegionFromBuffer(std::size_t first, std::size_t last, std::int32_t left,
                                        std::int32_t width, const XFORM* transform) {
  if (first < kHeaderSlots || last < first || last >= rgnRects.size()) return 0;
  const std::uint64_t count = last - first + 1;
  const std::uint64_t bytes = (count + kHeaderSlots) * sizeof(Slot);
  if (bytes > std::numeric_limits<DWORD>::max()) return 0;
  // Stored bounds may be anything a file held; the right edge wraps rather than overflows.
  const auto right =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(left) + static_cast<std::uint32_t>(width));
  rgnRects[first - 2] = {static_cast<std::int32_t>(sizeof(RGNDATAHEADER)),
                         static_cast<std::int32_t>(RDH_RECTANGLES), static_cast<std::int32_t>(count),
                         static_cast<std::int32_t>(count * sizeof(Slot))};
  rgnRects[first - 1] = {left, rgnRects[first][1], right, rgnRects[last][3]};
  return ExtCreateRegion(transform, static_cast<DWORD>(bytes),
                         reinterpret_cast<const RGNDATA*>(&rgnRects[first - 2]));
}

HRGN clsRegions::CreateRegionInBatches(std::size_t last, std::int32_t left, std::int32_t width,
                                       const XFORM* transform) {
  HRGN accumulated = 0;
  for (std::size_t i = kHeaderSlots; i <= last; i += kBatchRects) {
    const std::size_t j = std::min(i + kBatchRects, last);
    const HRGN part = CreateRegionFromBuffer(i, j, left, width, transform);
    if (part == 0) {
      if (accumulated != 0) DeleteObject(accumulated);
      return 0;
    }
    if (accumulated == 0) {
      accumulated = part;
      continue;
    }
    const int combined = CombineRgn(accumulated, accumulated, part, RGN_OR);
    DeleteObject(part);
    // A union that failed would hand out a region missing a batch.
    if (combined == RGN_ERROR) {
      DeleteObject(accumulated);
      return 0;
    }
  }
  return accumulated;
}

// ---- Thin wrappers ----

std::int32_t clsRegions::AreReqionsEqual(HRGN hRgn1, HRGN hRgn2) { return EqualRgn(hRgn1, hRgn2); }

std::int32_t clsRegions::CombineRegions(HRGN hRgnDest, HRGN hRgnSrc1, HRGN hRgnSrc2, std::int32_t Action,
                                        bool bDestroyRgn) {
  const int result = CombineRgn(hRgnDest, hRgnSrc1, hRgnSrc2, Action);
  if (bDestroyRgn) {
    if (hRgnSrc1 != hRgnDest) DestroyRegion(hRgnSrc1);
    if (hRgnSrc2 != hRgnDest && hRgnSrc2 != hRgnSrc1) DestroyRegion(hRgnSrc2);
  }
  return result;
}

std::int32_t clsRegions::ConvertRgnToRectangle(HRGN hRgn, const RECT* RectVarPtr, std::int32_t Left,
                                               std::int32_t Top, std::int32_t Right, std::int32_t Bottom) {
  if (!IsRegion(hRgn)) return 0;
  if (RectVarPtr != nullptr)
    return SetRectRgn(hRgn, RectVarPtr->left, RectVarPtr->top, RectVarPtr->right, RectVarPtr->bottom);
  return SetRectRgn(hRgn, Left, Top, Right, Bottom);
}

std::int32_t clsRegions::DestroyRegion(HRGN hRgn) { return IsRegion(hRgn) ? DeleteObject(hRgn) : 0; }

bool clsRegions::IsRegion(HRGN hRgn) { return hRgn != 0 && GetObjectType(hRgn) == OBJ_REGION; }

std::int32_t clsRegions::IsNullRegion(HRGN hRgn) {
  if (!IsRegion(hRgn)) return -1;
  if (RegionSizeBytes(hRgn) == static_cast<std::int32_t>(sizeof(RGNDATAHEADER))) return 32;
  RECT box;
  GetRgnBox(hRgn, &box);
  return IsRectEmpty(&box) ? 1 : 0;
}

std::int32_t clsRegions::PointInRegion(std::uint32_t hRgnOrDC, std::int32_t X, std::int32_t Y, bool bIsDC) {
  if (hRgnOrDC == 0) return 0;
  return bIsDC ? PtVisible(hRgnOrDC, X, Y) : PtInRegion(hRgnOrDC, X, Y);
}

std::int32_t clsRegions::PolyFillMode(std::int32_t Action, HDC hDC, std::int32_t SetFillValue) {
  if (hDC == 0) return 0;
  return Action == 1 ? SetPolyFillMode(hDC, SetFillValue) : GetPolyFillMode(hDC);
}

std::int32_t clsRegions::RectInRegion(std::uint32_t hRgnOrDC, bool bIsDC, const RECT* RectVarPtr,
                                      std::int32_t Left, std::int32_t Top, std::int32_t Right,
                                      std::int32_t Bottom) {
  if (hRgnOrDC == 0) return 0;
  const RECT rect = RectVarPtr != nullptr ? *RectVarPtr : RECT{Left, Top, Right, Bottom};
  return bIsDC ? RectVisible(hRgnOrDC, &rect) : platform::RectInRegion(hRgnOrDC, &rect);
}

std::int32_t clsRegions::RegionBounds(HRGN hRgn, RECT* RectVarPtr, std::int32_t& Left, std::int32_t& Top,
                                      std::int32_t& Right, std::int32_t& Bottom) {
  if (!IsRegion(hRgn)) return 0;
  RECT box;
  const int kind = GetRgnBox(hRgn, &box);
  if (RectVarPtr != nullptr) {
    *RectVarPtr = box;
  } else {
    Left = box.left;
    Top = box.top;
    Right = box.right;
    Bottom = box.bottom;
  }
  return kind;
}

std::int32_t clsRegions::RegionSizeBytes(HRGN hRgn) {
  return IsRegion(hRgn) ? static_cast<std::int32_t>(GetRegionData(hRgn, 0, nullptr)) : 0;
}

bool clsRegions::SetCachedRegion(HRGN hRgn, bool bDestroyPrevious) {
  if (bDestroyPrevious && cachedRgn != 0 && cachedRgn != hRgn) DestroyRegion(cachedRgn);
  if (IsRegion(hRgn)) {
    cachedRgn = hRgn;
    return true;
  }
  cachedRgn = 0;
  return false;
}

std::int32_t clsRegions::SetClipRegionToDC(HRGN hRgn, HDC hDC, bool bDestroyRgn, std::int32_t RgnAction) {
  std::int32_t result = 0;
  if (hDC != 0) {
    if (RgnAction != 0 && (hRgn != 0 || RgnAction == RGN_COPY))
      result = ExtSelectClipRgn(hDC, hRgn, RgnAction);
    else
      result = SelectClipRgn(hDC, hRgn);
  }
  if (bDestroyRgn) DestroyRegion(hRgn);
  return result;
}

std::int32_t clsRegions::SetRegionToWindow(HRGN hRgn, HWND hWnd, bool bRedrawWindow) {
  return IsWindow(hWnd) ? SetWindowRgn(hWnd, hRgn, bRedrawWindow) : 0;
}

std::int32_t clsRegions::ValidateInvalidateRgn(HWND hWnd, HRGN hRgn, bool bValidate, bool bRedrawInvalidated,
                                               bool bDestroyRegion) {
  if (!IsWindow(hWnd)) return 0;
  const std::int32_t result =
      bValidate ? ValidateRgn(hWnd, hRgn) : InvalidateRgn(hWnd, hRgn, bRedrawInvalidated);
  if (bDestroyRegion) DestroyRegion(hRgn);
  return result;
}

// ---- Shapes ----

HRGN clsRegions::CreateRegion(std::int32_t RgnType, std::span<const RegionValue> vData) {
  const auto rectAt = [&](std::size_t i) -> const RECT* {
    const auto* p = std::get_if<const RECT*>(&vData[i]);
    return p ? *p : nullptr;
  };
  // The first n values as numbers; none when any is not one.
  const auto numbers = [&](std::size_t from, std::size_t n) -> std::optional<std::vector<std::int32_t>> {
    std::vector<std::int32_t> out;
    for (std::size_t i = from; i < from + n; ++i) {
      const auto v = numberOf(vData[i]);
      if (!v) return std::nullopt;
      out.push_back(*v);
    }
    return out;
  };
  const std::size_t n = vData.size();
  switch (RgnType) {
    case 0:
      if (n == 1) return CreateRectRgnIndirect(rectAt(0));
      if (n >= 4)
        if (const auto v = numbers(0, 4)) return CreateRectRgn((*v)[0], (*v)[1], (*v)[2], (*v)[3]);
      return 0;
    case 1:
      if (n == 3) {
        const RECT* r = rectAt(0);
        const auto v = numbers(1, 2);
        if (r == nullptr || !v) return 0;
        return CreateRoundRectRgn(r->left, r->top, r->right, r->bottom, (*v)[0], (*v)[1]);
      }
      if (n >= 6)
        if (const auto v = numbers(0, 6))
          return CreateRoundRectRgn((*v)[0], (*v)[1], (*v)[2], (*v)[3], (*v)[4], (*v)[5]);
      return 0;
    case 2:
      if (n == 1) return CreateEllipticRgnIndirect(rectAt(0));
      if (n >= 4)
        if (const auto v = numbers(0, 4)) return CreateEllipticRgn((*v)[0], (*v)[1], (*v)[2], (*v)[3]);
      return 0;
    case 3: {
      if (n < 3) return 0;
      const auto* points = std::get_if<std::span<const POINT>>(&vData[0]);
      const auto v = numbers(1, 2);
      if (points == nullptr || !v || (*v)[0] <= 0 || static_cast<std::size_t>((*v)[0]) > points->size())
        return 0;
      return CreatePolygonRgn(points->data(), (*v)[0], (*v)[1]);
    }
    case 4: {
      if (n < 4) return 0;
      const auto* points = std::get_if<std::span<const POINT>>(&vData[0]);
      const auto* counts = std::get_if<std::span<const std::int32_t>>(&vData[1]);
      const auto v = numbers(2, 2);
      if (points == nullptr || counts == nullptr || !v || (*v)[0] <= 0 ||
          static_cast<std::size_t>((*v)[0]) > counts->size())
        return 0;
      const std::vector<INT> copied(counts->begin(), counts->begin() + (*v)[0]);
      std::uint64_t sum = 0;
      for (const INT c : copied) {
        if (c < 0) return 0;
        sum += static_cast<std::uint64_t>(c);
      }
      if (sum > points->size()) return 0;
      return CreatePolyPolygonRgn(points->data(), copied.data(), (*v)[0], (*v)[1]);
    }
    default:
      return 0;
  }
}

// ---- Moving and scaling ----

bool clsRegions::MoveRegion(std::uint32_t hRgnOrDC, std::int32_t X, std::int32_t Y, bool isClipRegion,
                            RECT* RectVarPtr) {
  if (isClipRegion) return OffsetClipRgn(hRgnOrDC, X, Y) != RGN_ERROR;
  if (!IsRegion(hRgnOrDC)) return false;
  RECT box;
  GetRgnBox(hRgnOrDC, &box);
  const std::int64_t dx = std::int64_t{X} - box.left;
  const std::int64_t dy = std::int64_t{Y} - box.top;
  if (dx != saturate(dx) || dy != saturate(dy)) return false;
  if (OffsetRgn(hRgnOrDC, static_cast<int>(dx), static_cast<int>(dy)) == RGN_ERROR) return false;
  if (RectVarPtr != nullptr) GetRgnBox(hRgnOrDC, RectVarPtr);
  return true;
}

HRGN clsRegions::StretchRegion(HRGN hRgn, float GrowCx, float GrowCy, bool bDestroyOriginalRgn) {
  if (!IsRegion(hRgn)) return 0;
  HRGN result = 0;
  if (GrowCx > 0 && GrowCy > 0) {
    try {
      const DWORD size = GetRegionData(hRgn, 0, nullptr);
      if (size > sizeof(RGNDATAHEADER)) {
        rgnRects.assign(size / sizeof(Slot), Slot{});
        if (GetRegionData(hRgn, size, reinterpret_cast<RGNDATA*>(rgnRects.data())) == size) {
          XFORM scale;
          scale.eM11 = GrowCx;
          scale.eM22 = GrowCy;
          const std::int32_t left = rgnRects[1][0];
          const auto width = static_cast<std::int32_t>(static_cast<std::uint32_t>(rgnRects[1][2]) -
                                                       static_cast<std::uint32_t>(left));
          result = CreateRegionInBatches(rgnRects.size() - 1, left, width, &scale);
        }
      }
    } catch (const std::bad_alloc&) {
      result = 0;
    }
    emptyBuffers();
  }
  if (bDestroyOriginalRgn) DestroyRegion(hRgn);
  return result;
}

// ---- Region data ----

std::vector<std::uint8_t> clsRegions::GetRegionBytes(HRGN hRgn, bool bDestroyRegion) {
  std::vector<std::uint8_t> bytes;
  if (!IsRegion(hRgn)) return bytes;
  try {
    const DWORD size = GetRegionData(hRgn, 0, nullptr);
    if (size > sizeof(RGNDATAHEADER)) {
      bytes.resize(size);
      if (GetRegionData(hRgn, size, reinterpret_cast<RGNDATA*>(bytes.data())) != size) bytes.clear();
    }
  } catch (const std::bad_alloc&) {
    bytes.clear();
  }
  if (bDestroyRegion) DestroyRegion(hRgn);
  return bytes;
}

std::vector<std::uint8_t> clsRegions::ExtractRegionRectangles(HRGN hRgn, std::int32_t& nrRectangles) {
  std::vector<std::uint8_t> bytes = GetRegionBytes(hRgn, false);
  if (bytes.size() <= sizeof(RGNDATAHEADER)) return {};
  nrRectangles = static_cast<std::int32_t>((bytes.size() - sizeof(RGNDATAHEADER)) / sizeof(RECT));
  bytes.erase(bytes.begin(), bytes.begin() + sizeof(RGNDATAHEADER));
  return bytes;
}

std::int32_t clsRegions::SaveRegionToFile(HRGN hRgn, const std::string& sFileName, std::int32_t fileAttrs,
                                          bool bDestroyRegion) {
  namespace fs = std::filesystem;
  if (!IsRegion(hRgn)) return kErrNotRegion;
  const std::size_t first = sFileName.find_first_not_of(' ');
  if (first == std::string::npos) {
    if (bDestroyRegion) DestroyRegion(hRgn);
    return kErrBlankName;
  }
  const fs::path path(sFileName.substr(first, sFileName.find_last_not_of(' ') - first + 1));

  // Taken before the old file is touched, so that saving a region without rectangles leaves an
  // existing file as it was.
  const std::vector<std::uint8_t> bytes = GetRegionBytes(hRgn, bDestroyRegion);
  if (bytes.empty()) return kErrNoRectangles;

  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error && error != std::errc::no_such_file_or_directory) return fileError(error);
  if (fs::exists(status) && !fs::is_regular_file(status)) return kErrFileAccess;

  // Written beside the target and renamed over it: a read-only file is replaced as well, and a
  // failed write leaves the old file, never half a region file.
  fs::path part = path;
  part += ".part";
  errno = 0;
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) return fileError(errno);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      const int writeErrno = errno;
      fs::remove(part, error);
      return fileError(writeErrno);
    }
  }
  // Some file systems refuse to replace a read-only file even by renaming; its attributes are
  // reset first, as a deletion would need.
  if (fs::is_regular_file(status)) {
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::rename(part, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(part, ignored);
    return fileError(error);
  }
  if ((fileAttrs & 1) != 0) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
  }
  return 0;
}

HRGN clsRegions::rebuildFromData() {
  if (dibBytes.size() <= sizeof(RGNDATAHEADER) + 1) return 0;
  // The stored header's count and sizes are not trusted: the length says how many rectangles
  // there are, and a partial last one is completed with zeros.
  const std::size_t slotCount = (dibBytes.size() + sizeof(Slot) - 1) / sizeof(Slot);
  rgnRects.assign(slotCount, Slot{});
  std::memcpy(rgnRects.data(), dibBytes.data(), dibBytes.size());
  const std::int32_t left = rgnRects[1][0];
  const auto width = static_cast<std::int32_t>(static_cast<std::uint32_t>(rgnRects[1][2]) -
                                               static_cast<std::uint32_t>(left));
  return CreateRegionInBatches(slotCount - 1, left, width, nullptr);
}

HRGN clsRegions::ImportRegion(std::int32_t RgnType, const RegionLocation& RgnLocation, std::int32_t lParam) {
  HRGN region = 0;
  try {
    switch (RgnType) {
      case 0: {
        const HWND window = handleOf(RgnLocation, true);
        if (window == 0 || !IsWindow(window)) break;
        region = emptyRegion();
        if (GetWindowRgn(window, region) == RGN_ERROR) {
          DeleteObject(region);
          region = 0;
        }
        break;
      }
      case 1: {
        const auto* name = std::get_if<std::string>(&RgnLocation);
        if (name == nullptr) break;
        std::error_code error;
        if (!std::filesystem::is_regular_file(*name, error)) break;
        std::ifstream in(*name, std::ios::binary);
        if (!in) break;
        dibBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const bool ok = !in.bad();
        if (ok) region = rebuildFromData();
        break;
      }
      case 2: {
        const auto* type = std::get_if<std::string>(&RgnLocation);
        if (type == nullptr) break;
        QFile resource(QStringLiteral(":/%1/%2").arg(QString::fromStdString(*type)).arg(lParam));
        if (!resource.open(QIODevice::ReadOnly)) break;
        const QByteArray data = resource.readAll();
        dibBytes.assign(data.begin(), data.end());
        region = rebuildFromData();
        break;
      }
      case 3: {
        const auto* data = std::get_if<std::vector<std::uint8_t>>(&RgnLocation);
        if (data == nullptr) break;
        dibBytes = *data;
        region = rebuildFromData();
        break;
      }
      case 4: {
        const HRGN source = handleOf(RgnLocation, false);
        if (!IsRegion(source)) break;
        region = emptyRegion();
        if (CombineRegions(region, source, region, RGN_COPY, lParam != 0) == RGN_ERROR) {
          DeleteObject(region);
          region = 0;
        }
        break;
      }
      case 5:
      case 6:
      case 7: {
        const std::uint32_t handle = handleOf(RgnLocation, false);
        if (handle == 0) break;
        region = emptyRegion();
        const int got = RgnType == 5   ? GetClipRgn(handle, region)
                        : RgnType == 6 ? GetRandomRgn(handle, region, SYSRGN)
                                       : GetUpdateRgn(handle, region, lParam != 0);
        // GetRandomRgn reports an error as -1, which must not pass for a copied region.
        if (RgnType == 7 ? got == RGN_ERROR : got < 1) {
          DeleteObject(region);
          region = 0;
        }
        break;
      }
      default:
        break;
    }
  } catch (const std::bad_alloc&) {
    if (region != 0) DeleteObject(region);
    region = 0;
  }
  emptyBuffers();
  return region;
}

// ---- Tests between shapes ----

bool clsRegions::RegionIntersect(std::uint32_t Handle1, std::uint32_t Handle2, const RECT* RectVarPtr1,
                                 const RECT* RectVarPtr2, std::int32_t xOffset1, std::int32_t yOffset1,
                                 std::int32_t xOffset2, std::int32_t yOffset2, bool bReturnAsRegion,
                                 HRGN& RtnRgnHandle) {
  RtnRgnHandle = 0;
  HRGN windowCopy1 = 0;
  HRGN windowCopy2 = 0;
  const auto cleanUp = [&] {
    if (windowCopy1 != 0) DeleteObject(windowCopy1);
    if (windowCopy2 != 0) DeleteObject(windowCopy2);
  };
  // A shape: the copy of a window's region, or the caller's region; 0 when neither.
  const auto shapeOf = [&](std::uint32_t handle, HRGN& copy) -> HRGN {
    if (IsWindow(handle)) return copy = ImportRegion(0, static_cast<std::int32_t>(handle));
    return IsRegion(handle) ? handle : 0;
  };
  const HRGN shape1 = shapeOf(Handle1, windowCopy1);
  const HRGN shape2 = shape1 != 0 ? shapeOf(Handle2, windowCopy2) : 0;
  if (shape1 == 0 || shape2 == 0) {
    cleanUp();
    return false;
  }

  const auto boxOf = [](HRGN shape, const RECT* given, std::int32_t dx, std::int32_t dy) {
    if (given != nullptr) return *given;
    RECT box;
    GetRgnBox(shape, &box);
    return movedBox(box, dx, dy);
  };
  const RECT box1 = boxOf(shape1, RectVarPtr1, xOffset1, yOffset1);
  const RECT box2 = boxOf(shape2, RectVarPtr2, xOffset2, yOffset2);
  RECT overlap;
  if (!IntersectRect(&overlap, &box1, &box2)) {
    cleanUp();
    return false;
  }

  HRGN intersection = windowCopy1 != 0 ? windowCopy1 : windowCopy2;
  if (intersection == 0) {
    intersection = emptyRegion();
    CombineRgn(intersection, Handle1, 0, RGN_COPY);
  }
  CombineRgn(intersection, shape1, shape2, RGN_AND);
  const bool overlapping = RegionSizeBytes(intersection) > static_cast<std::int32_t>(sizeof(RGNDATAHEADER));
  if (overlapping && bReturnAsRegion) {
    RtnRgnHandle = intersection;
    if (windowCopy1 == intersection) windowCopy1 = 0;
    if (windowCopy2 == intersection) windowCopy2 = 0;
  } else if (intersection != windowCopy1 && intersection != windowCopy2) {
    DeleteObject(intersection);
  }
  cleanUp();
  return overlapping;
}

// ---- Drawing ----

std::int32_t clsRegions::PaintRegion(HRGN hRgn, HDC hDC, std::int32_t Action, std::int32_t FrameColor,
                                     std::int32_t FillColor, HBRUSH FrameBrush, HBRUSH FillBrush,
                                     bool bDeleteBrushes) {
  if (!IsRegion(hRgn) || hDC == 0) return 0;
  std::int32_t result = 0;

  // Fill: a brush given is used (with or without bit 1); else bit 1 asks for the context's
  // current brush (FillColor -1) or a solid one of FillColor.
  HBRUSH fill = 0;
  bool deleteFill = false;
  bool currentBrush = false;
  if (GetObjectType(FillBrush) == OBJ_BRUSH) {
    fill = FillBrush;
    deleteFill = bDeleteBrushes;
  } else if ((Action & 1) != 0) {
    if (FillColor == -1) {
      currentBrush = true;
    } else {
      fill = CreateSolidBrush(colourOf(FillColor));
      deleteFill = true;
    }
  }
  HBRUSH frame = 0;
  bool deleteFrame = false;
  if ((Action & 2) != 0) {
    if (GetObjectType(FrameBrush) == OBJ_BRUSH) {
      frame = FrameBrush;
      deleteFrame = bDeleteBrushes;
    } else {
      frame = CreateSolidBrush(colourOf(FrameColor));
      deleteFrame = true;
    }
  }

  if (currentBrush) result = PaintRgn(hDC, hRgn);
  if (fill != 0) {
    result = FillRgn(hDC, hRgn, fill);
    if (deleteFill) DeleteObject(fill);
  }
  if ((Action & 4) != 0) result = InvertRgn(hDC, hRgn);
  if (frame != 0) {
    result = FrameRgn(hDC, hRgn, frame, 1, 1);
    if (deleteFrame) DeleteObject(frame);
  }
  return result;
}

}  // namespace vornel::skin
