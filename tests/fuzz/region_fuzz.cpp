// Region data from outside (a region file, a resource, a byte array) under libFuzzer: whatever the
// bytes say, creating a region from them never reads past them, and a region that is created
// gives back data that makes the same region again.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/gdi.h"

using namespace vornel::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte picks a transform and an operation; the rest is the region data, copied so
  // that the sanitizer sees exactly its extent.
  const std::uint8_t choice = data[0];
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  XFORM scale;
  scale.eM11 = static_cast<float>(1 + (choice & 3));
  scale.eM22 = static_cast<float>(1 + ((choice >> 2) & 3));
  scale.eDx = static_cast<float>(static_cast<std::int8_t>(choice));
  const XFORM* transform = (choice & 0x10) != 0 ? &scale : nullptr;

  const HRGN region =
      ExtCreateRegion(transform, static_cast<DWORD>(bytes.size()), reinterpret_cast<const RGNDATA*>(bytes.data()));
  if (region == 0) return 0;

  const DWORD needed = GetRegionData(region, 0, nullptr);
  std::vector<std::uint8_t> copy(needed);
  if (needed == 0 || GetRegionData(region, needed, reinterpret_cast<RGNDATA*>(copy.data())) != needed) std::abort();
  const HRGN again = ExtCreateRegion(nullptr, needed, reinterpret_cast<const RGNDATA*>(copy.data()));
  if (again == 0 || !EqualRgn(region, again)) std::abort();

  const HRGN box = CreateRectRgn(-5, -5, 40, 40);
  CombineRgn(again, region, box, 1 + (choice >> 5) % 5);
  OffsetRgn(again, static_cast<std::int8_t>(choice), -static_cast<std::int8_t>(choice));
  RECT bounds;
  GetRgnBox(again, &bounds);
  PtInRegion(again, 3, 3);
  DeleteObject(box);
  DeleteObject(again);
  DeleteObject(region);
  return 0;
}
