#include "platform/region_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace vornel::platform {
namespace {

using Rects = std::vector<RegionRect>;

// ---- The engine against a plain pixel set ----

constexpr int kGrid = 24;
using Pixels = std::vector<bool>;

Pixels paint(const Rects& rects) {
  Pixels p(kGrid * kGrid, false);
  for (const RegionRect& r : rects)
    for (int y = std::max(r.top, 0); y < std::min(r.bottom, kGrid); ++y)
      for (int x = std::max(r.left, 0); x < std::min(r.right, kGrid); ++x) p[y * kGrid + x] = true;
  return p;
}

Pixels pixelsOf(const Region& region) {
  Pixels p(kGrid * kGrid, false);
  for (int y = 0; y < kGrid; ++y)
    for (int x = 0; x < kGrid; ++x) p[y * kGrid + x] = region.contains(x, y);
  return p;
}

// The canonical form that makes equality structural: sorted, disjoint, non-touching spans,
// and no two touching bands alike.
void expectCanonical(const Region& region) {
  const auto& bands = region.bands();
  for (std::size_t i = 0; i < bands.size(); ++i) {
    ASSERT_LT(bands[i].top, bands[i].bottom);
    ASSERT_FALSE(bands[i].spans.empty());
    for (std::size_t k = 0; k < bands[i].spans.size(); ++k) {
      EXPECT_LT(bands[i].spans[k].left, bands[i].spans[k].right);
      if (k > 0) {
        EXPECT_LT(bands[i].spans[k - 1].right, bands[i].spans[k].left);
      }
    }
    if (i > 0) {
      EXPECT_LE(bands[i - 1].bottom, bands[i].top);
      EXPECT_FALSE(bands[i - 1].bottom == bands[i].top && bands[i - 1].spans == bands[i].spans);
    }
  }
}

Rects randomRects(std::mt19937& rng, int n) {
  std::uniform_int_distribution<int> coord(-2, kGrid + 2);
  Rects rects;
  for (int i = 0; i < n; ++i) rects.push_back({coord(rng), coord(rng), coord(rng), coord(rng)});
  return rects;
}

TEST(RegionEngine, UnionOfRectanglesCoversExactlyTheirPixels) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    const Rects rects = randomRects(rng, 1 + round % 9);
    const Region region = Region::FromRects(rects);
    expectCanonical(region);
    ASSERT_EQ(pixelsOf(region), paint(rects)) << "round " << round;
  }
}

TEST(RegionEngine, CombineAgreesWithPixelLogicForEveryMode) {
  struct Mode {
    Region::Op op;
    bool (*rule)(bool, bool);
  };
  const Mode modes[] = {{Region::Op::And, [](bool a, bool b) { return a && b; }},
                        {Region::Op::Or, [](bool a, bool b) { return a || b; }},
                        {Region::Op::Xor, [](bool a, bool b) { return a != b; }},
                        {Region::Op::Diff, [](bool a, bool b) { return a && !b; }}};
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    const Rects ra = randomRects(rng, 1 + round % 5);
    const Rects rb = randomRects(rng, 1 + round % 4);
    const Pixels pa = paint(ra);
    const Pixels pb = paint(rb);
    for (const Mode& mode : modes) {
      const Region out = Region::Combine(Region::FromRects(ra), Region::FromRects(rb), mode.op);
      expectCanonical(out);
      Pixels want(pa.size());
      for (std::size_t i = 0; i < want.size(); ++i) want[i] = mode.rule(pa[i], pb[i]);
      ASSERT_EQ(pixelsOf(out), want) << "round " << round;
    }
  }
}

// Rows of rectangles as a picture scan or region data hand them over: sorted by left within a
// row (touching, overlapping or nested), rows from the top with gaps, repeats and empty ones.
Rects randomBandedRects(std::mt19937& rng) {
  std::uniform_int_distribution<int> coord(-2, kGrid + 2);
  Rects rects;
  int top = int(rng() % 3) - 1;
  while (top < kGrid) {
    const int bottom = top + 1 + int(rng() % 3);
    std::vector<int> lefts(rng() % 5);
    for (int& left : lefts) left = coord(rng);
    std::sort(lefts.begin(), lefts.end());
    const Rects previous = rects;
    for (const int left : lefts) rects.push_back({left, top, left + int(rng() % 6), bottom});
    top = bottom + int(rng() % 2);
    if (rng() % 4 == 0 && !rects.empty()) rects.push_back({3, top, 3, top + 1});  // empty
  }
  return rects;
}

TEST(RegionEngine, RowsInBandOrderGiveTheSameRegionAsAnyOrder) {
  std::mt19937 rng(4321);
  for (int round = 0; round < 300; ++round) {
    const Rects banded = randomBandedRects(rng);
    Rects shuffled = banded;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    const Region region = Region::FromRects(banded);
    expectCanonical(region);
    ASSERT_EQ(pixelsOf(region), paint(banded)) << "round " << round;
    ASSERT_EQ(region, Region::FromRects(shuffled)) << "round " << round;
  }
}

TEST(RegionEngine, RectanglesAlmostInBandOrderAreNotTakenAsBands) {
  const std::vector<Rects> cases{
      {{5, 0, 8, 1}, {0, 0, 2, 1}},                // a row not sorted by left
      {{0, 0, 4, 1}, {2, 0, 9, 2}},                // same top, taller
      {{0, 0, 4, 3}, {2, 1, 9, 2}},                // starts inside the row above
      {{0, 2, 4, 3}, {0, 0, 4, 1}, {6, 2, 8, 3}},  // rows from the bottom
      {{0, 0, 6, 1}, {1, 0, 2, 1}, {0, 0, 9, 1}},  // nested, then wider from the same left
  };
  for (const Rects& rects : cases) {
    const Region region = Region::FromRects(rects);
    expectCanonical(region);
    EXPECT_EQ(pixelsOf(region), paint(rects)) << rects.size() << " rectangles from " << rects[0].left;
  }
}

TEST(RegionEngine, SamePixelsMeanEqualRegionsWhateverTheBuildOrder) {
  const Region stacked = Region::FromRects(Rects{{0, 0, 10, 5}, {0, 5, 10, 10}});
  const Region sideBySide = Region::FromRects(Rects{{5, 0, 10, 10}, {0, 0, 5, 10}});
  EXPECT_EQ(stacked, sideBySide);
  EXPECT_EQ(stacked.rects(), (Rects{{0, 0, 10, 10}}));
}

TEST(RegionEngine, RectanglesComeBandByBandLeftToRight) {
  const Region ring =
      Region::Combine(Region::FromRect({0, 0, 10, 10}), Region::FromRect({3, 3, 7, 7}), Region::Op::Diff);
  EXPECT_EQ(ring.rects(), (Rects{{0, 0, 10, 3}, {0, 3, 3, 7}, {7, 3, 10, 7}, {0, 7, 10, 10}}));
  EXPECT_EQ(ring.bounds(), (RegionRect{0, 0, 10, 10}));
}

TEST(RegionEngine, OffsetRefusesToLeaveThe32BitRange) {
  Region r = Region::FromRect({0, 0, 10, 10});
  EXPECT_FALSE(r.offset(std::numeric_limits<std::int32_t>::max() - 5, 0));
  EXPECT_EQ(r.bounds(), (RegionRect{0, 0, 10, 10}));
  EXPECT_TRUE(r.offset(-5, 7));
  EXPECT_EQ(r.bounds(), (RegionRect{-5, 7, 5, 17}));
}

TEST(RegionShapes, EllipseStaysInItsBoxAndIsSymmetric) {
  const auto e = EllipseRegion({0, 0, 20, 12});
  ASSERT_TRUE(e);
  EXPECT_EQ(e->bounds(), (RegionRect{0, 0, 20, 12}));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 20; ++x) EXPECT_EQ(e->contains(x, y), e->contains(19 - x, 11 - y)) << x << "," << y;
  EXPECT_FALSE(e->contains(0, 0));
  EXPECT_TRUE(e->contains(10, 6));
}

TEST(RegionShapes, PolygonFillModesDifferOnlyWhereEdgesWindTwice) {
  // A five-pointed star drawn in one stroke: its centre is wound twice.
  const std::vector<RegionPoint> star{{50, 0}, {79, 90}, {2, 35}, {98, 35}, {21, 90}};
  const std::int32_t counts[] = {5};
  const auto alternate = PolygonRegion(star, counts, false);
  const auto winding = PolygonRegion(star, counts, true);
  ASSERT_TRUE(alternate && winding);
  EXPECT_FALSE(alternate->contains(50, 50));
  EXPECT_TRUE(winding->contains(50, 50));
  EXPECT_TRUE(alternate->contains(50, 10));
  EXPECT_EQ(Region::Combine(*alternate, *winding, Region::Op::Diff), Region());
}

TEST(RegionShapes, HostileExtentsAreRefusedNotScanned) {
  const std::vector<RegionPoint> tall{
      {0, std::numeric_limits<std::int32_t>::min()}, {5, std::numeric_limits<std::int32_t>::max()}, {10, 0}};
  const std::int32_t counts[] = {3};
  EXPECT_FALSE(PolygonRegion(tall, counts, true));
  EXPECT_FALSE(EllipseRegion(
      {0, std::numeric_limits<std::int32_t>::min(), 10, std::numeric_limits<std::int32_t>::max()}));
  const std::int32_t tooMany[] = {4};
  EXPECT_FALSE(PolygonRegion(tall, tooMany, true));
}

// ---- The window system's calls ----

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override { objects_ = GdiObjectCount(); }
  void TearDown() override {
    SetExtCreateRegionLimit(0);
    EXPECT_EQ(GdiObjectCount(), objects_) << "objects leaked";
  }
  std::size_t objects_ = 0;
};

std::vector<unsigned char> regionData(HRGN region) {
  const DWORD size = GetRegionData(region, 0, nullptr);
  std::vector<unsigned char> bytes(size);
  if (size != 0) {
    EXPECT_EQ(GetRegionData(region, size, reinterpret_cast<RGNDATA*>(bytes.data())), size);
  }
  return bytes;
}

std::vector<std::int32_t> words(const std::vector<unsigned char>& bytes) {
  std::vector<std::int32_t> out(bytes.size() / 4);
  std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

std::vector<unsigned char> dataFor(const Rects& rects, DWORD claimedCount) {
  std::vector<std::int32_t> w{32, 1, std::int32_t(claimedCount), std::int32_t(16 * claimedCount), 0, 0, 0, 0};
  for (const RegionRect& r : rects) w.insert(w.end(), {r.left, r.top, r.right, r.bottom});
  std::vector<unsigned char> bytes(w.size() * 4);
  std::memcpy(bytes.data(), w.data(), bytes.size());
  return bytes;
}

TEST_F(GdiTest, CombineRgnReportsTheKindOfItsResult) {
  struct Case {
    const char* name;
    RECT a, b;
    int mode;
    int kind;
  };
  const Case cases[] = {
      {"disjoint intersection is empty", {0, 0, 5, 5}, {10, 10, 15, 15}, RGN_AND, NULLREGION},
      {"overlap is one rectangle", {0, 0, 10, 10}, {5, 5, 15, 15}, RGN_AND, SIMPLEREGION},
      {"touching union merges", {0, 0, 5, 5}, {5, 0, 10, 5}, RGN_OR, SIMPLEREGION},
      {"L-shaped union", {0, 0, 10, 10}, {5, 5, 15, 15}, RGN_OR, COMPLEXREGION},
      {"hole punched", {0, 0, 10, 10}, {3, 3, 6, 6}, RGN_DIFF, COMPLEXREGION},
      {"self exclusive or", {0, 0, 10, 10}, {0, 0, 10, 10}, RGN_XOR, NULLREGION},
      {"copy", {1, 2, 3, 4}, {0, 0, 0, 0}, RGN_COPY, SIMPLEREGION},
      {"unknown mode", {0, 0, 1, 1}, {0, 0, 1, 1}, 6, RGN_ERROR},
  };
  for (const Case& c : cases) {
    const HRGN a = CreateRectRgnIndirect(&c.a);
    const HRGN b = CreateRectRgnIndirect(&c.b);
    const HRGN dest = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(CombineRgn(dest, a, b, c.mode), c.kind) << c.name;
    for (const HRGN h : {a, b, dest}) EXPECT_TRUE(DeleteObject(h));
  }
  EXPECT_EQ(CombineRgn(0x7777, 0x7777, 0x7777, RGN_OR), RGN_ERROR);
}

TEST_F(GdiTest, RegionDataHasTheExactByteLayout) {
  const HRGN ring = CreateRectRgn(0, 0, 10, 10);
  const HRGN hole = CreateRectRgn(3, 3, 7, 7);
  ASSERT_EQ(CombineRgn(ring, ring, hole, RGN_DIFF), COMPLEXREGION);
  EXPECT_EQ(GetRegionData(ring, 0, nullptr), 32u + 4 * 16);
  EXPECT_EQ(words(regionData(ring)),
            (std::vector<std::int32_t>{32, 1, 4,  64, 0, 0, 10, 10,  //
                                       0,  0, 10, 3,  0, 3, 3,  7,  7, 3, 10, 7, 0, 7, 10, 10}));
  std::vector<unsigned char> small(40);
  EXPECT_EQ(GetRegionData(ring, 40, reinterpret_cast<RGNDATA*>(small.data())), 0u) << "short buffer";
  const HRGN empty = CreateRectRgn(4, 4, 4, 9);
  EXPECT_EQ(words(regionData(empty)), (std::vector<std::int32_t>{32, 1, 0, 0, 0, 0, 0, 0}));
  for (const HRGN h : {ring, hole, empty}) DeleteObject(h);
}

TEST_F(GdiTest, ExtCreateRegionTakesOnlyDataThatFitsItsLength) {
  const Rects two{{0, 0, 4, 1}, {0, 1, 4, 2}};
  struct Case {
    const char* name;
    std::vector<unsigned char> data;
    std::size_t length;
    bool made;
  };
  std::vector<unsigned char> badSize = dataFor(two, 2);
  badSize[0] = 31;
  std::vector<unsigned char> badType = dataFor(two, 2);
  badType[4] = 2;
  const Case cases[] = {
      {"exact", dataFor(two, 2), 64, true},
      {"count above length", dataFor(two, 3), 64, false},
      {"count below length", dataFor(two, 1), 64, true},
      {"length short of header", dataFor({}, 0), 31, false},
      {"header alone", dataFor({}, 0), 32, true},
      {"wrong header size", badSize, 64, false},
      {"wrong type", badType, 64, false},
  };
  for (const Case& c : cases) {
    const HRGN h = ExtCreateRegion(nullptr, DWORD(c.length), reinterpret_cast<const RGNDATA*>(c.data.data()));
    EXPECT_EQ(h != 0, c.made) << c.name;
    if (h) DeleteObject(h);
  }
}

TEST_F(GdiTest, ExtCreateRegionScalesThroughATransformAndHonoursALimit) {
  const auto data = dataFor({{1, 1, 3, 2}}, 1);
  XFORM scale;
  scale.eM11 = 2.5f;
  scale.eM22 = 3.0f;
  const HRGN h = ExtCreateRegion(&scale, 48, reinterpret_cast<const RGNDATA*>(data.data()));
  RECT box;
  EXPECT_EQ(GetRgnBox(h, &box), SIMPLEREGION);
  EXPECT_EQ((std::vector<LONG>{box.left, box.top, box.right, box.bottom}), (std::vector<LONG>{3, 3, 8, 6}));
  DeleteObject(h);
  XFORM shear;
  shear.eM12 = 1;
  EXPECT_EQ(ExtCreateRegion(&shear, 48, reinterpret_cast<const RGNDATA*>(data.data())), 0u);
  SetExtCreateRegionLimit(1);
  const auto two = dataFor({{0, 0, 1, 1}, {2, 0, 3, 1}}, 2);
  EXPECT_EQ(ExtCreateRegion(nullptr, 64, reinterpret_cast<const RGNDATA*>(two.data())), 0u);
}

TEST_F(GdiTest, QueriesOnRegions) {
  const HRGN h = CreateRectRgn(10, 20, 0, 0);  // corners in either order
  EXPECT_TRUE(PtInRegion(h, 0, 0));
  EXPECT_FALSE(PtInRegion(h, 10, 5)) << "right edge is outside";
  const RECT inside{9, 19, 30, 30};
  const RECT outside{10, 0, 30, 30};
  EXPECT_TRUE(RectInRegion(h, &inside));
  EXPECT_FALSE(RectInRegion(h, &outside));
  const HRGN same = CreateRectRgn(0, 0, 10, 20);
  EXPECT_TRUE(EqualRgn(h, same));
  EXPECT_EQ(OffsetRgn(same, 1, 0), SIMPLEREGION);
  EXPECT_FALSE(EqualRgn(h, same));
  EXPECT_EQ(OffsetRgn(same, std::numeric_limits<int>::max(), 0), RGN_ERROR);
  EXPECT_TRUE(SetRectRgn(same, 0, 0, 0, 0));
  RECT box{1, 1, 1, 1};
  EXPECT_EQ(GetRgnBox(same, &box), NULLREGION);
  EXPECT_TRUE(IsRectEmpty(&box));
  EXPECT_EQ(GetObjectType(h), OBJ_REGION);
  EXPECT_TRUE(DeleteObject(h));
  EXPECT_FALSE(DeleteObject(h)) << "second delete";
  EXPECT_EQ(GetObjectType(h), 0u);
  EXPECT_FALSE(PtInRegion(h, 0, 0));
  DeleteObject(same);
}

// A 3 x 2 picture whose pixel (x, y) has blue x, green y, red 7.
HBITMAP testBitmap(bool topDown) {
  std::vector<BYTE> pixels;
  for (int row = 0; row < 2; ++row) {
    const int y = topDown ? row : 1 - row;
    for (int x = 0; x < 3; ++x) pixels.insert(pixels.end(), {BYTE(x), BYTE(y), 7, 0});
  }
  return CreateBitmapFromPixels(3, 2, topDown, pixels.data(), pixels.size());
}

TEST_F(GdiTest, DibRowsComeFromTheTopWhateverTheStorageOrder) {
  for (const bool topDown : {true, false}) {
    const HBITMAP bitmap = testBitmap(topDown);
    BITMAP description;
    ASSERT_EQ(GetObjectA(bitmap, sizeof description, &description), int(sizeof description));
    EXPECT_EQ(description.bmHeight, topDown ? -2 : 2);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, -2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> rows(2 * 12, 0xEE);
    const HDC dc = GetDC(0);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 2, rows.data(), &info, DIB_RGB_COLORS), 2);
    // Stride 12: 9 bytes of pixels, 3 of zero filler.
    EXPECT_EQ(rows,
              (std::vector<BYTE>{0, 0, 7, 1, 0, 7, 2, 0, 7, 0, 0, 0, 0, 1, 7, 1, 1, 7, 2, 1, 7, 0, 0, 0}));
    info.bmiHeader.biWidth = 4;
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 2, rows.data(), &info, DIB_RGB_COLORS), 0) << "layout of another size";
    EXPECT_EQ(GetDIBits(0, bitmap, 0, 2, rows.data(), &info, DIB_RGB_COLORS), 0) << "no context";
    ReleaseDC(0, dc);
    DeleteObject(bitmap);
  }
  const BYTE one[4] = {};
  EXPECT_EQ(CreateBitmapFromPixels(1, 1, true, one, 3), 0u) << "size that does not match";
  EXPECT_EQ(CreateBitmapFromPixels(0, 1, true, one, 0), 0u);
}

TEST_F(GdiTest, ThirtyTwoBitRowsAreTheColoursWithTheUnusedByteCleared) {
  for (const bool topDown : {true, false}) {
    // Pixel (x, y): blue x, green y, red 7, and an unused byte that must not come back.
    std::vector<BYTE> pixels;
    for (int row = 0; row < 2; ++row)
      for (int x = 0; x < 3; ++x)
        pixels.insert(pixels.end(), {BYTE(x), BYTE(topDown ? row : 1 - row), 7, 0xA5});
    const HBITMAP bitmap = CreateBitmapFromPixels(3, 2, topDown, pixels.data(), pixels.size());
    const HDC dc = CreateCompatibleDC(0);
    for (const LONG height : {-2, 2}) {
      BITMAPINFO info{};
      info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
      std::vector<BYTE> rows(2 * 12, 0xEE);
      ASSERT_EQ(GetDIBits(dc, bitmap, 0, 2, rows.data(), &info, DIB_RGB_COLORS), 2);
      const std::vector<BYTE> top{0, 0, 7, 0, 1, 0, 7, 0, 2, 0, 7, 0};
      const std::vector<BYTE> bottom{0, 1, 7, 0, 1, 1, 7, 0, 2, 1, 7, 0};
      std::vector<BYTE> want = height < 0 ? top : bottom;
      want.insert(want.end(), (height < 0 ? bottom : top).begin(), (height < 0 ? bottom : top).end());
      EXPECT_EQ(rows, want) << "stored " << (topDown ? "top-down" : "bottom-up") << ", asked " << height;
      // One line from the middle of the bottom-up layout lands at the start of the buffer.
      std::vector<BYTE> line(12, 0xEE);
      ASSERT_EQ(GetDIBits(dc, bitmap, 1, 5, line.data(), &info, DIB_RGB_COLORS), 1);
      EXPECT_EQ(line, std::vector<BYTE>(want.begin() + 12, want.end()));
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
}

TEST_F(GdiTest, PixelViewKeepsItsPixelsWhenTheBitmapIsDrawnIntoOrDeleted) {
  std::vector<BYTE> pixels{1, 2, 3, 0xFF, 4, 5, 6, 0xFF, 7, 8, 9, 0xFF, 10, 11, 12, 0xFF};
  const HBITMAP bitmap = CreateBitmapFromPixels(2, 2, false, pixels.data(), pixels.size());
  std::optional<BitmapPixels> view = PixelsOfBitmap(bitmap);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->width, 2);
  EXPECT_EQ(view->height, 2);
  // Stored from the bottom: the top row is the second one given.
  EXPECT_EQ(view->row(0)[0], 0x090807u);
  EXPECT_EQ(view->row(1)[1], 0x060504u);

  const HDC dc = CreateCompatibleDC(0);
  SelectObject(dc, bitmap);
  const HRGN all = CreateRectRgn(0, 0, 2, 2);
  const HBRUSH red = CreateSolidBrush(0x0000FF);
  EXPECT_TRUE(FillRgn(dc, all, red));
  EXPECT_EQ(view->row(0)[0], 0x090807u) << "drawing wrote into a view taken before";
  EXPECT_EQ(PixelsOfBitmap(bitmap)->row(0)[0], 0xFF0000u) << "the bitmap itself was not drawn into";
  const std::optional<BitmapPixels> after = PixelsOfBitmap(bitmap);
  view.reset();
  EXPECT_TRUE(InvertRgn(dc, all));
  EXPECT_EQ(PixelsOfBitmap(bitmap)->row(1)[1], 0x00FFFFu);
  EXPECT_EQ(after->row(1)[1], 0xFF0000u) << "a view taken between two drawings";

  DeleteDC(dc);
  for (const HGDIOBJ h : {all, red, bitmap}) EXPECT_TRUE(DeleteObject(h));
  EXPECT_EQ(after->row(0)[1], 0xFF0000u) << "a view outlives its bitmap";
  EXPECT_FALSE(PixelsOfBitmap(bitmap));
  EXPECT_FALSE(PixelsOfBitmap(all));
}

class DrawingTest : public GdiTest {
 protected:
  void SetUp() override {
    GdiTest::SetUp();
    std::vector<BYTE> white(8 * 8 * 4, 0xFF);
    bitmap_ = CreateBitmapFromPixels(8, 8, true, white.data(), white.size());
    dc_ = CreateCompatibleDC(0);
    SelectObject(dc_, bitmap_);
  }
  void TearDown() override {
    DeleteDC(dc_);
    DeleteObject(bitmap_);
    GdiTest::TearDown();
  }
  // One letter a pixel: W white, R red, C cyan, B blue, ? other.
  std::string picture() {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, -8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> rows(8 * 8 * 4);
    EXPECT_EQ(GetDIBits(dc_, bitmap_, 0, 8, rows.data(), &info, DIB_RGB_COLORS), 8);
    std::string out;
    for (int i = 0; i < 64; ++i) {
      const COLORREF c = rows[4 * i + 2] | (rows[4 * i + 1] << 8) | (rows[4 * i] << 16);
      out += c == 0xFFFFFF ? 'W' : c == 0x0000FF ? 'R' : c == 0xFFFF00 ? 'C' : c == 0xFF0000 ? 'B' : '?';
      if (i % 8 == 7) out += '\n';
    }
    return out;
  }
  HBITMAP bitmap_ = 0;
  HDC dc_ = 0;
};

TEST_F(DrawingTest, FillInvertAndFrameStayInsideTheClipRegion) {
  const HRGN square = CreateRectRgn(1, 1, 7, 7);
  const HRGN clip = CreateRectRgn(0, 0, 8, 5);
  EXPECT_EQ(SelectClipRgn(dc_, clip), SIMPLEREGION);
  const HBRUSH red = CreateSolidBrush(0x0000FF);
  const HBRUSH blue = CreateSolidBrush(0xFF0000);
  EXPECT_TRUE(FillRgn(dc_, square, red));
  EXPECT_TRUE(InvertRgn(dc_, square));
  EXPECT_TRUE(FrameRgn(dc_, square, blue, 1, 1));
  EXPECT_EQ(picture(),
            "WWWWWWWW\n"
            "WBBBBBBW\n"
            "WBCCCCBW\n"
            "WBCCCCBW\n"
            "WBCCCCBW\n"
            "WWWWWWWW\n"
            "WWWWWWWW\n"
            "WWWWWWWW\n");
  EXPECT_FALSE(DeleteObject(bitmap_)) << "still selected";
  EXPECT_TRUE(PtVisible(dc_, 3, 4));
  EXPECT_FALSE(PtVisible(dc_, 3, 5));
  const HRGN got = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetClipRgn(dc_, got), 1);
  EXPECT_TRUE(EqualRgn(got, clip));
  EXPECT_EQ(OffsetClipRgn(dc_, 0, 3), SIMPLEREGION);
  EXPECT_FALSE(PtVisible(dc_, 3, 2));
  EXPECT_EQ(SelectClipRgn(dc_, 0), SIMPLEREGION);
  EXPECT_EQ(GetClipRgn(dc_, got), 0) << "no clip region any more";
  EXPECT_EQ(GetRandomRgn(dc_, got, SYSRGN), 1);
  RECT box;
  GetRgnBox(got, &box);
  EXPECT_EQ((std::vector<LONG>{box.left, box.top, box.right, box.bottom}), (std::vector<LONG>{0, 0, 8, 8}));
  for (const HGDIOBJ h : {square, clip, red, blue, got}) EXPECT_TRUE(DeleteObject(h));
}

TEST_F(DrawingTest, ClipModesCombineWithTheWholeSurfaceWhenThereIsNoClip) {
  const HRGN left = CreateRectRgn(0, 0, 4, 8);
  EXPECT_EQ(ExtSelectClipRgn(dc_, left, RGN_DIFF), SIMPLEREGION);
  EXPECT_FALSE(PtVisible(dc_, 1, 1));
  EXPECT_TRUE(PtVisible(dc_, 5, 1));
  EXPECT_EQ(ExtSelectClipRgn(dc_, left, RGN_OR), SIMPLEREGION);
  EXPECT_TRUE(PtVisible(dc_, 1, 1));
  EXPECT_EQ(ExtSelectClipRgn(dc_, 0, RGN_AND), RGN_ERROR);
  EXPECT_EQ(SetPolyFillMode(dc_, WINDING), ALTERNATE);
  EXPECT_EQ(GetPolyFillMode(dc_), WINDING);
  DeleteObject(left);
}

}  // namespace
}  // namespace vornel::platform
