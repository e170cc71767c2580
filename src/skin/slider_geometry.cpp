#include "skin/slider_geometry.h"

#include <cmath>
#include <limits>

namespace vornel::skin {

int Nearest(double x) {
  if (std::isnan(x)) return 0;
  // The default rounding mode rounds halves to even; nearbyint honours it, std::round does not.
  const double rounded = std::nearbyint(x);
  if (rounded <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  if (rounded >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(rounded);
}

int Halved(double x) { return Nearest(x) / 2; }

std::optional<double> OffsetForValue(bool vertical, double trackLength, int value, int min, std::int64_t range) {
  if (range == 0) return std::nullopt;
  const double along = trackLength * (static_cast<double>(value) - min) / static_cast<double>(range);
  return vertical ? trackLength - along : along;
}

SnappedThumb ValueFromOffset(bool vertical, double trackLength, double offset, int min, std::int64_t range) {
  SnappedThumb snapped;
  if (trackLength != 0) {
    const double travelled = vertical ? trackLength - offset : offset;
    snapped.value = Nearest(travelled / trackLength * static_cast<double>(range) + min);
  }
  snapped.offset = OffsetForValue(vertical, trackLength, snapped.value, min, range);
  return snapped;
}

EdgeRect RailBand(bool vertical, int clientWidth, int clientHeight, double thumbWidth, double thumbHeight) {
  EdgeRect rail;
  if (!vertical) {
    rail.top = Halved(thumbHeight - 4);
    rail.bottom = rail.top + 4;
    rail.left = Halved(thumbWidth) - 2;
    rail.right = Nearest(clientWidth + rail.left - thumbWidth + 4);
  } else {
    rail.top = Halved(thumbHeight) - 2;
    rail.bottom = Nearest(clientHeight + rail.top - thumbHeight + 4);
    rail.left = Halved(thumbWidth - 4);
    rail.right = rail.left + 4;
  }
  return rail;
}

}  // namespace vornel::skin
