#pragma once

// Fetching the whole station list from a live Radio Browser server, as its API asks clients to:
// a User-Agent that names the program, the server list from DNS in a random order, and the next
// server when one fails.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vornel::directory_tool {

struct FetchResult {
  QByteArray body;     // a `/json/stations` answer; empty on failure
  QString server;      // the server that answered
  QStringList errors;  // one line per server that failed
};

// The User-Agent every request carries.
QString UserAgent();

// The servers the DNS service record `_api._tcp.radio-browser.info` lists, as https addresses in
// a random order; empty (with `error` set) when the lookup fails. Runs an event loop meanwhile.
QStringList LookUpRadioBrowserServers(QString* error);

// Asks each server in turn (scheme and host, such as https://de1.api.radio-browser.info) for its
// working stations until one answers. Runs an event loop meanwhile.
FetchResult FetchRadioBrowserStations(const QStringList& servers, int timeoutSeconds);

}  // namespace vornel::directory_tool
