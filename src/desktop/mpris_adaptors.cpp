#include "desktop/mpris_adaptors.h"

#include <algorithm>
#include <cmath>

#include "desktop/mpris.h"

namespace vornel::desktop {

MprisRootAdaptor::MprisRootAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

QString MprisRootAdaptor::desktopEntry() const { return mpris_->desktopEntry(); }

void MprisRootAdaptor::Raise() {
  if (MediaPlayerControls* controls = mpris_->controls()) controls->Raise();
}

void MprisRootAdaptor::Quit() {
  if (MediaPlayerControls* controls = mpris_->controls()) controls->Quit();
}

MprisPlayerAdaptor::MprisPlayerAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}

QString MprisPlayerAdaptor::playbackStatus() const { return mpris_->playbackStatus(); }
QVariantMap MprisPlayerAdaptor::metadata() const { return mpris_->metadata(); }
double MprisPlayerAdaptor::volume() const { return mpris_->volume(); }
bool MprisPlayerAdaptor::canStep() const { return mpris_->canStep(); }
bool MprisPlayerAdaptor::canPlay() const { return mpris_->canPlay(); }

void MprisPlayerAdaptor::setVolume(double volume) {
  if (!std::isfinite(volume)) return;
  // Louder than full is full, below silence is silence.
  const int percent = static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100.0));
  if (MediaPlayerControls* controls = mpris_->controls()) controls->SetVolume(percent);
}

void MprisPlayerAdaptor::Next() {
  if (MediaPlayerControls* controls = mpris_->controls(); controls && mpris_->canStep())
    controls->StepStation(+1);
}

void MprisPlayerAdaptor::Previous() {
  if (MediaPlayerControls* controls = mpris_->controls(); controls && mpris_->canStep())
    controls->StepStation(-1);
}

void MprisPlayerAdaptor::Pause() { Stop(); }

void MprisPlayerAdaptor::PlayPause() {
  if (mpris_->playbackStatus() == QLatin1String("Playing")) {
    Stop();
  } else {
    Play();
  }
}

void MprisPlayerAdaptor::Stop() {
  if (MediaPlayerControls* controls = mpris_->controls()) controls->Stop();
}

void MprisPlayerAdaptor::Play() {
  if (mpris_->playbackStatus() == QLatin1String("Playing")) return;
  if (MediaPlayerControls* controls = mpris_->controls(); controls && mpris_->canPlay()) controls->Play();
}

}  // namespace vornel::desktop
