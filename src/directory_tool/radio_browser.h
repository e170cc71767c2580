#pragma once

// Radio Browser's station entries, as its `/json/stations` answers give them: only the fields the
// directory is built from.

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

namespace vornel::directory_tool {

struct RadioBrowserStation {
  QString name;
  QString url;  // the address the station's owner entered; `url_resolved` only when it is empty
  QString homepage;
  QString tags;  // comma-separated, as entered
  QString country;
  QString codec;             // "MP3", "AAC+", "OGG", "UNKNOWN", ...
  std::int64_t bitrate = 0;  // kbit/s as reported; 0 when unknown
  bool hls = false;
  bool lastCheckOk = false;
  std::int64_t votes = 0;
  std::int64_t clicks = 0;  // clicks of the last day
};

struct RadioBrowserParse {
  std::vector<RadioBrowserStation> stations;
  int unreadable = 0;  // elements of the array that were not a JSON object; left out
  QString error;       // the text as a whole was not a station list; `stations` is then empty
};

// A `/json/stations` answer (a JSON array of station objects). Missing fields read as empty or 0,
// so that an older or newer server's answer still reads.
RadioBrowserParse ParseRadioBrowserStations(QByteArrayView json);

}  // namespace vornel::directory_tool
