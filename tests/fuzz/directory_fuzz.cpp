// Feeds arbitrary bytes to the directory reader; any crash, overflow or undefined behaviour is a
// finding. The invariants below are what the window relies on when it fills its lists.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/directory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto result = vornel::core::ReadDirectory(std::string_view(reinterpret_cast<const char*>(data), size));
  for (std::size_t g = 0; g < result.directory.groups.size(); ++g) {
    const auto& group = result.directory.groups[g];
    if (group.id != static_cast<std::int16_t>(g)) std::abort();
    for (const auto& station : group.stations) {
      if (station.streams.empty()) std::abort();
      (void)vornel::core::StationDisplayText(station);
    }
  }
  return 0;
}
