#pragma once

// Joins the main window to the desktop: the media-player object on the session bus follows the
// window, its requests drive the window, and new titles are announced while the window is out of
// sight (the visible window shows them itself).

#include <QObject>

#include "desktop/mpris.h"

namespace vornel::desktop {
class TrackNotifier;
}

namespace vornel::ui {
class frmVornel;
}

namespace vornel::app {

class DesktopLink : public QObject, public desktop::MediaPlayerControls {
  Q_OBJECT

 public:
  // `notifier` may be null: no notifications.
  DesktopLink(ui::frmVornel& window, desktop::Mpris& mpris, desktop::TrackNotifier* notifier);
  ~DesktopLink() override;

  void Raise() override;
  void Quit() override;
  void Play() override;
  void Stop() override;
  void StepStation(int direction) override;
  void SetVolume(int percent) override;

 private:
  void onTrack(const QString& title, const QString& station);
  void followStations();

  ui::frmVornel& window_;
  desktop::Mpris& mpris_;
  desktop::TrackNotifier* notifier_;
};

}  // namespace vornel::app
