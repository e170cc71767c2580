#include "ui/selection.h"

namespace vornel::ui {

std::int16_t ChooseStreamIndex(const std::vector<core::clsStream>& streams, std::int32_t defaultBitrate) {
  if (streams.size() <= 1) return 0;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (streams[i].bitrate < defaultBitrate) continue;
    if (streams[i].bitrate == defaultBitrate || i == 0) return static_cast<std::int16_t>(i);
    return static_cast<std::int16_t>(i - 1);
  }
  return static_cast<std::int16_t>(streams.size() - 1);
}

std::int16_t NextStreamIndex(std::int16_t current, std::size_t count) {
  if (count == 0) return 0;
  return current >= static_cast<std::int16_t>(count - 1) ? 0 : static_cast<std::int16_t>(current + 1);
}

std::int16_t ClampStreamIndex(std::int16_t current, std::size_t count) {
  while (current > 0 && static_cast<std::size_t>(current) >= count) --current;
  return current < 0 ? 0 : current;
}

const core::clsStation* StationAt(const std::vector<core::clsGroup>& groups, std::int16_t group,
                                  std::int16_t station) {
  if (group < 0 || static_cast<std::size_t>(group) >= groups.size()) return nullptr;
  const auto& stations = groups[static_cast<std::size_t>(group)].stations;
  if (station < 0 || static_cast<std::size_t>(station) >= stations.size()) return nullptr;
  return &stations[static_cast<std::size_t>(station)];
}

}  // namespace vornel::ui
