#include "platform/gdi.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace vornel::platform {
namespace {

// Region data is handed out and taken in as raw memory; its layout is little-endian by contract.
static_assert(std::endian::native == std::endian::little, "region data assumes a little-endian host");

using Words = std::vector<std::uint32_t>;

struct Bitmap {
  int width = 0;
  int height = 0;
  bool topDown = true;
  // One word a pixel, 0x00RRGGBB, rows in storage order. The unused byte is kept 0, so that a
  // 32-bit row is the stored row as it is. Shared with the views of PixelsOfBitmap.
  std::shared_ptr<Words> words;
  int selectedInto = 0;  // contexts holding it
  std::size_t rowOffset(int y) const {
    return std::size_t(topDown ? y : height - 1 - y) * std::size_t(width);
  }
  // The words to draw into; a copy first while a view still holds them. Null when there is no
  // memory for the copy.
  Words* writable() {
    if (words.use_count() > 1) {
      try {
        words = std::make_shared<Words>(*words);
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
    }
    // A view that let go on another thread did so under the tables' lock (see PixelsOfBitmap),
    // which we hold: its reads of the words come before our writes.
    return words.get();
  }
};

struct Brush {
  COLORREF colour = 0;
  bool stock = false;
  int selectedInto = 0;
};

struct Context {
  bool memory = false;
  HBITMAP bitmap = 0;
  HBRUSH brush = 0;
  std::optional<Region> clip;
  int fillMode = ALTERNATE;
};

struct Object {
  DWORD type = 0;
  std::variant<Region, Bitmap, Brush, Context> value;
};

// Handles are multiples of 4 in [kFirstHandle, kLastHandle), below the window layer's range.
constexpr HGDIOBJ kFirstHandle = 0x1000;
constexpr HGDIOBJ kLastHandle = 0x40000000;

std::array<COLORREF, 31> classicColours() {
  return {0xC8D0D4, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
          0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
          0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
          0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xD77800, 0xC8D0D4};
}

struct Tables {
  std::mutex lock;
  std::unordered_map<HGDIOBJ, Object> objects;
  HGDIOBJ next = kFirstHandle;
  HBRUSH whiteBrush = 0;
  std::size_t createLimit = 0;
  std::array<COLORREF, 31> sysColours = classicColours();

  HGDIOBJ add(Object object) {
    for (;;) {
      const HGDIOBJ handle = next;
      next = next + 4 >= kLastHandle ? kFirstHandle : next + 4;
      if (objects.find(handle) == objects.end()) {
        objects.emplace(handle, std::move(object));
        return handle;
      }
    }
  }
  template <typename T>
  T* find(HGDIOBJ handle) {
    const auto it = objects.find(handle);
    return it == objects.end() ? nullptr : std::get_if<T>(&it->second.value);
  }
  Context* context(HDC dc) { return find<Context>(dc); }
  HBRUSH stockWhite() {
    if (whiteBrush == 0) whiteBrush = add({OBJ_BRUSH, Brush{0xFFFFFF, true, 0}});
    return whiteBrush;
  }
  // Where drawing on the context may land: its clip region within its surface.
  std::optional<Region> drawable(Context& dc) {
    Bitmap* surface = dc.bitmap ? find<Bitmap>(dc.bitmap) : nullptr;
    if (surface == nullptr) return std::nullopt;
    Region area = Region::FromRect({0, 0, surface->width, surface->height});
    if (dc.clip) area = Region::Combine(area, *dc.clip, Region::Op::And);
    return area;
  }
  // Every pixel word of `shape` that the context lets through, handed to `paint`.
  template <typename Paint>
  BOOL draw(HDC dcHandle, const Region& shape, Paint paint) {
    Context* dc = context(dcHandle);
    if (dc == nullptr) return 0;
    const std::optional<Region> area = drawable(*dc);
    if (!area) return 1;  // the screen: nothing to change here
    Bitmap& surface = *find<Bitmap>(dc->bitmap);
    Words* words = surface.writable();
    if (words == nullptr) return 0;
    for (const RegionRect& r : Region::Combine(shape, *area, Region::Op::And).rects())
      for (int y = r.top; y < r.bottom; ++y) {
        std::uint32_t* row = words->data() + surface.rowOffset(y);
        for (int x = r.left; x < r.right; ++x) paint(row[x]);
      }
    return 1;
  }
};

Tables& tables() {
  static Tables t;
  return t;
}

int kindOf(const Region& region) {
  const std::size_t n = region.rectCount();
  return n == 0 ? NULLREGION : n == 1 ? SIMPLEREGION : COMPLEXREGION;
}

RECT toRect(const RegionRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// A rectangle from two corners in any order, as the window system accepts them.
RegionRect ordered(int left, int top, int right, int bottom) {
  return {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
}

HRGN addRegion(std::optional<Region> region) {
  if (!region) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  return t.add({OBJ_REGION, std::move(*region)});
}

// COLORREF keeps red in the low byte, a pixel word blue.
std::uint32_t wordOf(COLORREF colour) {
  return ((colour >> 16) & 0xFF) | (colour & 0xFF00) | ((colour & 0xFF) << 16);
}

std::optional<std::int32_t> toEdge(double v) {
  const double r = std::floor(v + 0.5);
  if (!(r >= double(std::numeric_limits<std::int32_t>::min()) &&
        r <= double(std::numeric_limits<std::int32_t>::max())))
    return std::nullopt;
  return static_cast<std::int32_t>(r);
}

}  // namespace

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  return addRegion(Region::FromRect(ordered(left, top, right, bottom)));
}

HRGN CreateRectRgnIndirect(const RECT* rect) {
  if (rect == nullptr) return 0;
  return CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom);
}

HRGN CreateRoundRectRgn(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight) {
  return addRegion(RoundRectRegion({left, top, right, bottom}, cornerWidth, cornerHeight));
}

HRGN CreateEllipticRgn(int left, int top, int right, int bottom) {
  return addRegion(EllipseRegion({left, top, right, bottom}));
}

HRGN CreateEllipticRgnIndirect(const RECT* rect) {
  if (rect == nullptr) return 0;
  return CreateEllipticRgn(rect->left, rect->top, rect->right, rect->bottom);
}

HRGN CreatePolygonRgn(const POINT* points, int count, int fillMode) {
  return CreatePolyPolygonRgn(points, &count, 1, fillMode);
}

HRGN CreatePolyPolygonRgn(const POINT* points, const INT* counts, int polygons, int fillMode) {
  if (points == nullptr || counts == nullptr || polygons <= 0) return 0;
  if (fillMode != ALTERNATE && fillMode != WINDING) return 0;
  std::size_t total = 0;
  for (int i = 0; i < polygons; ++i) {
    if (counts[i] < 2) return 0;
    total += std::size_t(counts[i]);
  }
  std::vector<RegionPoint> copied(total);
  for (std::size_t i = 0; i < total; ++i) copied[i] = {points[i].x, points[i].y};
  return addRegion(PolygonRegion(copied, {counts, std::size_t(polygons)}, fillMode == WINDING));
}

HRGN ExtCreateRegion(const XFORM* transform, DWORD bytes, const RGNDATA* data) {
  if (data == nullptr || bytes < sizeof(RGNDATAHEADER)) return 0;
  RGNDATAHEADER header;
  std::memcpy(static_cast<void*>(&header), data, sizeof header);
  if (header.dwSize != sizeof(RGNDATAHEADER) || header.iType != RDH_RECTANGLES) return 0;
  const std::size_t room = (bytes - sizeof(RGNDATAHEADER)) / sizeof(RECT);
  if (header.nCount > room) return 0;
  {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    if (t.createLimit != 0 && header.nCount > t.createLimit) return 0;
  }
  if (transform != nullptr && (transform->eM12 != 0 || transform->eM21 != 0)) return 0;

  try {
    std::vector<RegionRect> rects(header.nCount);
    const auto* source = reinterpret_cast<const unsigned char*>(data) + sizeof(RGNDATAHEADER);
    if (!rects.empty()) std::memcpy(static_cast<void*>(rects.data()), source, rects.size() * sizeof(RECT));
    if (transform != nullptr) {
      for (RegionRect& r : rects) {
        if (r.empty()) {
          r = {};
          continue;
        }
        const auto l = toEdge(r.left * double(transform->eM11) + transform->eDx);
        const auto rt = toEdge(r.right * double(transform->eM11) + transform->eDx);
        const auto tp = toEdge(r.top * double(transform->eM22) + transform->eDy);
        const auto b = toEdge(r.bottom * double(transform->eM22) + transform->eDy);
        if (!l || !rt || !tp || !b) return 0;
        r = ordered(*l, *tp, *rt, *b);
      }
    }
    return addRegion(Region::FromRects(rects));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Region* out = t.find<Region>(dest);
  const Region* a = t.find<Region>(src1);
  if (out == nullptr || a == nullptr || mode < RGN_AND || mode > RGN_COPY) return RGN_ERROR;
  if (mode == RGN_COPY) {
    *out = *a;
    return kindOf(*out);
  }
  const Region* b = t.find<Region>(src2);
  if (b == nullptr) return RGN_ERROR;
  static constexpr Region::Op kOps[] = {Region::Op::And, Region::Op::Or, Region::Op::Xor, Region::Op::Diff};
  *out = Region::Combine(*a, *b, kOps[mode - RGN_AND]);
  return kindOf(*out);
}

DWORD GetRegionData(HRGN region, DWORD bytes, RGNDATA* data) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  if (r == nullptr) return 0;
  const std::vector<RegionRect> rects = r->rects();
  const std::size_t needed = sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT);
  if (needed > std::numeric_limits<DWORD>::max()) return 0;
  if (data == nullptr) return DWORD(needed);
  if (bytes < needed) return 0;
  RGNDATAHEADER header;
  header.dwSize = sizeof(RGNDATAHEADER);
  header.iType = RDH_RECTANGLES;
  header.nCount = DWORD(rects.size());
  header.nRgnSize = DWORD(rects.size() * sizeof(RECT));
  header.rcBound = toRect(r->bounds());
  auto* out = reinterpret_cast<unsigned char*>(data);
  std::memcpy(out, &header, sizeof header);
  if (!rects.empty()) std::memcpy(out + sizeof header, rects.data(), rects.size() * sizeof(RECT));
  return bytes;
}

int OffsetRgn(HRGN region, int dx, int dy) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Region* r = t.find<Region>(region);
  if (r == nullptr || !r->offset(dx, dy)) return RGN_ERROR;
  return kindOf(*r);
}

BOOL PtInRegion(HRGN region, int x, int y) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  return r != nullptr && r->contains(x, y);
}

BOOL RectInRegion(HRGN region, const RECT* rect) {
  if (rect == nullptr) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  return r != nullptr && r->intersects(ordered(rect->left, rect->top, rect->right, rect->bottom));
}

BOOL EqualRgn(HRGN a, HRGN b) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* ra = t.find<Region>(a);
  const Region* rb = t.find<Region>(b);
  if (ra == nullptr || rb == nullptr) return RGN_ERROR;
  return *ra == *rb;
}

int GetRgnBox(HRGN region, RECT* box) {
  if (box == nullptr) return RGN_ERROR;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  if (r == nullptr) return RGN_ERROR;
  *box = toRect(r->bounds());
  return kindOf(*r);
}

BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Region* r = t.find<Region>(region);
  if (r == nullptr) return 0;
  *r = Region::FromRect(ordered(left, top, right, bottom));
  return 1;
}

BOOL IntersectRect(RECT* dest, const RECT* a, const RECT* b) {
  if (dest == nullptr || a == nullptr || b == nullptr) return 0;
  const RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
               std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(a) || IsRectEmpty(b) || IsRectEmpty(&r)) {
    *dest = {};
    return 0;
  }
  *dest = r;
  return 1;
}

BOOL IsRectEmpty(const RECT* rect) {
  return rect == nullptr || rect->right <= rect->left || rect->bottom <= rect->top;
}

BOOL DeleteObject(HGDIOBJ object) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const auto it = t.objects.find(object);
  if (it == t.objects.end() || std::holds_alternative<Context>(it->second.value)) return 0;
  if (const Brush* brush = std::get_if<Brush>(&it->second.value)) {
    if (brush->stock) return 1;
    if (brush->selectedInto > 0) return 0;
  }
  // A bitmap still selected into a context would leave the context drawing into freed memory.
  if (const Bitmap* bitmap = std::get_if<Bitmap>(&it->second.value); bitmap && bitmap->selectedInto > 0)
    return 0;
  t.objects.erase(it);
  return 1;
}

DWORD GetObjectType(HGDIOBJ object) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const auto it = t.objects.find(object);
  return it == t.objects.end() ? 0 : it->second.type;
}

int GetObjectA(HGDIOBJ object, int bytes, void* out) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Bitmap* bitmap = t.find<Bitmap>(object);
  if (bitmap == nullptr) return 0;
  if (out == nullptr) return int(sizeof(BITMAP));
  if (bytes < int(sizeof(BITMAP))) return 0;
  BITMAP description;
  description.bmWidth = bitmap->width;
  description.bmHeight = bitmap->topDown ? -bitmap->height : bitmap->height;
  description.bmWidthBytes = bitmap->width * 4;
  description.bmPlanes = 1;
  description.bmBitsPixel = 32;
  std::memcpy(out, &description, sizeof description);
  return int(sizeof(BITMAP));
}

DWORD GetSysColor(int index) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  return index >= 0 && std::size_t(index) < t.sysColours.size() ? t.sysColours[std::size_t(index)] : 0;
}

BOOL SetSysColors(int count, const INT* indices, const COLORREF* colours) {
  if (count < 0 || (count > 0 && (indices == nullptr || colours == nullptr))) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  for (int i = 0; i < count; ++i)
    if (indices[i] >= 0 && std::size_t(indices[i]) < t.sysColours.size())
      t.sysColours[std::size_t(indices[i])] = colours[i] & 0xFFFFFFu;
  return 1;
}

HBITMAP CreateBitmapFromPixels(int width, int height, bool topDown, const BYTE* pixels, std::size_t size) {
  if (width <= 0 || height <= 0 || pixels == nullptr) return 0;
  // Rows are addressed with int arithmetic by GetDIBits' callers; keep every size in range.
  if (std::int64_t{width} * 4 > std::numeric_limits<int>::max() / height) return 0;
  if (size != std::size_t(width) * std::size_t(height) * 4) return 0;
  try {
    auto words = std::make_shared<Words>(size / 4);
    std::uint32_t* out = words->data();
    for (std::size_t i = 0; i < words->size(); ++i) {
      std::uint32_t word;
      std::memcpy(&word, pixels + 4 * i, 4);
      out[i] = word & 0xFFFFFFu;
    }
    Bitmap bitmap{width, height, topDown, std::move(words), 0};
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    return t.add({OBJ_BITMAP, std::move(bitmap)});
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::optional<BitmapPixels> PixelsOfBitmap(HBITMAP bitmapHandle) {
  Tables& t = tables();
  BitmapPixels pixels;
  std::shared_ptr<Words> words;
  {
    std::lock_guard guard(t.lock);
    const Bitmap* bitmap = t.find<Bitmap>(bitmapHandle);
    if (bitmap == nullptr) return std::nullopt;
    pixels = {bitmap->width, bitmap->height, bitmap->topDown, nullptr};
    words = bitmap->words;
  }
  // The view lets go of the words under the lock, so that a bitmap drawn into afterwards on
  // another thread sees the view's reads finished before it writes in place. Made outside the
  // lock: should it fail, the deleter runs at once and takes the lock itself.
  try {
    pixels.words = std::shared_ptr<const Words>(words.get(), [hold = words](const Words*) mutable {
      std::lock_guard guard(tables().lock);
      hold.reset();
    });
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return pixels;
}

int GetDIBits(HDC dc, HBITMAP bitmapHandle, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage) {
  if (info == nullptr || usage != DIB_RGB_COLORS) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Bitmap* bitmap = t.find<Bitmap>(bitmapHandle);
  if (t.context(dc) == nullptr || bitmap == nullptr) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (bits == nullptr) {
    h.biWidth = bitmap->width;
    h.biHeight = bitmap->height;
    h.biPlanes = 1;
    if (h.biBitCount != 24) h.biBitCount = 32;
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(((std::size_t(bitmap->width) * h.biBitCount / 8 + 3) & ~std::size_t{3}) *
                          std::size_t(bitmap->height));
    return bitmap->height;
  }
  const bool fromTop = h.biHeight < 0;
  const std::int64_t rows = fromTop ? -std::int64_t{h.biHeight} : h.biHeight;
  if (h.biWidth != bitmap->width || rows != bitmap->height || h.biPlanes != 1 || h.biCompression != BI_RGB ||
      (h.biBitCount != 24 && h.biBitCount != 32))
    return 0;
  const std::size_t pixelBytes = h.biBitCount / 8;
  const std::size_t stride = (std::size_t(bitmap->width) * pixelBytes + 3) & ~std::size_t{3};
  const std::int64_t first = start;
  const std::int64_t last = std::min<std::int64_t>(std::int64_t{start} + lines, bitmap->height);
  auto* out = static_cast<BYTE*>(bits);
  const auto width = std::size_t(bitmap->width);
  for (std::int64_t line = first; line < last; ++line) {
    // Scan lines count from the first row of the requested layout.
    const int y = fromTop ? int(line) : bitmap->height - 1 - int(line);
    const std::uint32_t* in = bitmap->words->data() + bitmap->rowOffset(y);
    BYTE* row = out + std::size_t(line - first) * stride;
    if (pixelBytes == 4) {
      // Stored words are the requested layout already, unused byte 0 included.
      std::memcpy(row, in, width * 4);
      continue;
    }
    for (std::size_t x = 0; x < width; ++x) {
      row[3 * x] = BYTE(in[x]);
      row[3 * x + 1] = BYTE(in[x] >> 8);
      row[3 * x + 2] = BYTE(in[x] >> 16);
    }
    std::memset(row + 3 * width, 0, stride - 3 * width);
  }
  return last > first ? int(last - first) : 0;
}

HDC GetDC(std::uint32_t window) {
  if (window != 0) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const HBRUSH white = t.stockWhite();
  ++t.find<Brush>(white)->selectedInto;
  return t.add({OBJ_DC, Context{false, 0, white, std::nullopt, ALTERNATE}});
}

int ReleaseDC(std::uint32_t, HDC dc) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const auto it = t.objects.find(dc);
  if (it == t.objects.end() || it->second.type != OBJ_DC) return 0;
  const Context& context = std::get<Context>(it->second.value);
  if (Brush* brush = t.find<Brush>(context.brush)) --brush->selectedInto;
  t.objects.erase(it);
  return 1;
}

HDC CreateCompatibleDC(HDC) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const HBRUSH white = t.stockWhite();
  ++t.find<Brush>(white)->selectedInto;
  return t.add({OBJ_MEMDC, Context{true, 0, white, std::nullopt, ALTERNATE}});
}

BOOL DeleteDC(HDC dc) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const auto it = t.objects.find(dc);
  if (it == t.objects.end() || it->second.type != OBJ_MEMDC) return 0;
  const Context& context = std::get<Context>(it->second.value);
  if (Bitmap* bitmap = t.find<Bitmap>(context.bitmap)) --bitmap->selectedInto;
  if (Brush* brush = t.find<Brush>(context.brush)) --brush->selectedInto;
  t.objects.erase(it);
  return 1;
}

HGDIOBJ SelectObject(HDC dcHandle, HGDIOBJ object) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  if (dc == nullptr) return 0;
  if (Bitmap* bitmap = t.find<Bitmap>(object)) {
    if (!dc->memory) return 0;
    if (Bitmap* previous = t.find<Bitmap>(dc->bitmap)) --previous->selectedInto;
    ++bitmap->selectedInto;
    return std::exchange(dc->bitmap, object);
  }
  if (Brush* brush = t.find<Brush>(object)) {
    if (Brush* previous = t.find<Brush>(dc->brush)) --previous->selectedInto;
    ++brush->selectedInto;
    return std::exchange(dc->brush, object);
  }
  return 0;
}

int SelectClipRgn(HDC dc, HRGN region) { return ExtSelectClipRgn(dc, region, RGN_COPY); }

int ExtSelectClipRgn(HDC dcHandle, HRGN region, int mode) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  if (dc == nullptr || mode < RGN_AND || mode > RGN_COPY) return RGN_ERROR;
  const Region* r = t.find<Region>(region);
  if (region == 0 && mode == RGN_COPY) {
    dc->clip.reset();
    return SIMPLEREGION;
  }
  if (r == nullptr) return RGN_ERROR;
  if (mode == RGN_COPY) {
    dc->clip = *r;
    return kindOf(*dc->clip);
  }
  // Without a clip region the whole surface is visible; the screen has no bounds here.
  const Region whole = t.drawable(*dc).value_or(
      Region::FromRect({std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min(),
                        std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()}));
  const Region current = dc->clip.value_or(whole);
  static constexpr Region::Op kOps[] = {Region::Op::And, Region::Op::Or, Region::Op::Xor, Region::Op::Diff};
  dc->clip = Region::Combine(current, *r, kOps[mode - RGN_AND]);
  return kindOf(*dc->clip);
}

int GetClipRgn(HDC dcHandle, HRGN region) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  Region* out = t.find<Region>(region);
  if (dc == nullptr || out == nullptr) return -1;
  if (!dc->clip) return 0;
  *out = *dc->clip;
  return 1;
}

int OffsetClipRgn(HDC dcHandle, int dx, int dy) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  if (dc == nullptr) return RGN_ERROR;
  if (!dc->clip) return SIMPLEREGION;
  if (!dc->clip->offset(dx, dy)) return RGN_ERROR;
  return kindOf(*dc->clip);
}

int GetRandomRgn(HDC dcHandle, HRGN region, INT which) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  Region* out = t.find<Region>(region);
  if (dc == nullptr || out == nullptr || which != SYSRGN) return -1;
  const Bitmap* surface = t.find<Bitmap>(dc->bitmap);
  if (surface == nullptr) return 0;
  *out = Region::FromRect({0, 0, surface->width, surface->height});
  return 1;
}

BOOL PtVisible(HDC dcHandle, int x, int y) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  if (dc == nullptr) return 0;
  if (const auto area = t.drawable(*dc)) return area->contains(x, y);
  return !dc->clip || dc->clip->contains(x, y);
}

BOOL RectVisible(HDC dcHandle, const RECT* rect) {
  if (rect == nullptr) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  if (dc == nullptr) return 0;
  const RegionRect r = ordered(rect->left, rect->top, rect->right, rect->bottom);
  if (const auto area = t.drawable(*dc)) return area->intersects(r);
  return !dc->clip ? !r.empty() : dc->clip->intersects(r);
}

int SetPolyFillMode(HDC dcHandle, int mode) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  if (dc == nullptr || (mode != ALTERNATE && mode != WINDING)) return 0;
  return std::exchange(dc->fillMode, mode);
}

int GetPolyFillMode(HDC dcHandle) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Context* dc = t.context(dcHandle);
  return dc == nullptr ? 0 : dc->fillMode;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  return t.add({OBJ_BRUSH, Brush{colour & 0xFFFFFFu, false, 0}});
}

BOOL FillRgn(HDC dc, HRGN region, HBRUSH brushHandle) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  const Brush* brush = t.find<Brush>(brushHandle);
  if (r == nullptr || brush == nullptr) return 0;
  const std::uint32_t word = wordOf(brush->colour);
  return t.draw(dc, *r, [word](std::uint32_t& p) { p = word; });
}

BOOL PaintRgn(HDC dcHandle, HRGN region) {
  HBRUSH brush = 0;
  {
    Tables& t = tables();
    std::lock_guard guard(t.lock);
    const Context* dc = t.context(dcHandle);
    if (dc == nullptr) return 0;
    brush = dc->brush;
  }
  return FillRgn(dcHandle, region, brush);
}

BOOL InvertRgn(HDC dc, HRGN region) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  if (r == nullptr) return 0;
  return t.draw(dc, *r, [](std::uint32_t& p) { p ^= 0xFFFFFFu; });
}

BOOL FrameRgn(HDC dc, HRGN region, HBRUSH brushHandle, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  const Brush* brush = t.find<Brush>(brushHandle);
  if (r == nullptr || brush == nullptr) return 0;
  // The inside is what stays in the region when shifted by the frame's size each way.
  Region inner = *r;
  for (const auto& [dx, dy] :
       {std::pair{width, 0}, std::pair{-width, 0}, std::pair{0, height}, std::pair{0, -height}}) {
    Region shifted = *r;
    if (!shifted.offset(dx, dy)) return 0;
    inner = Region::Combine(inner, shifted, Region::Op::And);
  }
  const Region frame = Region::Combine(*r, inner, Region::Op::Diff);
  const std::uint32_t word = wordOf(brush->colour);
  return t.draw(dc, frame, [word](std::uint32_t& p) { p = word; });
}

std::optional<Region> RegionOf(HRGN region) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  const Region* r = t.find<Region>(region);
  return r ? std::optional<Region>(*r) : std::nullopt;
}

std::optional<Region> TakeRegion(HRGN region) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Region* r = t.find<Region>(region);
  if (r == nullptr) return std::nullopt;
  Region value = std::move(*r);
  t.objects.erase(region);
  return value;
}

HRGN CreateRegionHandle(Region region) { return addRegion(std::move(region)); }

BOOL AssignRegion(HRGN region, Region value) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  Region* r = t.find<Region>(region);
  if (r == nullptr) return 0;
  *r = std::move(value);
  return 1;
}

std::size_t GdiObjectCount() {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  return t.objects.size() - (t.whiteBrush != 0 ? 1 : 0);
}

void SetExtCreateRegionLimit(std::size_t maxRects) {
  Tables& t = tables();
  std::lock_guard guard(t.lock);
  t.createLimit = maxRects;
}

}  // namespace vornel::platform
