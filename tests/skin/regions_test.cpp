#include "skin/cls_regions.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "skin/window_host.h"

namespace vornel::skin {
namespace {

using namespace vornel::platform;
using Picture = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

// Picture letters: '.' the key colour (also the top-left pixel's), '#' and '+' two others.
constexpr QRgb kKey = qRgb(0x10, 0x20, 0x30);
constexpr QRgb kInk = qRgb(0xF0, 0x40, 0x00);
constexpr QRgb kOther = qRgb(0x01, 0x02, 0x03);

QRgb colourOf(char c) { return c == '.' ? kKey : c == '+' ? kOther : kInk; }

HBITMAP bitmapOf(const Picture& rows, bool topDown = true) {
  const int height = int(rows.size());
  const int width = int(rows[0].size());
  std::vector<BYTE> pixels;
  for (int row = 0; row < height; ++row) {
    const std::string& line = rows[std::size_t(topDown ? row : height - 1 - row)];
    for (const char c : line) {
      const QRgb rgb = colourOf(c);
      pixels.insert(pixels.end(), {BYTE(qBlue(rgb)), BYTE(qGreen(rgb)), BYTE(qRed(rgb)), 0});
    }
  }
  return CreateBitmapFromPixels(width, height, topDown, pixels.data(), pixels.size());
}

// The region drawn back as a picture: '#' inside, '.' outside, over width x height.
Picture drawn(HRGN region, int width, int height) {
  Picture rows(std::size_t(height), std::string(std::size_t(width), '.'));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (PtInRegion(region, x, y)) rows[std::size_t(y)][std::size_t(x)] = '#';
  return rows;
}

std::vector<std::int32_t> rectanglesOf(HRGN region) {
  const DWORD size = GetRegionData(region, 0, nullptr);
  std::vector<std::int32_t> words(size / 4);
  if (size != 0) GetRegionData(region, size, reinterpret_cast<RGNDATA*>(words.data()));
  return words.size() > 8 ? std::vector<std::int32_t>(words.begin() + 8, words.end())
                          : std::vector<std::int32_t>{};
}

Bytes regionBytes(std::vector<std::int32_t> words) {
  Bytes out(words.size() * 4);
  std::memcpy(out.data(), words.data(), out.size());
  return out;
}

class RegionsTest : public ::testing::Test {
 protected:
  void SetUp() override { objects_ = GdiObjectCount(); }
  void TearDown() override {
    SetExtCreateRegionLimit(0);
    EXPECT_EQ(GdiObjectCount(), objects_) << "graphics objects leaked";
  }
  clsRegions regions_;
  std::size_t objects_ = 0;
};

// ---- Window shape from a picture ----

struct ShapeCase {
  const char* name;
  Picture picture;
  std::int32_t transColor;
  bool anti;
  std::int32_t exclude[4];
  Picture shape;  // empty: no region at all
};

class RegionFromBitmapTest : public RegionsTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(RegionFromBitmapTest, CoversExactlyThePixelsItShould) {
  const ShapeCase& c = GetParam();
  const HBITMAP bitmap = bitmapOf(c.picture);
  const int width = int(c.picture[0].size());
  const int height = int(c.picture.size());
  const auto region = HRGN(regions_.RegionFromBitmap(bitmap, 0, c.transColor, c.anti, c.exclude[0],
                                                     c.exclude[1], c.exclude[2], c.exclude[3]));
  if (c.shape.empty()) {
    EXPECT_EQ(region, 0u);
  } else {
    ASSERT_NE(region, 0u);
    EXPECT_EQ(drawn(region, width + 2, height + 2), c.shape);
  }
  regions_.DestroyRegion(region);
  DeleteObject(bitmap);
}

const std::int32_t kInkReferenceTopByte = 0x01000000 | 0x0040F0;  // red F0, green 40, blue 00

INSTANTIATE_TEST_SUITE_P(
    Pictures, RegionFromBitmapTest,
    ::testing::Values(
        ShapeCase{"top_left_colour_is_transparent",
                  {"..#.", ".##.", "...."},
                  -1,
                  false,
                  {0, 0, 0, 0},
                  {"..#...", ".##...", "......", "......", "......"}},
        ShapeCase{"gaps_split_a_row", {"#.#"}, 0x302010, false, {0, 0, 0, 0}, {"#.#..", ".....", "....."}},
        ShapeCase{"all_transparent_gives_no_region", {"...", "..."}, -1, false, {0, 0, 0, 0}, {}},
        ShapeCase{"key_absent_gives_full_rows",
                  {"#+#", "+#+"},
                  0x00FFFFFF,
                  false,
                  {0, 0, 0, 0},
                  {"###..", "###..", ".....", "....."}},
        ShapeCase{"anti_region_takes_the_key_pixels",
                  {"..#.", "#..#"},
                  -1,
                  true,
                  {0, 0, 0, 0},
                  {"##.#..", ".##...", "......", "......"}},
        ShapeCase{"colour_reference_top_byte_ignored",
                  {"+#+", "#+#"},
                  kInkReferenceTopByte,
                  false,
                  {0, 0, 0, 0},
                  {"#.#..", ".#...", ".....", "....."}},
        ShapeCase{"exclusion_band_goes_in_whole",
                  {"......", "......", "......", "....#."},
                  -1,
                  false,
                  {1, 1, 4, 3},
                  {"........", ".####...", ".####...", "....#...", "........", "........"}},
        ShapeCase{"exclusion_band_scans_right_of_it",
                  {".....", ".#..#", "....."},
                  -1,
                  false,
                  {0, 1, 2, 2},
                  {".......", "###.#..", ".......", ".......", "......."}},
        ShapeCase{"negative_exclusion_edges_clamp_to_zero",
                  {"....", "....", "...."},
                  -1,
                  false,
                  {-3, -3, 2, 2},
                  {"###...", "###...", "......", "......", "......"}},
        ShapeCase{"exclusion_past_the_right_edge_reaches_it",
                  {"....", "....", "...."},
                  -1,
                  false,
                  {2, 1, 99, 2},
                  {"......", "..##..", "......", "......", "......"}},
        ShapeCase{"empty_exclusion_is_ignored",
                  {"..", ".#"},
                  -1,
                  false,
                  {1, 1, 2, 1},
                  {"....", ".#..", "....", "...."}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(RegionsTest, SinglePixelGivesExactlyItsRectangle) {
  const HBITMAP bitmap = bitmapOf({".....", ".....", "...#.", "....."});
  const auto region = HRGN(regions_.RegionFromBitmap(bitmap));
  EXPECT_EQ(rectanglesOf(region), (std::vector<std::int32_t>{3, 2, 4, 3}));
  regions_.DestroyRegion(region);
  DeleteObject(bitmap);
}

TEST_F(RegionsTest, SystemColourKeyUsesTheColourOfItsIndex) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  std::vector<BYTE> pixels{BYTE(face >> 16), BYTE(face >> 8), BYTE(face), 0, 9, 9, 9, 0};
  const HBITMAP bitmap = CreateBitmapFromPixels(2, 1, true, pixels.data(), pixels.size());
  const auto region = HRGN(regions_.RegionFromBitmap(bitmap, 0, std::int32_t(0x8000000Fu)));
  EXPECT_EQ(rectanglesOf(region), (std::vector<std::int32_t>{1, 0, 2, 1}));
  regions_.DestroyRegion(region);
  DeleteObject(bitmap);
}

Picture randomPicture(unsigned seed, int width, int height) {
  std::mt19937 rng(seed);
  Picture rows(std::size_t(height), std::string(std::size_t(width), '.'));
  for (auto& row : rows)
    for (char& c : row) c = ".#+"[rng() % 3];
  return rows;
}

TEST_F(RegionsTest, RegionAndAntiRegionSplitThePicture) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    const HBITMAP bitmap = bitmapOf(randomPicture(seed, 13, 9));
    const auto normal = HRGN(regions_.RegionFromBitmap(bitmap, 0, -1, false));
    const auto anti = HRGN(regions_.RegionFromBitmap(bitmap, 0, -1, true));
    const HRGN both = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(CombineRgn(both, normal, anti, RGN_AND), NULLREGION) << seed;
    CombineRgn(both, normal, anti, RGN_OR);
    const HRGN whole = CreateRectRgn(0, 0, 13, 9);
    EXPECT_TRUE(EqualRgn(both, whole)) << seed;
    for (const HRGN h : {normal, anti, both, whole}) DeleteObject(h);
    DeleteObject(bitmap);
  }
}

TEST_F(RegionsTest, BottomUpAndTopDownPicturesGiveTheSameRegion) {
  const Picture picture = randomPicture(7, 11, 6);
  const HBITMAP topDown = bitmapOf(picture, true);
  const HBITMAP bottomUp = bitmapOf(picture, false);
  const auto a = HRGN(regions_.RegionFromBitmap(topDown));
  const auto b = HRGN(regions_.RegionFromBitmap(bottomUp));
  EXPECT_TRUE(EqualRgn(a, b));
  EXPECT_EQ(drawn(a, 11, 6)[0][0], '.');
  for (const HGDIOBJ h : {a, b, topDown, bottomUp}) DeleteObject(h);
}

// ---- The scan against a plain pixel-by-pixel reading ----

// Pixels as bytes blue, green, red and an unused byte that must not matter, given as words.
struct ScanPicture {
  int width;
  int height;
  std::vector<std::uint32_t> words;  // rows from the top, 0xUURRGGBB
  bool topDown = true;
  std::int32_t transColor = -1;
  bool anti = false;
  std::array<std::int32_t, 4> exclude{};
};

// What RegionFromBitmap promises, read one pixel at a time: a pixel is inside when its colour
// (unused byte ignored) differs from the key, or matches it for an anti-region; rows of the
// exclusion band take columns left to right inclusive (up to the picture's edge) whole.
Region referenceRegion(const ScanPicture& p) {
  const std::uint32_t key = p.transColor == -1 ? p.words[0] & 0xFFFFFFu
                                               : ((std::uint32_t(p.transColor) >> 16) & 0xFF) |
                                                     (std::uint32_t(p.transColor) & 0xFF00) |
                                                     ((std::uint32_t(p.transColor) & 0xFF) << 16);
  std::int32_t left = std::max(p.exclude[0], 0), top = std::max(p.exclude[1], 0);
  std::int32_t right = std::min(p.exclude[2], p.width), bottom = std::min(p.exclude[3], p.height);
  if (bottom <= top || right <= left) bottom = top;
  const std::int32_t bandEnd = right < p.width ? right + 1 : p.width;
  Region out;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const bool inBand = y >= top && y < bottom && x >= left && x < bandEnd;
      const bool differs = (p.words[std::size_t(y * p.width + x)] & 0xFFFFFFu) != key;
      if (inBand || differs != p.anti)
        out = Region::Combine(out, Region::FromRect({x, y, x + 1, y + 1}), Region::Op::Or);
    }
  return out;
}

void expectScanMatchesReference(clsRegions& regions, const ScanPicture& p, const std::string& label) {
  std::vector<BYTE> bytes;
  for (int row = 0; row < p.height; ++row) {
    const int y = p.topDown ? row : p.height - 1 - row;
    for (int x = 0; x < p.width; ++x) {
      const std::uint32_t w = p.words[std::size_t(y * p.width + x)];
      bytes.insert(bytes.end(), {BYTE(w), BYTE(w >> 8), BYTE(w >> 16), BYTE(w >> 24)});
    }
  }
  const HBITMAP bitmap = CreateBitmapFromPixels(p.width, p.height, p.topDown, bytes.data(), bytes.size());
  ASSERT_NE(bitmap, 0u) << label;
  const Region want = referenceRegion(p);
  const auto got = HRGN(regions.RegionFromBitmap(bitmap, 0, p.transColor, p.anti, p.exclude[0], p.exclude[1],
                                                 p.exclude[2], p.exclude[3]));
  if (want.empty()) {
    EXPECT_EQ(got, 0u) << label;
  } else {
    const std::optional<Region> region = RegionOf(got);
    ASSERT_TRUE(region) << label;
    EXPECT_EQ(region->rects(), want.rects()) << label;
  }
  if (got != 0) DeleteObject(got);
  DeleteObject(bitmap);
}

constexpr std::uint32_t kKeyWord = 0x00302010;  // red 30, green 20, blue 10
constexpr std::int32_t kKeyRef = 0x00102030;    // the same as a COLORREF

ScanPicture filled(int width, int height, std::uint32_t word) {
  return {width, height, std::vector<std::uint32_t>(std::size_t(width * height), word)};
}

struct ScanEdgeCase {
  const char* name;
  ScanPicture picture;
};

void PrintTo(const ScanEdgeCase& c, std::ostream* out) { *out << c.name; }

class ScanEdgeTest : public RegionsTest, public ::testing::WithParamInterface<ScanEdgeCase> {};

TEST_P(ScanEdgeTest, AgreesWithThePixelByPixelReading) {
  expectScanMatchesReference(regions_, GetParam().picture, GetParam().name);
}

ScanPicture withColumn(ScanPicture p, int x, std::uint32_t word) {
  for (int y = 0; y < p.height; ++y) p.words[std::size_t(y * p.width + x)] = word;
  return p;
}

ScanPicture withKey(ScanPicture p, std::int32_t transColor, bool anti = false) {
  p.transColor = transColor;
  p.anti = anti;
  return p;
}

ScanPicture nearKeys() {
  // Each neighbour differs from the key in one channel by one step, unused byte aside.
  ScanPicture p = filled(13, 2, kKeyWord);
  const std::uint32_t near[] = {kKeyWord ^ 1, kKeyWord ^ 0x100, kKeyWord ^ 0x10000, kKeyWord ^ 0x80000000u};
  for (std::size_t i = 0; i < p.words.size(); i += 3) p.words[i] = near[(i / 3) % 4];
  p.words[0] = kKeyWord;
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ScanEdgeTest,
    ::testing::Values(ScanEdgeCase{"one_key_pixel", filled(1, 1, kKeyWord)},
                      ScanEdgeCase{"one_pixel_of_another_key", withKey(filled(1, 1, kKeyWord), 0x00FFFFFF)},
                      ScanEdgeCase{"all_key_wide", filled(37, 3, kKeyWord)},
                      ScanEdgeCase{"all_key_anti", withKey(filled(37, 3, kKeyWord), -1, true)},
                      ScanEdgeCase{"no_key", withKey(filled(37, 3, 0x00ABCDEF), kKeyRef)},
                      ScanEdgeCase{"key_only_in_the_last_column",
                                   withKey(withColumn(filled(17, 3, 0x0000FF00), 16, kKeyWord), kKeyRef)},
                      ScanEdgeCase{"ink_only_in_the_last_column_of_eight",
                                   withColumn(filled(8, 2, kKeyWord), 7, 0x00FF0000)},
                      ScanEdgeCase{"ink_only_in_the_last_column_of_sixteen",
                                   withKey(withColumn(filled(16, 2, kKeyWord), 15, 0x00FF0000), -1, true)},
                      ScanEdgeCase{"ink_only_in_the_first_column_after_eight",
                                   withColumn(filled(9, 2, kKeyWord), 8, 1)},
                      ScanEdgeCase{"key_with_any_unused_byte_is_key",
                                   withColumn(filled(11, 2, kKeyWord | 0x80000000u), 0, kKeyWord)},
                      ScanEdgeCase{"top_left_unused_byte_does_not_change_the_key",
                                   withColumn(filled(11, 2, kKeyWord), 0, kKeyWord | 0xFF000000u)},
                      ScanEdgeCase{"colours_one_step_from_the_key", nearKeys()}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(RegionsTest, ScanAgreesWithThePixelByPixelReadingOnRandomPictures) {
  std::mt19937 rng(2024);
  const std::uint32_t palette[] = {kKeyWord, kKeyWord ^ 1, kKeyWord ^ 0x10000, 0x00FFFFFF, 0};
  for (int round = 0; round < 400; ++round) {
    // Widths around multiples of eight and runs of every length, long ones most often.
    const int width = 1 + int(rng() % 40);
    const int height = 1 + int(rng() % 6);
    ScanPicture p = filled(width, height, kKeyWord);
    std::uint32_t colour = palette[rng() % 5];
    for (std::uint32_t& w : p.words) {
      if (rng() % 5 == 0) colour = palette[rng() % 5];
      w = colour | (rng() % 3 == 0 ? (rng() << 24) : 0u);
    }
    p.topDown = rng() % 2 == 0;
    p.transColor = rng() % 2 == 0 ? -1 : kKeyRef;
    p.anti = rng() % 3 == 0;
    if (rng() % 3 == 0)
      for (std::int32_t& e : p.exclude) e = int(rng() % (width + 4)) - 2;
    expectScanMatchesReference(regions_, p, "round " + std::to_string(round));
  }
}

TEST_F(RegionsTest, ManyRectanglesSurviveGrowthAndTheBatchPath) {
  // A checkerboard of single pixels: 60 runs a row, 3600 rectangles, far above the first
  // allocation of 3 x 120 - 1 slots and above one batch.
  Picture board(60, std::string(120, '.'));
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 120; ++x) board[std::size_t(y)][std::size_t(x)] = (x + y) % 2 ? '#' : '.';
  const HBITMAP bitmap = bitmapOf(board);
  const auto oneCall = HRGN(regions_.RegionFromBitmap(bitmap));
  EXPECT_EQ(rectanglesOf(oneCall).size(), 3600u * 4);
  EXPECT_EQ(drawn(oneCall, 120, 60), board);

  SetExtCreateRegionLimit(2001);  // refuses the single call, takes batches of 2001
  const auto batched = HRGN(regions_.RegionFromBitmap(bitmap));
  ASSERT_NE(batched, 0u);
  EXPECT_TRUE(EqualRgn(oneCall, batched));

  SetExtCreateRegionLimit(1000);  // refuses the batches too: no region, and nothing leaked
  EXPECT_EQ(regions_.RegionFromBitmap(bitmap), 0);
  for (const HGDIOBJ h : {oneCall, batched, bitmap}) DeleteObject(h);
}

TEST_F(RegionsTest, QtPictureBecomesABitmapWithItsColours) {
  QImage image(3, 2, QImage::Format_ARGB32);
  image.fill(QColor::fromRgba(qRgba(0x10, 0x20, 0x30, 0)));
  image.setPixel(1, 1, qRgba(0xF0, 0x40, 0x00, 0xFF));
  const HBITMAP bitmap = BitmapFromImage(image);
  const auto region = HRGN(regions_.RegionFromBitmap(bitmap));
  EXPECT_EQ(rectanglesOf(region), (std::vector<std::int32_t>{1, 1, 2, 2}));
  const QImage back = ImageFromBitmap(bitmap);
  EXPECT_EQ(back.pixel(0, 0), qRgb(0x10, 0x20, 0x30)) << "alpha dropped, colour kept";
  EXPECT_EQ(back.pixel(1, 1), qRgb(0xF0, 0x40, 0x00));
  EXPECT_EQ(BitmapFromImage(QImage()), 0u);
  EXPECT_TRUE(ImageFromBitmap(region).isNull());
  regions_.DestroyRegion(region);
  DeleteObject(bitmap);
}

TEST_F(RegionsTest, HandlesThatAreNotPicturesGiveNothing) {
  const HRGN notAPicture = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(regions_.RegionFromBitmap(0), 0);
  EXPECT_EQ(regions_.RegionFromBitmap(notAPicture), 0);
  EXPECT_EQ(regions_.RegionFromBitmap(0x7654321), 0);
  DeleteObject(notAPicture);
}

// ---- Windows ----

QRegion qregion(std::initializer_list<QRect> rects) {
  QRegion r;
  for (const QRect& rect : rects) r += rect;
  return r;
}

TEST_F(RegionsTest, WindowIsShapedByItsPictureAndOwnsTheRegion) {
  QWidget window;
  window.resize(4, 3);
  const HWND hwnd = WindowHandle(&window);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(WindowHandle(&window), hwnd);
  const HBITMAP bitmap = bitmapOf({"..#.", ".##.", "...."});
  const std::size_t before = GdiObjectCount();
  EXPECT_NE(regions_.RegionFromBitmap(bitmap, hwnd), 0);
  EXPECT_EQ(GdiObjectCount(), before) << "the window holds the region, no handle is left over";
  EXPECT_EQ(window.mask(), qregion({QRect(2, 0, 1, 1), QRect(1, 1, 2, 1)}));

  const HRGN copy = regions_.ImportRegion(0, std::int32_t(hwnd));
  EXPECT_EQ(drawn(copy, 4, 3), (Picture{"..#.", ".##.", "...."}));
  const HRGN fromText = regions_.ImportRegion(0, std::to_string(hwnd) + " and more");
  EXPECT_TRUE(regions_.AreReqionsEqual(copy, fromText)) << "a handle as text with a leading number";
  regions_.DestroyRegion(copy);
  regions_.DestroyRegion(fromText);

  // A picture without an inside pixel takes the shape away again.
  const HBITMAP blank = bitmapOf({"....", "....", "...."});
  EXPECT_NE(regions_.RegionFromBitmap(blank, hwnd), 0);
  EXPECT_TRUE(window.mask().isEmpty());
  EXPECT_EQ(regions_.ImportRegion(0, std::int32_t(hwnd)), 0u);
  DeleteObject(bitmap);
  DeleteObject(blank);
}

TEST_F(RegionsTest, RegionWithExtremeEdgesStillShapesAWindow) {
  QWidget window;
  window.resize(10, 10);
  const HWND hwnd = WindowHandle(&window);
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const HRGN huge = regions_.ImportRegion(3, regionBytes({32, 1, 1, 16, 0, 0, 0, 0, kMin, kMin, kMax, kMax}));
  ASSERT_NE(huge, 0u);
  EXPECT_NE(regions_.SetRegionToWindow(huge, hwnd), 0);
  EXPECT_TRUE(window.mask().contains(QPoint(5, 5)));
  const HRGN back = regions_.ImportRegion(0, std::int32_t(hwnd));
  EXPECT_EQ(rectanglesOf(back), (std::vector<std::int32_t>{kMin, kMin, kMax, kMax}))
      << "the shape itself is kept whole";
  regions_.DestroyRegion(back);
}

TEST_F(RegionsTest, AWindowThatIsGoneIsRefusedBeforeThePictureIsRead) {
  auto window = std::make_unique<QWidget>();
  const HWND hwnd = WindowHandle(window.get());
  window.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  const HBITMAP bitmap = bitmapOf({".#"});
  EXPECT_EQ(regions_.RegionFromBitmap(bitmap, hwnd), 0);
  const HRGN region = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(regions_.SetRegionToWindow(region, hwnd), 0);
  EXPECT_TRUE(regions_.IsRegion(region)) << "a refused region stays the caller's";
  DeleteObject(region);
  DeleteObject(bitmap);
}

TEST_F(RegionsTest, UpdateRegionFollowsInvalidateAndValidate) {
  QWidget window;
  window.resize(20, 20);
  const HWND hwnd = WindowHandle(&window);
  const HRGN area = CreateRectRgn(0, 0, 10, 10);
  EXPECT_NE(regions_.ValidateInvalidateRgn(hwnd, area, false), 0);
  const HRGN part = CreateRectRgn(0, 0, 10, 5);
  EXPECT_NE(regions_.ValidateInvalidateRgn(hwnd, part, true, true, true), 0);
  EXPECT_FALSE(regions_.IsRegion(part));
  const HRGN update = regions_.ImportRegion(7, std::int32_t(hwnd));
  EXPECT_EQ(drawn(update, 12, 12)[4], std::string(12, '.'));
  EXPECT_EQ(drawn(update, 12, 12)[5], "##########..");
  EXPECT_EQ(regions_.ValidateInvalidateRgn(0x7FFF0000, area), 0);
  EXPECT_EQ(regions_.ImportRegion(7, std::string("not a number")), 0u);
  regions_.DestroyRegion(update);
  regions_.DestroyRegion(area);
}

// ---- Region files ----

class RegionFileTest : public RegionsTest {
 protected:
  void SetUp() override {
    RegionsTest::SetUp();
    std::string folder = (std::filesystem::temp_directory_path() / "vornel-regions-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    folder_ = folder;
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    RegionsTest::TearDown();
  }
  std::string file(const char* name) const { return (folder_ / name).string(); }
  void write(const std::string& path, const Bytes& bytes) const {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  HRGN ring() {
    const HRGN r = CreateRectRgn(0, 0, 10, 10);
    const HRGN hole = CreateRectRgn(3, 3, 7, 7);
    CombineRgn(r, r, hole, RGN_DIFF);
    DeleteObject(hole);
    return r;
  }
  std::filesystem::path folder_;
};

TEST_F(RegionFileTest, SavedRegionLoadsBackEqual) {
  const HRGN region = ring();
  const std::string path = file("ring.rgn");
  EXPECT_EQ(regions_.SaveRegionToFile(region, "  " + path + "  "), 0) << "spaces around the name are trimmed";
  EXPECT_EQ(std::filesystem::file_size(path), 32u + 16 * 4);
  const HRGN loaded = regions_.ImportRegion(1, path);
  EXPECT_TRUE(regions_.AreReqionsEqual(region, loaded));
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  regions_.DestroyRegion(loaded);
  EXPECT_EQ(regions_.SaveRegionToFile(region, path, 0, true), 0);
  EXPECT_FALSE(regions_.IsRegion(region)) << "destroyed as asked";
}

TEST_F(RegionFileTest, SavingReplacesAReadOnlyFileAndSetsOnlyTheReadOnlyAttribute) {
  namespace fs = std::filesystem;
  struct Case {
    std::int32_t attrs;
    bool readOnly;
  };
  const HRGN region = ring();
  for (const Case c : {Case{1, true}, Case{32, false}, Case{6, false}, Case{7, true}}) {
    const std::string path = file("replaced.rgn");
    write(path, Bytes(5, 0xAB));
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(regions_.SaveRegionToFile(region, path, c.attrs), 0) << c.attrs;
    EXPECT_EQ(fs::file_size(path), 96u);
    EXPECT_EQ((fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none, c.readOnly)
        << c.attrs;
  }
  regions_.DestroyRegion(region);
}

TEST_F(RegionFileTest, RefusedSavesNameTheirReason) {
  const HRGN empty = CreateRectRgn(0, 0, 0, 0);
  const std::string path = file("kept.rgn");
  write(path, Bytes(48, 1));
  EXPECT_EQ(regions_.SaveRegionToFile(empty, path), 17);
  EXPECT_EQ(std::filesystem::file_size(path), 48u) << "an existing file is not lost to an empty region";
  EXPECT_EQ(regions_.SaveRegionToFile(empty, file("new.rgn")), 17);
  EXPECT_FALSE(std::filesystem::exists(file("new.rgn")));
  for (const char* blank : {"", "    "}) EXPECT_EQ(regions_.SaveRegionToFile(empty, blank), 76);
  EXPECT_EQ(regions_.SaveRegionToFile(empty, " ", 0, true), 76);
  EXPECT_FALSE(regions_.IsRegion(empty));

  const HBRUSH brush = CreateSolidBrush(0);
  EXPECT_EQ(regions_.SaveRegionToFile(brush, path, 0, true), 380);
  EXPECT_EQ(GetObjectType(brush), OBJ_BRUSH) << "a non-region is never destroyed";
  DeleteObject(brush);

  const HRGN region = ring();
  std::filesystem::create_directory(file("folder.rgn"));
  EXPECT_NE(regions_.SaveRegionToFile(region, file("folder.rgn")), 0);
  EXPECT_NE(regions_.SaveRegionToFile(region, file("missing/dir/x.rgn")), 0);
  regions_.DestroyRegion(region);
}

TEST_F(RegionFileTest, ImportTrustsTheLengthNotTheHeader) {
  const std::vector<std::int32_t> rects{0, 0, 4, 1, 2, 1, 6, 3};
  struct Case {
    const char* name;
    std::vector<std::int32_t> header;
  };
  const Case cases[] = {
      {"true header", {32, 1, 2, 32, 0, 0, 6, 3}},
      {"count far too high", {32, 1, 1000000, 16000000, 0, 0, 6, 3}},
      {"count zero, wrong sizes", {99, 7, 0, 0, 0, 0, 0, 0}},
      {"extreme bounds",
       {32, 1, 2, 32, std::numeric_limits<std::int32_t>::min(), 0, std::numeric_limits<std::int32_t>::max(),
        3}},
  };
  for (const Case& c : cases) {
    std::vector<std::int32_t> words = c.header;
    words.insert(words.end(), rects.begin(), rects.end());
    const std::string path = file("lying.rgn");
    write(path, regionBytes(words));
    const HRGN region = regions_.ImportRegion(1, path);
    EXPECT_EQ(drawn(region, 7, 4), (Picture{"####...", "..####.", "..####.", "......."})) << c.name;
    regions_.DestroyRegion(region);
  }
}

TEST_F(RegionFileTest, RegionDataLoadsFromTheProgramsResources) {
  const HRGN region = regions_.ImportRegion(2, std::string("RGN"), 101);
  EXPECT_EQ(drawn(region, 7, 4), (Picture{"####...", "..####.", "..####.", "......."}));
  regions_.DestroyRegion(region);
}

TEST_F(RegionFileTest, ShortAndPartialDataImportSafely) {
  const Bytes full = regionBytes({32, 1, 2, 32, 0, 0, 6, 3, 0, 0, 4, 1, 2, 1, 6, 3});
  for (const std::size_t length : {0u, 20u, 32u, 33u}) {
    EXPECT_EQ(regions_.ImportRegion(3, Bytes(full.begin(), full.begin() + long(length))), 0u) << length;
  }
  // The second rectangle cut after its top edge: its missing edges read as zero, so it is empty.
  const HRGN cut = regions_.ImportRegion(3, Bytes(full.begin(), full.begin() + 56));
  EXPECT_EQ(rectanglesOf(cut), (std::vector<std::int32_t>{0, 0, 4, 1}));
  regions_.DestroyRegion(cut);
  EXPECT_EQ(regions_.ImportRegion(3, std::int32_t(5)), 0u) << "not a byte array";
  EXPECT_EQ(regions_.ImportRegion(1, file("absent.rgn")), 0u);
  std::filesystem::create_directory(file("dir.rgn"));
  EXPECT_EQ(regions_.ImportRegion(1, file("dir.rgn")), 0u);
  EXPECT_EQ(regions_.ImportRegion(2, std::string("RGN"), 102), 0u) << "no such resource";
  EXPECT_EQ(regions_.ImportRegion(2, std::int32_t(101), 101), 0u) << "a resource type must be text";
  EXPECT_EQ(regions_.ImportRegion(99, std::int32_t(0)), 0u);
}

// ---- Toolkit operations ----

TEST_F(RegionsTest, MeasuringEmptyAndNonRegions) {
  const HRGN empty = CreateRectRgn(0, 0, 0, 0);
  const HRGN rect = CreateRectRgn(1, 2, 3, 4);
  const HBRUSH brush = CreateSolidBrush(0);
  struct Case {
    HGDIOBJ handle;
    std::int32_t isNull;
    std::int32_t size;
  };
  for (const Case c : {Case{empty, 32, 32}, Case{rect, 0, 48}, Case{brush, -1, 0}, Case{0, -1, 0}}) {
    EXPECT_EQ(regions_.IsNullRegion(c.handle), c.isNull) << c.handle;
    EXPECT_EQ(regions_.RegionSizeBytes(c.handle), c.size) << c.handle;
  }
  EXPECT_TRUE(regions_.GetRegionBytes(empty).empty());
  std::int32_t count = 77;
  EXPECT_TRUE(regions_.ExtractRegionRectangles(empty, count).empty());
  EXPECT_EQ(count, 77);
  EXPECT_EQ(regions_.ExtractRegionRectangles(rect, count), regionBytes({1, 2, 3, 4}));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(regions_.GetRegionBytes(rect, true).size(), 48u);
  EXPECT_FALSE(regions_.IsRegion(rect));
  EXPECT_TRUE(regions_.GetRegionBytes(brush, true).empty());
  EXPECT_EQ(GetObjectType(brush), OBJ_BRUSH);
  std::int32_t l = 0, t = 0, r = 0, b = 0;
  EXPECT_EQ(regions_.RegionBounds(empty, nullptr, l, t, r, b), NULLREGION);
  DeleteObject(empty);
  DeleteObject(brush);
}

TEST_F(RegionsTest, CreateRegionReadsItsValuesByCount) {
  const RECT box{0, 0, 10, 6};
  const POINT triangle[] = {{0, 0}, {8, 0}, {0, 8}};
  const POINT twoSquares[] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {4, 0}, {6, 0}, {6, 2}, {4, 2}};
  const std::int32_t fours[] = {4, 4};
  const std::span<const POINT> tri(triangle);
  struct Case {
    const char* name;
    std::int32_t kind;
    std::vector<RegionValue> values;
    bool made;
  };
  const Case cases[] = {
      {"rectangle from four numbers", 0, {1, 2, 3, 4}, true},
      {"rectangle from text numbers", 0, {std::string("1"), std::string("2"), 3, 4, 99}, true},
      {"rectangle from garbled text", 0, {std::string("x"), 2, 3, 4}, false},
      {"rectangle from two values", 0, {1, 2}, false},
      {"rectangle from its address", 0, {&box}, true},
      {"address held as a number", 0, {7}, false},
      {"null address", 0, {static_cast<const RECT*>(nullptr)}, false},
      {"rounded from an address", 1, {&box, 4, 4}, true},
      {"rounded from six numbers", 1, {0, 0, 10, 6, 4, 4}, true},
      {"rounded from five", 1, {0, 0, 10, 6, 4}, false},
      {"ellipse", 2, {0, 0, 10, 6}, true},
      {"ellipse from its address", 2, {&box}, true},
      {"polygon", 3, {tri, 3, ALTERNATE}, true},
      {"polygon of no points", 3, {tri, 0, ALTERNATE}, false},
      {"polygon longer than its points", 3, {tri, 4, ALTERNATE}, false},
      {"two polygons",
       4,
       {std::span<const POINT>(twoSquares), std::span<const std::int32_t>(fours), 2, WINDING},
       true},
      {"polygon counts past their list",
       4,
       {std::span<const POINT>(twoSquares), std::span<const std::int32_t>(fours), 3, WINDING},
       false},
      {"counts summing past the points",
       4,
       {std::span<const POINT>(twoSquares, 7), std::span<const std::int32_t>(fours), 2, WINDING},
       false},
      {"unknown kind", 5, {0, 0, 1, 1}, false},
  };
  for (const Case& c : cases) {
    const HRGN region = regions_.CreateRegion(c.kind, c.values);
    EXPECT_EQ(region != 0, c.made) << c.name;
    regions_.DestroyRegion(region);
  }
  const RegionValue squares[] = {std::span<const POINT>(twoSquares), std::span<const std::int32_t>(fours), 2,
                                 2};
  const HRGN both = regions_.CreateRegion(4, squares);
  EXPECT_EQ(drawn(both, 7, 3), (Picture{"##..##.", "##..##.", "......."}));
  regions_.DestroyRegion(both);
}

TEST_F(RegionsTest, CombiningAndCopying) {
  const HRGN a = CreateRectRgn(0, 0, 4, 4);
  const HRGN b = CreateRectRgn(2, 2, 6, 6);
  const HRGN dest = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(regions_.CombineRegions(dest, a, b, RGN_AND, true), SIMPLEREGION);
  EXPECT_FALSE(regions_.IsRegion(a));
  EXPECT_FALSE(regions_.IsRegion(b));
  EXPECT_EQ(regions_.CombineRegions(dest, dest, dest, RGN_OR, true), SIMPLEREGION);
  EXPECT_TRUE(regions_.IsRegion(dest)) << "the destination is never destroyed";

  const HRGN copy = regions_.ImportRegion(4, std::int32_t(dest), 1);
  EXPECT_FALSE(regions_.IsRegion(dest));
  EXPECT_EQ(rectanglesOf(copy), (std::vector<std::int32_t>{2, 2, 4, 4}));
  const HRGN second = regions_.ImportRegion(4, std::int32_t(copy));
  EXPECT_TRUE(regions_.AreReqionsEqual(copy, second));
  EXPECT_TRUE(regions_.IsRegion(copy));

  EXPECT_NE(regions_.ConvertRgnToRectangle(second, nullptr, 5, 6, 1, 2), 0);
  const RECT r{0, 0, 1, 1};
  EXPECT_NE(regions_.ConvertRgnToRectangle(copy, &r), 0);
  EXPECT_EQ(rectanglesOf(second), (std::vector<std::int32_t>{1, 2, 5, 6}));
  EXPECT_EQ(rectanglesOf(copy), (std::vector<std::int32_t>{0, 0, 1, 1}));
  EXPECT_EQ(regions_.ConvertRgnToRectangle(0x1234567, &r), 0);
  regions_.DestroyRegion(copy);
  regions_.DestroyRegion(second);
}

TEST_F(RegionsTest, MoveRegionPlacesTheBoxCorner) {
  const HRGN region = CreateRectRgn(5, 5, 9, 8);
  RECT moved{};
  EXPECT_TRUE(regions_.MoveRegion(region, 0, 0, false, &moved));
  EXPECT_EQ((std::vector<LONG>{moved.left, moved.top, moved.right, moved.bottom}),
            (std::vector<LONG>{0, 0, 4, 3}));
  EXPECT_FALSE(regions_.MoveRegion(0x1234567, 0, 0));
  EXPECT_TRUE(regions_.MoveRegion(region, std::numeric_limits<std::int32_t>::max() - 4, 0)) << "fits exactly";
  EXPECT_FALSE(regions_.MoveRegion(region, std::numeric_limits<std::int32_t>::max() - 3, 0))
      << "would overflow";

  // The same arguments on a context's clip region move it by (0, 0): not at all.
  const HDC dc = CreateCompatibleDC(0);
  const HRGN clip = CreateRectRgn(5, 5, 9, 8);
  EXPECT_EQ(regions_.SetClipRegionToDC(clip, dc, true), SIMPLEREGION);
  EXPECT_FALSE(regions_.IsRegion(clip));
  EXPECT_TRUE(regions_.MoveRegion(dc, 0, 0, true));
  const HRGN got = regions_.ImportRegion(5, std::int32_t(dc));
  EXPECT_EQ(rectanglesOf(got), (std::vector<std::int32_t>{5, 5, 9, 8}));
  EXPECT_NE(regions_.PointInRegion(dc, 5, 5, true), 0);
  EXPECT_EQ(regions_.PointInRegion(dc, 4, 5, true), 0);
  EXPECT_NE(regions_.RectInRegion(dc, true, nullptr, 0, 0, 6, 6), 0);
  EXPECT_EQ(regions_.SetClipRegionToDC(0, dc), SIMPLEREGION);
  EXPECT_EQ(regions_.ImportRegion(5, std::int32_t(dc)), 0u) << "no clip region";
  EXPECT_EQ(regions_.ImportRegion(6, std::int32_t(dc)), 0u) << "no surface, no system region";
  EXPECT_EQ(regions_.PolyFillMode(1, dc, WINDING), ALTERNATE);
  EXPECT_EQ(regions_.PolyFillMode(0, dc), WINDING);
  EXPECT_EQ(regions_.PolyFillMode(0, 0), 0);
  DeleteDC(dc);
  for (const HRGN h : {region, got}) regions_.DestroyRegion(h);
}

TEST_F(RegionsTest, StretchRegionScalesEveryRectangle) {
  const HRGN region = CreateRectRgn(1, 1, 3, 2);
  const HRGN grown = regions_.StretchRegion(region, 2.0f, 3.0f);
  EXPECT_EQ(rectanglesOf(grown), (std::vector<std::int32_t>{2, 3, 6, 6}));
  EXPECT_TRUE(regions_.IsRegion(region));
  EXPECT_EQ(regions_.StretchRegion(region, 0.0f, 1.0f, true), 0u);
  EXPECT_FALSE(regions_.IsRegion(region)) << "destroyed even though nothing was made";
  EXPECT_EQ(regions_.StretchRegion(region, 1.0f, 1.0f), 0u);
  const HRGN empty = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(regions_.StretchRegion(empty, 2.0f, 2.0f), 0u);
  regions_.DestroyRegion(empty);
  regions_.DestroyRegion(grown);
}

TEST_F(RegionsTest, RegionIntersectTestsBoxesThenShapes) {
  const HRGN a = CreateRectRgn(0, 0, 10, 10);
  const HRGN b = CreateRectRgn(5, 5, 15, 15);
  const HRGN far = CreateRectRgn(20, 0, 30, 10);
  HRGN out = 0x55;
  EXPECT_FALSE(regions_.RegionIntersect(a, far, nullptr, nullptr, 0, 0, 0, 0, true, out));
  EXPECT_EQ(out, 0u);
  EXPECT_TRUE(regions_.RegionIntersect(a, b, nullptr, nullptr, 0, 0, 0, 0, true, out));
  EXPECT_EQ(rectanglesOf(out), (std::vector<std::int32_t>{5, 5, 10, 10}));
  regions_.DestroyRegion(out);
  EXPECT_TRUE(regions_.RegionIntersect(a, b, nullptr, nullptr, 0, 0, 0, 0, false, out));
  EXPECT_EQ(out, 0u);
  // Offsets only move the quick box test; the shapes themselves still do not meet.
  EXPECT_FALSE(regions_.RegionIntersect(a, far, nullptr, nullptr, 15, 0, 0, 0, true, out));
  const RECT nowhere{100, 100, 101, 101};
  EXPECT_FALSE(regions_.RegionIntersect(a, b, &nowhere, nullptr, 0, 0, 0, 0, true, out));

  QWidget window;
  window.resize(20, 20);
  const HWND hwnd = WindowHandle(&window);
  EXPECT_FALSE(regions_.RegionIntersect(hwnd, a, nullptr, nullptr, 0, 0, 0, 0, true, out))
      << "window without shape";
  EXPECT_NE(regions_.SetRegionToWindow(CreateRectRgn(8, 8, 12, 12), hwnd), 0);
  EXPECT_TRUE(regions_.RegionIntersect(hwnd, a, nullptr, nullptr, 0, 0, 0, 0, true, out));
  EXPECT_EQ(rectanglesOf(out), (std::vector<std::int32_t>{8, 8, 10, 10}));
  regions_.DestroyRegion(out);
  EXPECT_TRUE(regions_.RegionIntersect(b, hwnd, nullptr, nullptr, 0, 0, 0, 0, false, out));
  for (const HRGN h : {a, b, far}) {
    EXPECT_TRUE(regions_.IsRegion(h)) << "the caller's regions are never destroyed";
    regions_.DestroyRegion(h);
  }
}

TEST_F(RegionsTest, CachedRegionIsOwnedByTheObject) {
  const std::size_t before = GdiObjectCount();
  {
    clsRegions holder;
    const HRGN first = CreateRectRgn(0, 0, 1, 1);
    EXPECT_TRUE(holder.SetCachedRegion(first));
    EXPECT_EQ(holder.GetCachedRegion(), first);
    EXPECT_TRUE(holder.SetCachedRegion(CreateRectRgn(0, 0, 2, 2), true));
    EXPECT_FALSE(regions_.IsRegion(first));
    EXPECT_EQ(GdiObjectCount(), before + 1);
  }
  EXPECT_EQ(GdiObjectCount(), before) << "the cached region ends with its object";
  clsRegions other;
  EXPECT_FALSE(other.SetCachedRegion(0x1234567));
  EXPECT_EQ(other.GetCachedRegion(), 0u);
}

class PaintRegionTest : public RegionsTest {
 protected:
  void SetUp() override {
    RegionsTest::SetUp();
    std::vector<BYTE> white(8 * 8 * 4, 0xFF);
    bitmap_ = CreateBitmapFromPixels(8, 8, true, white.data(), white.size());
    dc_ = CreateCompatibleDC(0);
    SelectObject(dc_, bitmap_);
  }
  void TearDown() override {
    DeleteDC(dc_);
    DeleteObject(bitmap_);
    RegionsTest::TearDown();
  }
  // One letter a pixel: W white, R red, C cyan, B blue, G green, ? other; rows 0..3 only.
  std::string picture() const {
    const QImage image = ImageFromBitmap(bitmap_);
    std::string out;
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 8; ++x) {
        const QRgb c = image.pixel(x, y) & 0xFFFFFF;
        out += c == 0xFFFFFF   ? 'W'
               : c == 0xFF0000 ? 'R'
               : c == 0x00FFFF ? 'C'
               : c == 0x0000FF ? 'B'
               : c == 0x00FF00 ? 'G'
                               : '?';
      }
      out += '\n';
    }
    return out;
  }
  HBITMAP bitmap_ = 0;
  HDC dc_ = 0;
};

TEST_F(PaintRegionTest, FillInvertFrameInThatOrder) {
  const HRGN square = CreateRectRgn(1, 0, 5, 4);
  EXPECT_NE(regions_.PaintRegion(square, dc_, 7, 0xFF0000, 0x0000FF), 0);
  EXPECT_EQ(picture(),
            "WBBBBWWW\n"
            "WBCCBWWW\n"
            "WBCCBWWW\n"
            "WBBBBWWW\n");
  regions_.DestroyRegion(square);
}

TEST_F(PaintRegionTest, BrushesGivenAreUsedAndDeletedOnlyWhenAsked) {
  const HRGN square = CreateRectRgn(0, 0, 2, 2);
  const HBRUSH green = CreateSolidBrush(0x00FF00);
  EXPECT_NE(regions_.PaintRegion(square, dc_, 0, 0, 0, 0, green), 0) << "a fill brush is used without bit 1";
  EXPECT_EQ(picture().substr(0, 9), "GGWWWWWW\n");
  EXPECT_EQ(GetObjectType(green), OBJ_BRUSH);
  EXPECT_NE(regions_.PaintRegion(square, dc_, 1, 0, -1, 0, green, true), 0);
  EXPECT_EQ(GetObjectType(green), 0u) << "deleted as asked";

  const HBRUSH red = CreateSolidBrush(0x0000FF);
  const HGDIOBJ previous = SelectObject(dc_, red);
  EXPECT_NE(regions_.PaintRegion(square, dc_, 1, 0, -1), 0) << "the context's current brush";
  EXPECT_EQ(picture().substr(0, 9), "RRWWWWWW\n");
  SelectObject(dc_, previous);
  DeleteObject(red);

  EXPECT_EQ(regions_.PaintRegion(square, 0, 7), 0);
  EXPECT_EQ(regions_.PaintRegion(0x1234567, dc_, 7), 0);
  EXPECT_EQ(regions_.PaintRegion(square, dc_, 0), 0) << "nothing to draw";
  regions_.DestroyRegion(square);
}

}  // namespace
}  // namespace vornel::skin
