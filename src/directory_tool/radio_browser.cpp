#include "directory_tool/radio_browser.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <string_view>

#include "directory_tool/json_array.h"

namespace vornel::directory_tool {
namespace {

std::int64_t Integer(const QJsonValue& value) {
  if (value.isBool()) return value.toBool() ? 1 : 0;
  // Numbers come as JSON numbers; a few servers send them as strings.
  if (value.isString()) return value.toString().trimmed().toLongLong();
  return value.toInteger();
}

RadioBrowserStation FromObject(const QJsonObject& object) {
  const auto text = [&](const char* key) { return object.value(QLatin1String(key)).toString(); };
  RadioBrowserStation station;
  station.name = text("name");
  station.url = text("url");
  if (station.url.trimmed().isEmpty()) station.url = text("url_resolved");
  station.homepage = text("homepage");
  station.tags = text("tags");
  station.country = text("country");
  station.codec = text("codec");
  station.bitrate = Integer(object.value(QLatin1String("bitrate")));
  station.hls = Integer(object.value(QLatin1String("hls"))) != 0;
  station.lastCheckOk = Integer(object.value(QLatin1String("lastcheckok"))) != 0;
  station.votes = Integer(object.value(QLatin1String("votes")));
  station.clicks = Integer(object.value(QLatin1String("clickcount")));
  return station;
}

}  // namespace

RadioBrowserParse ParseRadioBrowserStations(QByteArrayView json) {
  RadioBrowserParse parse;
  const JsonArraySplit split = SplitJsonArrayOfObjects(std::string_view(json.data(), json.size()));
  if (!split.error.empty()) {
    parse.error =
        QStringLiteral("%1 (at byte %2)").arg(QString::fromStdString(split.error)).arg(split.errorOffset);
    return parse;
  }
  parse.stations.reserve(split.objects.size());
  for (std::string_view object : split.objects) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(object.data(), static_cast<qsizetype>(object.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
      ++parse.unreadable;
      continue;
    }
    parse.stations.push_back(FromObject(document.object()));
  }
  return parse;
}

}  // namespace vornel::directory_tool
