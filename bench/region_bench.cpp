// Window shapes from 3840 x 2160 pictures: the whole RegionFromBitmap and its parts. The time
// that matters is the whole call; the parts say where it goes (the scan is what the whole leaves
// over the other two). Run with repetitions and read the medians, e.g.
//   build/bench/region_bench --benchmark_repetitions=15 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdint>
#include <vector>

#include "platform/gdi.h"
#include "skin/cls_regions.h"
#include "skin/window_host.h"

namespace {

using namespace vornel::platform;

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;
const QColor kKey(255, 0, 255);

enum Shape { kSkin, kDitheredEdge, kCheckerboard };

// A skin as artists draw one: a rounded body on the key colour with round and square holes,
// a shaded face inside (so that no two rows are alike) and a title bar. kDitheredEdge gives the
// body a 32-pixel border of alternating key and ink pixels, as a hand-dithered outline does;
// kCheckerboard is the worst a picture can be, one rectangle a pixel.
QImage picture(Shape shape) {
  QImage image(kWidth, kHeight, QImage::Format_ARGB32);
  image.fill(kKey);
  if (shape == kCheckerboard) {
    for (int y = 0; y < kHeight; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = (y & 1); x < kWidth; x += 2) line[x] = qRgb(20, 40, 60);
    }
    return image;
  }
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient face(0, 0, kWidth, kHeight);
    face.setColorAt(0, QColor(30, 40, 70));
    face.setColorAt(1, QColor(200, 180, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(40, 30, kWidth - 80, kHeight - 60), 240, 240);
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(300, 60, kWidth - 600, 90));
    p.setBrush(kKey);
    p.drawEllipse(QRectF(400, 500, 600, 600));
    p.drawEllipse(QRectF(2900, 1300, 500, 400));
    p.drawRect(QRectF(1600, 900, 700, 350));
  }
  if (shape == kDitheredEdge) {
    for (int y = 0; y < kHeight; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      int left = 0;
      while (left < kWidth && line[left] == kKey.rgba()) ++left;
      int right = kWidth;
      while (right > left && line[right - 1] == kKey.rgba()) --right;
      for (int x = left; x < std::min(left + 32, right); ++x)
        if ((x + y) & 1) line[x] = kKey.rgba();
      for (int x = std::max(right - 32, left); x < right; ++x)
        if ((x + y) & 1) line[x] = kKey.rgba();
    }
  }
  return image;
}

struct Fixture {
  explicit Fixture(Shape shape) : bitmap(vornel::skin::BitmapFromImage(picture(shape))) {}
  ~Fixture() { DeleteObject(bitmap); }
  HBITMAP bitmap;
};

Fixture& fixture(Shape shape) {
  static Fixture skin(kSkin), dithered(kDitheredEdge), checkerboard(kCheckerboard);
  return shape == kSkin ? skin : shape == kDitheredEdge ? dithered : checkerboard;
}

void BM_RegionFromBitmap(benchmark::State& state) {
  const HBITMAP bitmap = fixture(Shape(state.range(0))).bitmap;
  vornel::skin::clsRegions regions;
  std::size_t rects = 0;
  for (auto _ : state) {
    const auto region = HRGN(regions.RegionFromBitmap(bitmap));
    state.PauseTiming();
    rects = (GetRegionData(region, 0, nullptr) - sizeof(RGNDATAHEADER)) / sizeof(RECT);
    DeleteObject(region);
    state.ResumeTiming();
  }
  state.counters["rects"] = double(rects);
}
BENCHMARK(BM_RegionFromBitmap)
    ->ArgName("shape")
    ->Arg(kSkin)
    ->Arg(kDitheredEdge)
    ->Arg(kCheckerboard)
    ->Unit(benchmark::kMillisecond);

// The picture conversion GetDIBits makes for a caller that wants rows of its own.
void BM_GetDIBits(benchmark::State& state) {
  const HBITMAP bitmap = fixture(kSkin).bitmap;
  const auto bitCount = WORD(state.range(0));
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, bitCount, BI_RGB, 0, 0, 0, 0, 0};
  const std::size_t stride = (std::size_t(kWidth) * bitCount / 8 + 3) & ~std::size_t{3};
  std::vector<BYTE> rows(stride * kHeight);
  const HDC dc = CreateCompatibleDC(0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetDIBits(dc, bitmap, 0, kHeight, rows.data(), &info, DIB_RGB_COLORS));
    benchmark::ClobberMemory();
  }
  DeleteDC(dc);
}
BENCHMARK(BM_GetDIBits)->ArgName("bits")->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

// Region building alone: the one-row rectangles a scan of the picture hands to ExtCreateRegion.
void BM_ExtCreateRegionFromRows(benchmark::State& state) {
  const HBITMAP bitmap = fixture(Shape(state.range(0))).bitmap;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<std::uint32_t> pixels(std::size_t(kWidth) * kHeight);
  const HDC dc = CreateCompatibleDC(0);
  GetDIBits(dc, bitmap, 0, kHeight, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  std::vector<std::int32_t> data(8);
  const std::uint32_t key = pixels[0];
  for (int y = 0; y < kHeight; ++y) {
    const std::uint32_t* row = pixels.data() + std::size_t(y) * kWidth;
    for (int x = 0; x < kWidth;) {
      if (row[x] == key) {
        ++x;
        continue;
      }
      const int left = x;
      while (x < kWidth && row[x] != key) ++x;
      data.insert(data.end(), {left, y, x, y + 1});
    }
  }
  const auto count = std::int32_t(data.size() / 4 - 2);
  const std::int32_t header[8] = {32, 1, count, count * 16, 0, 0, kWidth, kHeight};
  std::copy(std::begin(header), std::end(header), data.begin());
  for (auto _ : state) {
    const HRGN region =
        ExtCreateRegion(nullptr, DWORD(data.size() * 4), reinterpret_cast<const RGNDATA*>(data.data()));
    state.PauseTiming();
    DeleteObject(region);
    state.ResumeTiming();
  }
  state.counters["rects"] = double(count);
}
BENCHMARK(BM_ExtCreateRegionFromRows)
    ->ArgName("shape")
    ->Arg(kSkin)
    ->Arg(kDitheredEdge)
    ->Arg(kCheckerboard)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
