#include "directory_tool/radio_browser_client.h"

#include <QDnsLookup>
#include <QDnsServiceRecord>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>
#include <memory>

namespace vornel::directory_tool {

QString UserAgent() {
  return QStringLiteral("Vornel-directory/" VORNEL_TOOL_VERSION
                        " (station directory of the Vornel radio player)");
}

QStringList LookUpRadioBrowserServers(QString* error) {
  QDnsLookup lookup(QDnsLookup::SRV, QStringLiteral("_api._tcp.radio-browser.info"));
  QEventLoop loop;
  QObject::connect(&lookup, &QDnsLookup::finished, &loop, &QEventLoop::quit);
  lookup.lookup();
  loop.exec();
  if (lookup.error() != QDnsLookup::NoError) {
    if (error) *error = lookup.errorString();
    return {};
  }
  QStringList servers;
  for (const QDnsServiceRecord& record : lookup.serviceRecords()) {
    QString host = record.target();
    if (host.endsWith(u'.')) host.chop(1);
    servers << QStringLiteral("https://") + host;
  }
  // The API spreads its load by each client taking the servers in an order of its own.
  std::shuffle(servers.begin(), servers.end(), *QRandomGenerator::global());
  return servers;
}

FetchResult FetchRadioBrowserStations(const QStringList& servers, int timeoutSeconds) {
  FetchResult result;
  QNetworkAccessManager network;
  for (const QString& server : servers) {
    QUrl url(server.endsWith(u'/') ? server.chopped(1) : server);
    url.setPath(url.path() + QStringLiteral("/json/stations"));
    // Broken stations would only be filtered out again here; leaving them at the server saves a
    // good part of the answer.
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("hidebroken"), QStringLiteral("true"));
    url.setQuery(query);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(
        static_cast<int>(std::chrono::milliseconds(std::chrono::seconds(timeoutSeconds)).count()));
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status != 200) {
      result.errors << QStringLiteral("%1: %2").arg(url.toString(), reply->errorString());
      continue;
    }
    result.body = reply->readAll();
    result.server = server;
    return result;
  }
  return result;
}

}  // namespace vornel::directory_tool
