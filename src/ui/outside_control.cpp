// The window as seen from outside it: media keys and the desktop's media controls step through
// stations and read the window's state; what the player does is told back through signals.

#include <QListWidget>

#include "playback/playback_controller.h"
#include "skin/uc_slider.h"
#include "ui/frm_vornel.h"
#include "ui/selection.h"

namespace vornel::ui {

namespace {

std::size_t StationCount(const std::vector<core::clsGroup>& groups, std::int16_t group) {
  if (group < 0 || static_cast<std::size_t>(group) >= groups.size()) return 0;
  return groups[static_cast<std::size_t>(group)].stations.size();
}

}  // namespace

void frmVornel::wireOutside() {
  using playback::PlaybackController;
  connect(controller_.get(), &PlaybackController::lampChanged, this, &frmVornel::playingChanged);
  connect(controller_.get(), &PlaybackController::stationNamed, this,
          [this](const QString& name) { playingStation_ = name; });
  connect(controller_.get(), &PlaybackController::titleChanged, this,
          [this](const QString& title) { emit trackChanged(title, playingStation_); });
  connect(sliderVolume, &skin::ucSlider::Change, this, [this] { emit volumeChanged(sliderVolume->value()); });
}

void frmVornel::StepStation(int direction) {
  const std::size_t count = StationCount(groups, cur_group_id);
  if (count == 0 || direction == 0) return;
  const auto size = static_cast<long long>(count);
  const long long next = ((cur_station_id + (direction > 0 ? 1 : -1)) % size + size) % size;
  cur_station_id = static_cast<std::int16_t>(next);
  const core::clsStation* station = StationAt(groups, cur_group_id, cur_station_id);
  cur_stream_id = station != nullptr ? ChooseStreamIndex(station->streams, default_bitrate) : 0;
  // The list follows when it shows that group, so the window agrees with what plays.
  if (sel_group_id == cur_group_id) listStations->setCurrentRow(cur_station_id);
  StartPlayback();
}

bool frmVornel::HasStation() const { return StationAt(groups, cur_group_id, cur_station_id) != nullptr; }

bool frmVornel::CanStepStation() const { return StationCount(groups, cur_group_id) > 1; }

int frmVornel::volume() const { return sliderVolume->value(); }

bool frmVornel::IsOutOfSight() const { return !isVisible() || isMinimized(); }

}  // namespace vornel::ui
