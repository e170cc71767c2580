#pragma once

// The rules that turn one Radio Browser entry into what the player's directory holds: which
// codecs it plays, which group a station's tags put it in, how names are cleaned, and the keys by
// which entries of one station are recognised. Each rule is a plain function so that it can be
// checked on its own; the tables behind them are in station_rules.cpp and in directory/README.md.

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornel::directory_tool {

// Whether the player plays a station of this Radio Browser `codec` (and HLS flag).
bool PlayableCodec(const QString& codec, bool hls);

// The address as the directory carries it: an http or https address in printable ASCII without
// `|`; nothing for any other scheme or an address that does not parse.
std::optional<std::string> DirectoryAddress(const QString& url);

// The name with control and format characters and `|` removed, blanks collapsed and trimmed, in
// composed form; then in UTF-8 when Windows-1251 holds every character of it, else nothing.
// An empty result means nothing was left of the name.
QString CleanName(const QString& name);
std::optional<std::string> WritableName(const QString& cleaned);

// The bit rate in kbit/s that a reported one stands for: 0 when unknown, and a value past the
// 16-bit range that is a whole number of kbit/s given in bit/s is taken as such.
std::int16_t ReportedBitrate(std::int64_t reported);

// A bit rate that the station's name ("Radio X 128k") or its address ("/radio96.aacp",
// "/live/mp3/128/") states; 0 when neither names exactly one.
std::int16_t BitrateFromText(const QString& name, const QString& url);

// Keys under which entries are the same station. Empty when the entry has none of that kind.
// The name key drops case, punctuation and a stated bit rate; the homepage key scheme, "www."
// and a final slash; the mount key is the server and the path with the bit-rate number cut out,
// so that "/radio64.mp3" and "/radio128.mp3" on one server match.
QString NameKey(const QString& cleanedName, std::int16_t bitrate);
QString HomepageKey(const QString& homepage);
QString MountKey(const QString& url, std::int16_t bitrate);

// The genre groups in the order the directory lists them; the last one takes every station whose
// tags match none.
const std::vector<QString>& GenreGroups();
// The index into GenreGroups() for a station's comma-separated tags.
std::size_t GenreGroupOf(const QString& tags);

// The group name for grouping by country: the country as Radio Browser names it, with accents
// dropped where Windows-1251 lacks the letter; empty when it still cannot be written.
QString CountryGroupName(const QString& country);

}  // namespace vornel::directory_tool
