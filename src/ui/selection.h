#pragma once

// The choice of stream when a station is picked, and the bit-rate button's step: plain rules on
// a station's stream list, kept apart from the window so they can be checked on their own.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/directory.h"

namespace vornel::ui {

// The stream a station starts with: the default bit rate when offered, else the highest below
// it, else the lowest (streams listed in rising order). 0 for a station with one stream or none.
std::int16_t ChooseStreamIndex(const std::vector<core::clsStream>& streams, std::int32_t defaultBitrate);

// The bit-rate button's next stream: the following one, wrapping to the first.
std::int16_t NextStreamIndex(std::int16_t current, std::size_t count);

// A stream index lowered until the station has it (a station with fewer bit rates than the last
// choice gets its highest); 0 for a station without streams.
std::int16_t ClampStreamIndex(std::int16_t current, std::size_t count);

// The station at 0-based `group` and `station`, or null when the directory has none there.
const core::clsStation* StationAt(const std::vector<core::clsGroup>& groups, std::int16_t group,
                                  std::int16_t station);

}  // namespace vornel::ui
