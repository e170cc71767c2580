#pragma once

// Track notifications through the desktop's notification service: the title, the station and the
// program's icon. One notification at a time: each new title replaces the last one rather than
// stacking under it. Calls are asynchronous; the player never waits for the service.

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace vornel::desktop {

class TrackNotifier : public QObject {
  Q_OBJECT

 public:
  // `desktopEntry` names the program's .desktop file and its themed icon; `icon` is sent as pixels
  // too, for a player that runs from its own folder.
  TrackNotifier(QDBusConnection bus, QString desktopEntry, QImage icon, QObject* parent = nullptr);

  // Shows `title` of `station`, in place of the notification shown before. The same title of the
  // same station again (a reconnect brings it back) shows nothing new.
  void Notify(const QString& title, const QString& station);

  // The service's id of the notification shown; 0 before the first one.
  std::uint32_t notificationId() const { return id_; }

 signals:
  // The service answered a Notify call (tests wait for this).
  void answered();

 private:
  void send(const QString& title, const QString& station);

  QDBusConnection bus_;
  const QString desktopEntry_;
  QImage icon_;
  std::uint32_t id_ = 0;
  bool waiting_ = false;  // a call is out; its answer brings the id the next one replaces
  std::optional<std::pair<QString, QString>> next_;
  std::pair<QString, QString> last_;
};

}  // namespace vornel::desktop
