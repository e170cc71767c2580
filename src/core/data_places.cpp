#include "core/data_places.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "core/paths.h"

Q_DECLARE_LOGGING_CATEGORY(lcCore)

namespace vornel::core {

namespace {

constexpr const char kStationsFileName[] = "stations.dat";
constexpr const char kAppFolder[] = "Vornel";

QString Local(const std::string& path) { return QString::fromStdString(path); }

void MakeFolder(const QString& folder) {
  if (!QDir().mkpath(folder)) qCWarning(lcCore) << "cannot make the folder" << folder;
}

// The first run of an installed player starts from the directory it brings, as a portable one
// does; later runs keep what the last download stored.
void SeedCache(const QString& cache, const QString& bundled) {
  if (QFile::exists(cache) || !QFile::exists(bundled)) return;
  if (!QFile::copy(bundled, cache)) {
    qCWarning(lcCore) << "cannot copy" << bundled << "to" << cache;
    return;
  }
  // The copy takes the installed file's mode, which may lack the owner's write bit.
  QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

}  // namespace

bool FolderIsWritable(const std::string& folder) {
  QTemporaryFile probe(QDir(Local(folder)).filePath(QStringLiteral(".vornel-write-XXXXXX")));
  return probe.open();  // removed again when the probe goes
}

DataPlaces ResolveDataPlaces(const std::string& programFolder) {
  return ResolveDataPlaces(programFolder, FolderIsWritable(programFolder));
}

DataPlaces ResolveDataPlaces(const std::string& programFolder, bool programFolderWritable) {
  if (programFolderWritable) {
    return {true, RPP(programFolder) + kStationsFileName, RPP(programFolder) + "REC"};
  }
  // Qt reads XDG_CACHE_HOME and user-dirs.dirs (XDG_MUSIC_DIR) and falls back to ~/.cache and
  // ~/Music, as the XDG rules say.
  const QString cacheFolder =
      QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + '/' + kAppFolder;
  const QString recordFolder =
      QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + '/' + kAppFolder;
  const QString cache = cacheFolder + '/' + kStationsFileName;
  MakeFolder(cacheFolder);
  SeedCache(cache, Local(RPP(programFolder) + kStationsFileName));
  MakeFolder(recordFolder);
  return {false, cache.toStdString(), recordFolder.toStdString()};
}

}  // namespace vornel::core
