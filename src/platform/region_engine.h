#pragma once

// A region kept the way the window system keeps one: horizontal bands from top to bottom, each
// with sorted x-spans. Every region is held in one canonical form: no empty band, no two spans of
// a band touching or overlapping, and no two touching bands with the same spans (they are merged
// into one taller band). Two regions covering the same pixels are therefore equal member for
// member, and the rectangle list a region gives is the window system's: bands from the top,
// rectangles left to right within a band.
//
// Coordinates are 32-bit; right and bottom are exclusive. Arithmetic that could leave the 32-bit
// range is done wide, and an operation whose result would not fit refuses instead of wrapping.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vornel::platform {

struct RegionRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const RegionRect&, const RegionRect&) = default;
};

struct RegionPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

class Region {
 public:
  struct Span {
    std::int32_t left = 0;
    std::int32_t right = 0;
    friend bool operator==(const Span&, const Span&) = default;
  };
  struct Band {
    std::int32_t top = 0;
    std::int32_t bottom = 0;
    std::vector<Span> spans;
    friend bool operator==(const Band&, const Band&) = default;
  };
  enum class Op { And, Or, Xor, Diff };

  Region() = default;
  // Degenerate rectangles (right <= left or bottom <= top) cover nothing.
  static Region FromRect(const RegionRect& rect);
  // The union of the rectangles, in any order, overlapping or not. Rectangles already in bands
  // (each row of equal tops and bottoms sorted by left, rows from the top and not overlapping, as
  // a picture scan and region data give them) are taken in one pass.
  static Region FromRects(std::span<const RegionRect> rects);
  static Region Combine(const Region& a, const Region& b, Op op);

  bool empty() const { return bands_.empty(); }
  std::size_t rectCount() const;
  std::vector<RegionRect> rects() const;
  // All zero for an empty region.
  RegionRect bounds() const;
  bool contains(std::int64_t x, std::int64_t y) const;
  bool intersects(const RegionRect& rect) const;
  // Refuses (false, region unchanged) when an edge would leave the 32-bit range.
  [[nodiscard]] bool offset(std::int64_t dx, std::int64_t dy);
  const std::vector<Band>& bands() const { return bands_; }

  friend bool operator==(const Region&, const Region&) = default;

 private:
  void appendBand(std::int32_t top, std::int32_t bottom, std::vector<Span>&& spans);
  static std::optional<Region> FromBandedRects(std::span<const RegionRect> rects);
  std::vector<Band> bands_;
};

// Pixel shapes: a pixel belongs to the shape when its centre does. Shapes taller than
// kMaxShapeRows rows are refused, so that hostile coordinates cannot make the scan unbounded.
constexpr std::int64_t kMaxShapeRows = std::int64_t{1} << 20;
std::optional<Region> EllipseRegion(const RegionRect& box);
// Corners are quarters of an ellipse `cornerWidth` x `cornerHeight` (clamped to the box).
std::optional<Region> RoundRectRegion(const RegionRect& box, std::int32_t cornerWidth,
                                      std::int32_t cornerHeight);
// One or more closed polygons filled together, `counts[i]` points each; winding or alternate.
std::optional<Region> PolygonRegion(std::span<const RegionPoint> points, std::span<const std::int32_t> counts,
                                    bool winding);

}  // namespace vornel::platform
