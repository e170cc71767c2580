#include "desktop/mpris.h"

#include <QDBusMessage>
#include <QStringList>

#include <algorithm>

#include "desktop/mpris_adaptors.h"
#include "desktop/track_metadata.h"

namespace vornel::desktop {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

}  // namespace

Mpris::Mpris(QString desktopEntry, QObject* parent)
    : QObject(parent), desktopEntry_(std::move(desktopEntry)), bus_(QString()) {
  // Owned by this object, as Qt D-Bus wants its adaptors.
  new MprisRootAdaptor(this);
  new MprisPlayerAdaptor(this);
  metadata_ = TrackMetadata(QString(), QString(), 0);
}

bool Mpris::Publish(QDBusConnection bus) {
  if (!bus.isConnected()) return false;
  if (!bus.registerObject(ObjectPath(), this, QDBusConnection::ExportAdaptors)) return false;
  bus_ = bus;
  published_ = true;
  return true;
}

QString Mpris::playbackStatus() const {
  return playing_ ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

void Mpris::setPlaying(bool playing) {
  if (playing == playing_) return;
  playing_ = playing;
  announce({{QStringLiteral("PlaybackStatus"), playbackStatus()}});
}

void Mpris::setTrack(const QString& streamTitle, const QString& station) {
  if (streamTitle == title_ && station == station_) return;
  title_ = streamTitle;
  station_ = station;
  metadata_ = TrackMetadata(title_, station_, ++track_);
  announce({{QStringLiteral("Metadata"), metadata_}});
}

void Mpris::setVolume(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == volume_) return;
  volume_ = percent;
  announce({{QStringLiteral("Volume"), volume()}});
}

void Mpris::setNavigation(bool canPlay, bool canStep) {
  QVariantMap changed;
  if (canPlay != canPlay_) {
    canPlay_ = canPlay;
    changed.insert(QStringLiteral("CanPlay"), canPlay_);
    changed.insert(QStringLiteral("CanPause"), canPlay_);
  }
  if (canStep != canStep_) {
    canStep_ = canStep;
    changed.insert(QStringLiteral("CanGoNext"), canStep_);
    changed.insert(QStringLiteral("CanGoPrevious"), canStep_);
  }
  if (!changed.isEmpty()) announce(changed);
}

void Mpris::announce(const QVariantMap& changed) {
  if (!published_) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      ObjectPath(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
  signal << kPlayerInterface << changed << QStringList();
  bus_.send(signal);
}

}  // namespace vornel::desktop
