#pragma once

// The player as the desktop's media controls and media keys see it: the media-player interface
// (org.mpris.MediaPlayer2 and its Player) on the session bus. The window tells this object what
// changes; requests from the bus go to the player's controls. Live radio does not pause, so Pause
// stops, and Next and Previous step through the stations of the current group.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>

namespace vornel::desktop {

// What the bus may ask of the player. Calls arrive on the thread the Mpris object lives on.
class MediaPlayerControls {
 public:
  virtual ~MediaPlayerControls() = default;
  virtual void Raise() = 0;
  virtual void Quit() = 0;
  virtual void Play() = 0;
  virtual void Stop() = 0;
  // +1 the next station of the current group, -1 the previous one.
  virtual void StepStation(int direction) = 0;
  virtual void SetVolume(int percent) = 0;  // 0..100
};

class Mpris : public QObject {
  Q_OBJECT

 public:
  static QString ServiceName() { return QStringLiteral("org.mpris.MediaPlayer2.vornel"); }
  static QString ObjectPath() { return QStringLiteral("/org/mpris/MediaPlayer2"); }

  // `desktopEntry`: the base name of the program's .desktop file.
  explicit Mpris(QString desktopEntry, QObject* parent = nullptr);

  // Puts the object on `bus`; the service name is claimed apart (see bus_instance.h). False when
  // the bus is not there or the path is taken.
  bool Publish(QDBusConnection bus);
  // Requests from the bus do nothing until the player's controls are known.
  void setControls(MediaPlayerControls* controls) { controls_ = controls; }

  // What the player tells; each change is announced on the bus.
  void setPlaying(bool playing);
  void setTrack(const QString& streamTitle, const QString& station);
  void setVolume(int percent);
  // `canPlay`: there is a station to play; `canStep`: its group has another one.
  void setNavigation(bool canPlay, bool canStep);

  // For the adaptors.
  const QString& desktopEntry() const { return desktopEntry_; }
  QString playbackStatus() const;
  const QVariantMap& metadata() const { return metadata_; }
  double volume() const { return volume_ / 100.0; }
  bool canPlay() const { return canPlay_; }
  bool canStep() const { return canStep_; }
  MediaPlayerControls* controls() const { return controls_; }

 private:
  void announce(const QVariantMap& changed);

  const QString desktopEntry_;
  MediaPlayerControls* controls_ = nullptr;
  QDBusConnection bus_;
  bool published_ = false;
  bool playing_ = false;
  QString title_;
  QString station_;
  std::uint64_t track_ = 0;
  QVariantMap metadata_;
  int volume_ = 100;
  bool canPlay_ = false;
  bool canStep_ = false;
};

}  // namespace vornel::desktop
