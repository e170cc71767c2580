#pragma once

// The slider's arithmetic, apart from any widget: value <-> thumb offset with snapping, the size
// the slider takes from its pictures, and where an edge-drawn rail goes. Every length is in
// pixels. A computation that cannot be made (a division by a zero range or a zero track) gives no
// result, and the caller keeps what it had.

#include <cstdint>
#include <optional>

namespace vornel::skin {

enum SliderOrientation : int { OrientationHorizontal = 0, OrientationVertical = 1 };

enum SliderRailStyle : int {
  RailSunken = 0,
  RailRaised = 1,
  RailSunkenThin = 2,
  RailRaisedThin = 3,
  RailNone = 4,
  RailPicture = 99,
};

// To the nearest whole number, ties to the even neighbour; saturated to the int range (0 for a
// value that is not a number), so that broken stored data cannot make a conversion undefined.
int Nearest(double x);
// Nearest, then halved with the quotient truncated toward zero (so -3 halved is -1).
int Halved(double x);

// The thumb's offset along the axis for `value`: its left when horizontal, its top when vertical
// (min at the bottom). Kept unrounded. `range` is max - min, held wide so that it never overflows.
std::optional<double> OffsetForValue(bool vertical, double trackLength, int value, int min, std::int64_t range);

// The whole value nearest to a thumb offset, and the offset that value rests on.
struct SnappedThumb {
  int value = 0;                 // 0 when the track has no length
  std::optional<double> offset;  // absent when the range is 0: the thumb stays where it is
};
SnappedThumb ValueFromOffset(bool vertical, double trackLength, double offset, int min, std::int64_t range);

// Edges of a rectangle in pixels, right and bottom excluded.
struct EdgeRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const EdgeRect&, const EdgeRect&) = default;
};

// The 4-pixel rail band through the middle of the thumb's thickness, from 2 pixels before the
// thumb's centre at the min end to 2 pixels beyond it at the max end.
EdgeRect RailBand(bool vertical, int clientWidth, int clientHeight, double thumbWidth, double thumbHeight);

}  // namespace vornel::skin
