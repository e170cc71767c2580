#pragma once

// What the desktop is told about the track: the stream's title split the way stations write it,
// and the metadata map of the media-player interface.

#include <QString>
#include <QVariantMap>

#include <cstdint>

namespace vornel::desktop {

struct TrackTitle {
  QString artist;  // empty unless the title reads "Artist - Title"
  QString title;
};

// "Artist - Title" gives both parts (split at the first " - "); anything else is all title.
// A side that would be empty keeps the whole text as the title.
TrackTitle SplitTrackTitle(const QString& streamTitle);

// The metadata map: mpris:trackid, xesam:title (the station's name while the stream has no title
// yet), xesam:artist, and the station as xesam:album. `track` numbers the titles of this run.
// With no station there is no track: only the reserved "no track" id.
QVariantMap TrackMetadata(const QString& streamTitle, const QString& station, std::uint64_t track);

}  // namespace vornel::desktop
