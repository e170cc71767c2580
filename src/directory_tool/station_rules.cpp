#include "directory_tool/station_rules.h"

#include <QChar>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <array>
#include <limits>

#include "platform/codepage.h"

namespace vornel::directory_tool {
namespace {

// What the player plays, by Radio Browser's `codec` (upper case, as its checker reports it) and
// whether the entry is HLS. The audio library decodes MPEG audio, ADTS AAC including HE-AAC, and
// Ogg Vorbis and Opus, over plain HTTP(S), through PLS/M3U playlists, and from live HLS whose
// segments are MPEG-TS or packed audio. Everything not listed is refused: "UNKNOWN" (the checker
// could not tell; in practice mostly HLS of fragmented MP4 or video), "AAC,H.264" and
// "AAC+,H.264" (television), "FLV", and the empty codec.
struct CodecRule {
  const char* codec;
  bool plain;  // played as a plain stream or playlist
  bool hls;    // played as HLS
};
constexpr std::array<CodecRule, 5> kCodecs = {{
    {"MP3", true, true},    // in HLS as packed audio or in MPEG-TS
    {"AAC", true, true},    // ADTS; in HLS as packed audio or in MPEG-TS
    {"AAC+", true, true},   // HE-AAC (SBR, PS) in ADTS
    {"OGG", true, false},   // Vorbis or Opus; HLS does not carry Ogg
    {"OPUS", true, false},  // Ogg Opus, as some servers name it
}};

// Radio Browser's tags to the directory's groups. A station goes to the group of its first tag
// (in the order its owner typed them) that the table knows: the tag whole, else its words from
// the last (the head word of "classic rock", "deep house", "smooth jazz") to the first. Decades
// ("80s", "1980s", "80's", "80er", "80-е") count as Ретро.
struct GenreRule {
  const char* group;
  std::vector<const char*> tags;
};
const std::vector<GenreRule>& GenreTable() {
  static const std::vector<GenreRule> table = {
      {"Поп",
       {"pop",
        "top 40",
        "top40",
        "hits",
        "top hits",
        "charts",
        "chart",
        "adult contemporary",
        "contemporary hits",
        "hot adult contemporary",
        "mainstream",
        "schlager",
        "europop",
        "k-pop",
        "j-pop",
        "kpop",
        "jpop",
        "poprock",
        "поп",
        "попса",
        "эстрада",
        "хиты"}},
      {"Рок",
       {"rock", "metal", "alternative", "indie", "punk", "grunge", "heavy metal", "hard rock", "рок", "метал",
        "альтернатива"}},
      {"Джаз и блюз", {"jazz", "blues", "soul", "swing", "bebop", "джаз", "блюз", "соул"}},
      {"Классика",
       {"classical", "classic music", "opera", "baroque", "symphonic", "orchestra", "orchestral", "chamber",
        "klassik", "classique", "clasica", "clásica", "классика", "классическая", "опера"}},
      {"Электроника",
       {"electronic", "electronica", "electro",   "techno",        "trance",      "ambient", "chillout",
        "chill",      "lounge",      "downtempo", "drum and bass", "drum'n'bass", "dnb",     "dubstep",
        "idm",        "synthwave",   "psytrance", "электроника",   "электронная", "эмбиент"}},
      {"Танцевальная",
       {"dance", "house", "edm", "disco", "eurodance", "club", "dance music", "танцевальная", "дискотека",
        "диско", "клубная"}},
      {"Хип-хоп",
       {"hip hop", "hiphop", "hip-hop", "rap", "rnb", "r&b", "r'n'b", "urban", "trap", "хип-хоп", "рэп"}},
      {"Ретро",
       {"oldies", "retro", "classic hits", "golden oldies", "nostalgia", "ретро", "ностальгия", "советская",
        "ссср"}},
      {"Шансон", {"chanson", "шансон", "russian chanson", "бардовская", "барды"}},
      {"Новости и разговор",
       {"news", "talk", "news talk", "talk & speech", "information", "politics", "sports", "sport",
        "noticias", "nachrichten", "infos", "current affairs", "speech", "новости", "разговорное",
        "разговорная", "информация", "спорт"}},
      {"Детские",
       {"children", "kids", "children's music", "kinder", "enfants", "детское", "детские", "детская",
        "сказки"}},
  };
  return table;
}

// The catch-all group, last in the list.
const char* const kOtherGroup = "Другие";

// Bit rates a stream address or name plausibly states; other numbers in a path are too often
// something else (a year, a frequency, a channel number).
bool CommonBitrate(int kbps) {
  static const QSet<int> rates = {24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  return rates.contains(kbps);
}

// One value, or 0 when the candidates are none or disagree.
std::int16_t OnlyValue(const QSet<int>& values) {
  return values.size() == 1 ? static_cast<std::int16_t>(*values.begin()) : 0;
}

bool RemovedFromNames(QChar c) {
  const QChar::Category category = c.category();
  return c == u'|' || category == QChar::Other_Control || category == QChar::Other_Format;
}

}  // namespace

bool PlayableCodec(const QString& codec, bool hls) {
  const QString upper = codec.trimmed().toUpper();
  for (const CodecRule& rule : kCodecs) {
    if (upper == QLatin1String(rule.codec)) return hls ? rule.hls : rule.plain;
  }
  return false;
}

std::optional<std::string> DirectoryAddress(const QString& url) {
  const QString trimmed = url.trimmed();
  if (!trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
      !trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
    return std::nullopt;
  // Most addresses are plain ASCII already and are kept exactly as entered; the rest go through
  // QUrl, which percent-encodes what a stream address may not carry as it stands.
  const bool plain = std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) {
    return c.unicode() > 0x20 && c.unicode() < 0x7F && c != u'|';
  });
  if (plain) return trimmed.toStdString();
  const QUrl parsed(trimmed);
  if (!parsed.isValid() || parsed.host().isEmpty()) return std::nullopt;
  QByteArray encoded = parsed.toEncoded(QUrl::FullyEncoded);
  encoded.replace('|', "%7C");
  return encoded.toStdString();
}

QString CleanName(const QString& name) {
  QString cleaned;
  cleaned.reserve(name.size());
  for (QChar c : name.normalized(QString::NormalizationForm_C)) {
    // A tab or line break between words stands for a blank; other controls for nothing.
    if (c == u'\t' || c == u'\n' || c == u'\r') {
      cleaned += u' ';
    } else if (!RemovedFromNames(c)) {
      cleaned += c;
    }
  }
  return cleaned.simplified();
}

std::optional<std::string> WritableName(const QString& cleaned) {
  const QByteArray utf8 = cleaned.toUtf8();
  if (!platform::Utf8ToCp1251Exact(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()))))
    return std::nullopt;
  return utf8.toStdString();
}

std::int16_t ReportedBitrate(std::int64_t reported) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int16_t>::max();
  if (reported <= 0) return 0;
  if (reported <= kMax) return static_cast<std::int16_t>(reported);
  if (reported % 1000 == 0 && reported / 1000 <= kMax) return static_cast<std::int16_t>(reported / 1000);
  return 0;
}

std::int16_t BitrateFromText(const QString& name, const QString& url) {
  static const QRegularExpression named(
      QStringLiteral("(?<!\\d)(\\d{2,3})\\s*(?:kbit/s|kbps|kbit|kb/s|kb|k|кбит/с|кбит|кб/с)(?![\\p{L}\\d])"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
  static const QRegularExpression number(QStringLiteral("(?<!\\d)(\\d{2,3})(?!\\d)"));

  QSet<int> fromName;
  for (auto it = named.globalMatch(name); it.hasNext();) {
    const int kbps = it.next().captured(1).toInt();
    if (kbps >= 16 && kbps <= 512) fromName.insert(kbps);
  }
  if (const std::int16_t kbps = OnlyValue(fromName); kbps != 0 || !fromName.isEmpty()) return kbps;

  // Only the path: a host or port holds numbers that are no bit rate.
  const QString path = QUrl(url.trimmed()).path();
  QSet<int> fromPath;
  for (auto it = number.globalMatch(path); it.hasNext();) {
    const int kbps = it.next().captured(1).toInt();
    if (CommonBitrate(kbps)) fromPath.insert(kbps);
  }
  return OnlyValue(fromPath);
}

QString NameKey(const QString& cleanedName, std::int16_t bitrate) {
  static const QRegularExpression stated(
      QStringLiteral("(?<!\\d)\\d{2,3}\\s*(?:kbit/s|kbps|kbit|kb/s|kb|k|кбит/с|кбит|кб/с)(?![\\p{L}\\d])"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
  QString key = cleanedName.toLower();
  key.remove(stated);
  // Words and numbers only, one blank between them.
  for (QChar& c : key) {
    if (!c.isLetterOrNumber()) c = u' ';
  }
  QStringList words = key.split(u' ', Qt::SkipEmptyParts);
  // A bare number equal to the bit rate ("Radio X 128") says the rate, not the station.
  if (bitrate > 0 && CommonBitrate(bitrate)) words.removeAll(QString::number(bitrate));
  return words.join(u' ');
}

QString HomepageKey(const QString& homepage) {
  QString key = homepage.trimmed().toLower();
  for (const char* prefix : {"https://", "http://"}) {
    if (key.startsWith(QLatin1String(prefix))) key.remove(0, static_cast<qsizetype>(qstrlen(prefix)));
  }
  if (key.startsWith(QLatin1String("www."))) key.remove(0, 4);
  while (key.endsWith(u'/')) key.chop(1);
  return key;
}

QString MountKey(const QString& url, std::int16_t bitrate) {
  if (bitrate <= 0) return {};
  const QUrl parsed(url.trimmed());
  if (!parsed.isValid() || parsed.host().isEmpty()) return {};
  const QString rate = QString::number(bitrate);
  const QString path = parsed.path();
  QString pattern;
  bool cut = false;
  // The path's digit runs, each kept unless it is the bit rate.
  for (qsizetype i = 0; i < path.size();) {
    if (!path[i].isDigit()) {
      pattern += path[i++];
      continue;
    }
    qsizetype end = i;
    while (end < path.size() && path[end].isDigit()) ++end;
    const QString run = path.mid(i, end - i);
    if (run == rate) {
      pattern += u'#';
      cut = true;
    } else {
      pattern += run;
    }
    i = end;
  }
  if (!cut) return {};
  return parsed.host().toLower() + u':' + QString::number(parsed.port(-1)) + pattern;
}

const std::vector<QString>& GenreGroups() {
  static const std::vector<QString> groups = [] {
    std::vector<QString> names;
    for (const GenreRule& rule : GenreTable()) names.push_back(QString::fromUtf8(rule.group));
    names.push_back(QString::fromUtf8(kOtherGroup));
    return names;
  }();
  return groups;
}

std::size_t GenreGroupOf(const QString& tags) {
  static const QHash<QString, std::size_t> byTag = [] {
    QHash<QString, std::size_t> map;
    const auto& table = GenreTable();
    for (std::size_t g = 0; g < table.size(); ++g) {
      for (const char* tag : table[g].tags) map.insert(QString::fromUtf8(tag), g);
    }
    return map;
  }();
  static const QRegularExpression decade(QStringLiteral("^(?:19)?[5-9]0(?:s|'s|er|-е|-х|-x)$"));
  static const QRegularExpression wordBreak(QStringLiteral("[\\s\\-/&+,.]+"));
  static const std::size_t retro = [] {
    const auto& groups = GenreGroups();
    return static_cast<std::size_t>(std::find(groups.begin(), groups.end(), QString::fromUtf8("Ретро")) -
                                    groups.begin());
  }();

  const auto lookUp = [&](const QString& word) -> std::optional<std::size_t> {
    if (const auto it = byTag.constFind(word); it != byTag.constEnd()) return *it;
    if (decade.match(word).hasMatch()) return retro;
    return std::nullopt;
  };
  for (const QString& raw : tags.split(u',', Qt::SkipEmptyParts)) {
    const QString tag = raw.trimmed().toLower();
    if (tag.isEmpty()) continue;
    if (const auto group = lookUp(tag)) return *group;
    const QStringList words = tag.split(wordBreak, Qt::SkipEmptyParts);
    for (auto word = words.crbegin(); word != words.crend(); ++word) {
      if (const auto group = lookUp(*word)) return *group;
    }
  }
  return GenreGroups().size() - 1;
}

QString CountryGroupName(const QString& country) {
  const QString trimmed = CleanName(country);
  if (WritableName(trimmed)) return trimmed;
  // "Côte D'Ivoire", "Curaçao", "Åland Islands": the letters without their marks.
  QString plain;
  for (QChar c : trimmed.normalized(QString::NormalizationForm_D)) {
    if (c.category() != QChar::Mark_NonSpacing) plain += c;
  }
  return WritableName(plain) ? plain : QString();
}

}  // namespace vornel::directory_tool
