#include "app/desktop_link.h"

#include <algorithm>

#include "desktop/track_notifier.h"
#include "ui/frm_vornel.h"

namespace vornel::app {

DesktopLink::DesktopLink(ui::frmVornel& window, desktop::Mpris& mpris, desktop::TrackNotifier* notifier)
    : window_(window), mpris_(mpris), notifier_(notifier) {
  using ui::frmVornel;
  connect(&window_, &frmVornel::playingChanged, &mpris_, &desktop::Mpris::setPlaying);
  connect(&window_, &frmVornel::volumeChanged, &mpris_, &desktop::Mpris::setVolume);
  connect(&window_, &frmVornel::trackChanged, this, &DesktopLink::onTrack);
  connect(&window_, &frmVornel::stationsChanged, this, &DesktopLink::followStations);
  mpris_.setControls(this);
  followStations();
}

DesktopLink::~DesktopLink() { mpris_.setControls(nullptr); }

void DesktopLink::Raise() { window_.ShowFromElsewhere(); }

void DesktopLink::Quit() {
  // After the bus has had its answer: closing ends the program.
  QMetaObject::invokeMethod(&window_, &QWidget::close, Qt::QueuedConnection);
}

void DesktopLink::Play() { window_.StartPlayback(); }

void DesktopLink::Stop() { window_.StopPlayback(); }

void DesktopLink::StepStation(int direction) { window_.StepStation(direction); }

void DesktopLink::SetVolume(int percent) { window_.SetVolume(std::clamp(percent, 0, 100)); }

void DesktopLink::onTrack(const QString& title, const QString& station) {
  mpris_.setTrack(title, station);
  followStations();
  if (notifier_ != nullptr && window_.IsOutOfSight()) notifier_->Notify(title, station);
}

void DesktopLink::followStations() {
  mpris_.setNavigation(window_.HasStation(), window_.CanStepStation());
  mpris_.setVolume(window_.volume());
}

}  // namespace vornel::app
