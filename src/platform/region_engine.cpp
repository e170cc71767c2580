#include "platform/region_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vornel::platform {
namespace {

using Span = Region::Span;

constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();

bool inside(bool a, bool b, Region::Op op) {
  switch (op) {
    case Region::Op::And:
      return a && b;
    case Region::Op::Or:
      return a || b;
    case Region::Op::Xor:
      return a != b;
    case Region::Op::Diff:
      return a && !b;
  }
  return false;
}

// Appends [left, right) to sorted spans, merging with the last one when they touch.
void pushSpan(std::vector<Span>& spans, std::int32_t left, std::int32_t right) {
  if (right <= left) return;
  if (!spans.empty() && spans.back().right >= left) {
    spans.back().right = std::max(spans.back().right, right);
    return;
  }
  spans.push_back({left, right});
}

// The spans of one band row under `op`: walk the merged edge list once; between two edges the
// membership in each operand is constant.
std::vector<Span> combineSpans(const std::vector<Span>& a, const std::vector<Span>& b, Region::Op op) {
  std::vector<std::int32_t> edges;
  edges.reserve(2 * (a.size() + b.size()));
  for (const Span& s : a) edges.insert(edges.end(), {s.left, s.right});
  for (const Span& s : b) edges.insert(edges.end(), {s.left, s.right});
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

  std::vector<Span> out;
  std::size_t ia = 0;
  std::size_t ib = 0;
  for (std::size_t k = 0; k + 1 < edges.size(); ++k) {
    const std::int32_t x0 = edges[k];
    const std::int32_t x1 = edges[k + 1];
    while (ia < a.size() && a[ia].right <= x0) ++ia;
    while (ib < b.size() && b[ib].right <= x0) ++ib;
    const bool inA = ia < a.size() && a[ia].left <= x0;
    const bool inB = ib < b.size() && b[ib].left <= x0;
    if (inside(inA, inB, op)) pushSpan(out, x0, x1);
  }
  return out;
}

// Pixels of one row whose centres lie in [xa, xb] (closed: a shape's edge pixel counts when its
// centre is on the edge), as a span, clamped to the 32-bit range.
bool centreSpan(double xa, double xb, std::int32_t& left, std::int32_t& right) {
  const double first = std::ceil(xa - 0.5);
  const double last = std::floor(xb - 0.5);
  if (last < first) return false;
  left = static_cast<std::int32_t>(std::clamp<double>(first, double(kMin32), double(kMax32)));
  right = static_cast<std::int32_t>(std::clamp<double>(last + 1.0, double(kMin32), double(kMax32)));
  return right > left;
}

struct Normalised {
  std::int64_t left, top, right, bottom;
};
Normalised normalise(const RegionRect& r) {
  return {std::min<std::int64_t>(r.left, r.right), std::min<std::int64_t>(r.top, r.bottom),
          std::max<std::int64_t>(r.left, r.right), std::max<std::int64_t>(r.top, r.bottom)};
}

}  // namespace

void Region::appendBand(std::int32_t top, std::int32_t bottom, std::vector<Span>&& spans) {
  if (spans.empty() || bottom <= top) return;
  if (!bands_.empty() && bands_.back().bottom == top && bands_.back().spans == spans) {
    bands_.back().bottom = bottom;
    return;
  }
  bands_.push_back({top, bottom, std::move(spans)});
}

Region Region::FromRect(const RegionRect& rect) {
  Region region;
  if (!rect.empty()) region.bands_.push_back({rect.top, rect.bottom, {{rect.left, rect.right}}});
  return region;
}

std::optional<Region> Region::FromBandedRects(std::span<const RegionRect> rects) {
  Region region;
  // The row being gathered; copied into a band only when it differs from the band above, so that
  // the many equal rows of a picture cost no allocation.
  std::vector<Span> row;
  std::int32_t top = 0;
  std::int32_t bottom = 0;
  const auto endRow = [&] {
    if (row.empty()) return;
    Band* above = region.bands_.empty() ? nullptr : &region.bands_.back();
    if (above != nullptr && above->bottom == top && above->spans == row)
      above->bottom = bottom;
    else
      region.bands_.push_back({top, bottom, row});
    row.clear();
  };
  for (const RegionRect& r : rects) {
    if (r.empty()) continue;
    if (!row.empty() && r.top == top && r.bottom == bottom) {
      // pushSpan keeps the union right as long as no rectangle starts left of the last span.
      if (r.left < row.back().left) return std::nullopt;
    } else if (row.empty() || r.top >= bottom) {
      endRow();
      top = r.top;
      bottom = r.bottom;
    } else {
      return std::nullopt;
    }
    pushSpan(row, r.left, r.right);
  }
  endRow();
  return region;
}

Region Region::FromRects(std::span<const RegionRect> rects) {
  if (std::optional<Region> banded = FromBandedRects(rects)) return std::move(*banded);
  std::vector<RegionRect> sorted;
  sorted.reserve(rects.size());
  std::vector<std::int32_t> ys;
  ys.reserve(2 * rects.size());
  for (const RegionRect& r : rects) {
    if (r.empty()) continue;
    sorted.push_back(r);
    ys.push_back(r.top);
    ys.push_back(r.bottom);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const RegionRect& x, const RegionRect& y) { return x.top < y.top; });
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

  // Sweep downwards keeping the rectangles that cross the current band; a picture's one-row
  // rectangles keep this set small, so building stays near n log n.
  Region region;
  std::vector<const RegionRect*> active;
  std::vector<Span> spans;
  std::size_t next = 0;
  for (std::size_t k = 0; k + 1 < ys.size(); ++k) {
    const std::int32_t y0 = ys[k];
    const std::int32_t y1 = ys[k + 1];
    std::erase_if(active, [y0](const RegionRect* r) { return r->bottom <= y0; });
    while (next < sorted.size() && sorted[next].top <= y0) active.push_back(&sorted[next++]);
    if (active.empty()) continue;
    spans.clear();
    for (const RegionRect* r : active) spans.push_back({r->left, r->right});
    std::sort(spans.begin(), spans.end(), [](const Span& x, const Span& y) { return x.left < y.left; });
    std::vector<Span> merged;
    for (const Span& s : spans) pushSpan(merged, s.left, s.right);
    region.appendBand(y0, y1, std::move(merged));
  }
  return region;
}

Region Region::Combine(const Region& a, const Region& b, Op op) {
  std::vector<std::int32_t> ys;
  ys.reserve(2 * (a.bands_.size() + b.bands_.size()));
  for (const Band& band : a.bands_) ys.insert(ys.end(), {band.top, band.bottom});
  for (const Band& band : b.bands_) ys.insert(ys.end(), {band.top, band.bottom});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

  static const std::vector<Span> kNone;
  Region out;
  std::size_t ia = 0;
  std::size_t ib = 0;
  for (std::size_t k = 0; k + 1 < ys.size(); ++k) {
    const std::int32_t y0 = ys[k];
    while (ia < a.bands_.size() && a.bands_[ia].bottom <= y0) ++ia;
    while (ib < b.bands_.size() && b.bands_[ib].bottom <= y0) ++ib;
    const auto& sa = ia < a.bands_.size() && a.bands_[ia].top <= y0 ? a.bands_[ia].spans : kNone;
    const auto& sb = ib < b.bands_.size() && b.bands_[ib].top <= y0 ? b.bands_[ib].spans : kNone;
    out.appendBand(y0, ys[k + 1], combineSpans(sa, sb, op));
  }
  return out;
}

std::size_t Region::rectCount() const {
  std::size_t n = 0;
  for (const Band& band : bands_) n += band.spans.size();
  return n;
}

std::vector<RegionRect> Region::rects() const {
  std::vector<RegionRect> out;
  out.reserve(rectCount());
  for (const Band& band : bands_)
    for (const Span& s : band.spans) out.push_back({s.left, band.top, s.right, band.bottom});
  return out;
}

RegionRect Region::bounds() const {
  if (bands_.empty()) return {};
  RegionRect box{bands_.front().spans.front().left, bands_.front().top, bands_.front().spans.back().right,
                 bands_.back().bottom};
  for (const Band& band : bands_) {
    box.left = std::min(box.left, band.spans.front().left);
    box.right = std::max(box.right, band.spans.back().right);
  }
  return box;
}

bool Region::contains(std::int64_t x, std::int64_t y) const {
  const auto band = std::upper_bound(bands_.begin(), bands_.end(), y,
                                     [](std::int64_t v, const Band& b) { return v < b.bottom; });
  if (band == bands_.end() || y < band->top) return false;
  const auto span = std::upper_bound(band->spans.begin(), band->spans.end(), x,
                                     [](std::int64_t v, const Span& s) { return v < s.right; });
  return span != band->spans.end() && x >= span->left;
}

bool Region::intersects(const RegionRect& rect) const {
  if (rect.empty()) return false;
  for (const Band& band : bands_) {
    if (band.bottom <= rect.top) continue;
    if (band.top >= rect.bottom) break;
    for (const Span& s : band.spans)
      if (s.left < rect.right && s.right > rect.left) return true;
  }
  return false;
}

bool Region::offset(std::int64_t dx, std::int64_t dy) {
  if (bands_.empty()) return true;
  const RegionRect box = bounds();
  if (box.left + dx < kMin32 || box.right + dx > kMax32 || box.top + dy < kMin32 || box.bottom + dy > kMax32)
    return false;
  for (Band& band : bands_) {
    band.top = static_cast<std::int32_t>(band.top + dy);
    band.bottom = static_cast<std::int32_t>(band.bottom + dy);
    for (Span& s : band.spans) {
      s.left = static_cast<std::int32_t>(s.left + dx);
      s.right = static_cast<std::int32_t>(s.right + dx);
    }
  }
  return true;
}

std::optional<Region> RoundRectRegion(const RegionRect& box, std::int32_t cornerWidth,
                                      std::int32_t cornerHeight) {
  const Normalised n = normalise(box);
  if (n.bottom - n.top > kMaxShapeRows) return std::nullopt;
  Region region;
  if (n.right == n.left || n.bottom == n.top) return region;
  const double width = double(n.right - n.left);
  const double height = double(n.bottom - n.top);
  const double rx = std::clamp<double>(std::abs(double(cornerWidth)), 0.0, width) / 2.0;
  const double ry = std::clamp<double>(std::abs(double(cornerHeight)), 0.0, height) / 2.0;
  std::vector<RegionRect> rows;
  for (std::int64_t y = n.top; y < n.bottom; ++y) {
    const double py = double(y) + 0.5;
    double inset = 0.0;
    if (rx > 0.0 && ry > 0.0) {
      // Distance from the nearer corner ellipse's centre row, when the row crosses a corner.
      const double dy = std::max({double(n.top) + ry - py, py - (double(n.bottom) - ry), 0.0});
      const double t = std::min(dy / ry, 1.0);
      inset = rx - rx * std::sqrt(1.0 - t * t);
    }
    std::int32_t left = 0;
    std::int32_t right = 0;
    if (centreSpan(double(n.left) + inset, double(n.right) - inset, left, right))
      rows.push_back({left, static_cast<std::int32_t>(y), right, static_cast<std::int32_t>(y + 1)});
  }
  return Region::FromRects(rows);
}

std::optional<Region> EllipseRegion(const RegionRect& box) {
  const Normalised n = normalise(box);
  return RoundRectRegion(box, static_cast<std::int32_t>(std::min<std::int64_t>(n.right - n.left, kMax32)),
                         static_cast<std::int32_t>(std::min<std::int64_t>(n.bottom - n.top, kMax32)));
}

std::optional<Region> PolygonRegion(std::span<const RegionPoint> points, std::span<const std::int32_t> counts,
                                    bool winding) {
  struct Edge {
    double x0, y0, x1, y1;
    int direction;
  };
  std::vector<Edge> edges;
  std::size_t at = 0;
  double minY = 0;
  double maxY = 0;
  bool any = false;
  for (const std::int32_t count : counts) {
    if (count < 0 || std::size_t(count) > points.size() - at) return std::nullopt;
    for (std::int32_t i = 0; i < count; ++i) {
      const RegionPoint& p = points[at + std::size_t(i)];
      const RegionPoint& q = points[at + std::size_t((i + 1) % count)];
      minY = any ? std::min(minY, double(p.y)) : double(p.y);
      maxY = any ? std::max(maxY, double(p.y)) : double(p.y);
      any = true;
      if (p.y == q.y) continue;
      edges.push_back(p.y < q.y ? Edge{double(p.x), double(p.y), double(q.x), double(q.y), 1}
                                : Edge{double(q.x), double(q.y), double(p.x), double(p.y), -1});
    }
    at += std::size_t(count);
  }
  if (maxY - minY > double(kMaxShapeRows)) return std::nullopt;
  std::vector<RegionRect> rows;
  std::vector<std::pair<double, int>> crossings;
  for (std::int64_t y = std::int64_t(minY); any && y < std::int64_t(maxY); ++y) {
    const double py = double(y) + 0.5;
    crossings.clear();
    for (const Edge& e : edges)
      if (e.y0 <= py && py < e.y1)
        crossings.emplace_back(e.x0 + (py - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0), e.direction);
    std::sort(crossings.begin(), crossings.end());
    int wind = 0;
    for (std::size_t i = 0; i + 1 < crossings.size(); ++i) {
      wind += winding ? crossings[i].second : 1;
      const bool filled = winding ? wind != 0 : (wind % 2) != 0;
      std::int32_t left = 0;
      std::int32_t right = 0;
      // Half-open in x so that two polygons sharing an edge do not both take its pixels.
      if (filled &&
          centreSpan(crossings[i].first, std::nextafter(crossings[i + 1].first, -1e300), left, right))
        rows.push_back({left, static_cast<std::int32_t>(y), right, static_cast<std::int32_t>(y + 1)});
    }
  }
  return Region::FromRects(rows);
}

}  // namespace vornel::platform
