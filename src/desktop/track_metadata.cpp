#include "desktop/track_metadata.h"

#include <QDBusObjectPath>
#include <QStringList>

namespace vornel::desktop {

TrackTitle SplitTrackTitle(const QString& streamTitle) {
  const QString text = streamTitle.trimmed();
  const qsizetype dash = text.indexOf(QStringLiteral(" - "));
  if (dash < 0) return {QString(), text};
  TrackTitle parts{text.left(dash).trimmed(), text.mid(dash + 3).trimmed()};
  if (parts.artist.isEmpty() || parts.title.isEmpty()) return {QString(), text};
  return parts;
}

QVariantMap TrackMetadata(const QString& streamTitle, const QString& station, std::uint64_t track) {
  QVariantMap metadata;
  if (station.isEmpty() && streamTitle.isEmpty()) {
    metadata.insert(
        QStringLiteral("mpris:trackid"),
        QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"))));
    return metadata;
  }
  // Track ids must not lie under /org/mpris, which the interface keeps for itself.
  metadata.insert(QStringLiteral("mpris:trackid"),
                  QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/vornel/track/%1").arg(track))));
  const TrackTitle parts = SplitTrackTitle(streamTitle);
  metadata.insert(QStringLiteral("xesam:title"), parts.title.isEmpty() ? station : parts.title);
  if (!parts.artist.isEmpty()) metadata.insert(QStringLiteral("xesam:artist"), QStringList{parts.artist});
  if (!station.isEmpty()) metadata.insert(QStringLiteral("xesam:album"), station);
  return metadata;
}

}  // namespace vornel::desktop
