#include "directory_tool/tool.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <string>

#include "core/directory_writer.h"
#include "directory_tool/directory_builder.h"
#include "directory_tool/radio_browser.h"
#include "directory_tool/radio_browser_client.h"

namespace vornel::directory_tool {
namespace {

QByteArray ReadInput(const QString& path, QString* error) {
  QFile file;
  const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                 : (file.setFileName(path), file.open(QIODevice::ReadOnly));
  if (!opened) {
    *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return {};
  }
  return file.readAll();
}

// Readers of the old file see it whole until the new one replaces it in one rename.
bool SaveAtomically(const QString& path, const std::string& bytes, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
      !file.commit()) {
    *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}

void Report(QTextStream& out, const BuildCounts& c, int unreadable) {
  out << "entries read:                      " << c.entries << '\n';
  if (unreadable > 0) out << "  elements not a station object:   " << unreadable << '\n';
  out << "  left out, last check failed:    " << c.failedCheck << '\n'
      << "  left out, codec not played:     " << c.codecRefused << '\n'
      << "  left out, no http(s) address:   " << c.noAddress << '\n'
      << "  left out, empty name:           " << c.nameEmpty << '\n'
      << "  left out, name not Windows-1251:" << ' ' << c.nameUnwritable << '\n'
      << "  left out, duplicate address:    " << c.duplicateAddress << '\n'
      << "  left out, bit rate already there:" << ' ' << c.sameBitrate << '\n'
      << "  merged into another's station:  " << c.merged << '\n'
      << "stations:                          " << c.stations << " (" << c.multiBitrate
      << " with two or more bit rates)\n"
      << "  over a group's cap:             " << c.capped << '\n';
  if (c.outOfNumbers > 0) out << "  past the last station number:   " << c.outOfNumbers << '\n';
  out << "stations written:                  " << c.written << " (" << c.writtenMultiBitrate
      << " with two or more bit rates)\n";
}

}  // namespace

int RunTool(const QStringList& arguments, QTextStream& report) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Builds the Vornel player's stations.dat from Radio Browser."));
  const QCommandLineOption input(QStringLiteral("input"),
                                 QStringLiteral("Radio Browser station JSON (a /json/stations answer); - for "
                                                "standard input."),
                                 QStringLiteral("file"));
  const QCommandLineOption server(QStringLiteral("server"),
                                  QStringLiteral("A Radio Browser server to fetch the stations from, such as "
                                                 "https://de1.api.radio-browser.info; repeat for fallbacks; "
                                                 "'auto' takes the servers DNS lists."),
                                  QStringLiteral("address"));
  const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The stations.dat to write."),
                                  QStringLiteral("file"));
  const QCommandLineOption groupBy(QStringLiteral("group-by"), QStringLiteral("genre (default) or country."),
                                   QStringLiteral("kind"), QStringLiteral("genre"));
  const QCommandLineOption perGroup(QStringLiteral("per-group"),
                                    QStringLiteral("The most popular stations kept per group; 0 keeps all "
                                                   "(default 200)."),
                                    QStringLiteral("count"), QStringLiteral("200"));
  const QCommandLineOption firstLine(QStringLiteral("first-line"),
                                     QStringLiteral("Line 1 of the file, which the player skips."),
                                     QStringLiteral("text"), QStringLiteral("Vornel"));
  const QCommandLineOption bannerPicture(QStringLiteral("banner-picture"),
                                         QStringLiteral("Address of the banner picture (line 2)."),
                                         QStringLiteral("address"));
  const QCommandLineOption bannerLink(QStringLiteral("banner-link"),
                                      QStringLiteral("Address the banner links to (line 3)."),
                                      QStringLiteral("address"));
  const QCommandLineOption timeout(QStringLiteral("timeout"),
                                   QStringLiteral("Seconds a server may stall before the next is asked "
                                                  "(default 120)."),
                                   QStringLiteral("seconds"), QStringLiteral("120"));
  parser.addOptions(
      {input, server, output, groupBy, perGroup, firstLine, bannerPicture, bannerLink, timeout});
  parser.addHelpOption();

  const auto usage = [&](const QString& what) {
    report << "vornel-directory: " << what << "\n\n" << parser.helpText();
    report.flush();
    return kToolUsage;
  };
  if (!parser.parse(arguments)) return usage(parser.errorText());
  if (parser.isSet(QStringLiteral("help"))) {
    report << parser.helpText();
    return kToolOk;
  }
  if (parser.isSet(input) == parser.isSet(server)) return usage(QStringLiteral("give --input or --server"));
  if (!parser.isSet(output)) return usage(QStringLiteral("give --output"));

  BuildOptions options;
  const QString grouping = parser.value(groupBy);
  if (grouping == QLatin1String("country")) {
    options.grouping = Grouping::ByCountry;
  } else if (grouping != QLatin1String("genre")) {
    return usage(QStringLiteral("--group-by is genre or country"));
  }
  bool number = false;
  options.perGroup = parser.value(perGroup).toInt(&number);
  if (!number || options.perGroup < 0) return usage(QStringLiteral("--per-group is a count, 0 or more"));
  const int seconds = parser.value(timeout).toInt(&number);
  if (!number || seconds <= 0) return usage(QStringLiteral("--timeout is a number of seconds"));
  options.bannerPictureUrl = parser.value(bannerPicture).toStdString();
  options.bannerUrl = parser.value(bannerLink).toStdString();

  QByteArray json;
  QString error;
  if (parser.isSet(input)) {
    json = ReadInput(parser.value(input), &error);
  } else {
    QStringList servers;
    for (const QString& address : parser.values(server)) {
      if (address == QLatin1String("auto")) {
        servers << LookUpRadioBrowserServers(&error);
      } else {
        servers << address;
      }
    }
    const FetchResult fetched = FetchRadioBrowserStations(servers, seconds);
    for (const QString& failure : fetched.errors) report << "vornel-directory: " << failure << '\n';
    if (fetched.body.isEmpty() && error.isEmpty()) error = QStringLiteral("no server answered");
    if (!fetched.body.isEmpty()) error.clear();
    json = fetched.body;
  }
  if (!error.isEmpty()) {
    report << "vornel-directory: " << error << '\n';
    return kToolNoInput;
  }

  RadioBrowserParse parsed = ParseRadioBrowserStations(json);
  json = QByteArray();  // the parsed entries are all that is needed from here on
  if (!parsed.error.isEmpty()) {
    report << "vornel-directory: not a Radio Browser station list: " << parsed.error << '\n';
    return kToolNoInput;
  }
  const BuildResult built = BuildDirectory(parsed.stations, options);
  const core::DirectoryWriteResult written =
      core::WriteDirectory(built.directory, parser.value(firstLine).toStdString());
  Report(report, built.counts, parsed.unreadable);
  // Every station text was checked before; what is left are the header lines from the options.
  if (!written.problems.empty()) {
    for (const core::DirectoryProblem& problem : written.problems)
      report << "vornel-directory: line " << problem.line << ": " << QString::fromStdString(problem.what)
             << '\n';
    return kToolNoOutput;
  }
  if (!SaveAtomically(parser.value(output), written.bytes, &error)) {
    report << "vornel-directory: " << error << '\n';
    return kToolNoOutput;
  }
  report << "wrote " << parser.value(output) << ": " << written.bytes.size() << " bytes, "
         << built.directory.groups.size() << " groups\n";
  return kToolOk;
}

}  // namespace vornel::directory_tool
