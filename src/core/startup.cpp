#include "core/startup.h"

#include <QDir>
#include <QSaveFile>
#include <QLoggingCategory>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/downloader.h"
#include "core/paths.h"
#include "playback/audio_library.h"
#include "playback/playback_controller.h"

Q_LOGGING_CATEGORY(lcCore, "vornel.core")
Q_LOGGING_CATEGORY(lcDirectory, "vornel.directory")

namespace vornel::core {

namespace {

constexpr const char kStationsFileName[] = "stations.dat";
constexpr int kAudioFrequency = 44100;
constexpr int kStartVolume = 100;
constexpr std::int16_t kDirectoryTimeoutSeconds = 30;

QString AppTitle() { return QStringLiteral("Vornel"); }
QString LibraryCaption() { return QStringLiteral("BASS.DLL"); }

// The cached directory's bytes, or nothing when the file cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

QString StatusLoadingDirectory() { return QStringLiteral("Загружается список станций"); }
QString StatusChooseStation() { return playback::PlaybackController::StatusChooseStation(); }

std::vector<TrayMenuItem> TrayMenuItems() {
  return {{1, QStringLiteral("Показать программу")},
          {2, QStringLiteral("Играть/Остановить")},
          {3, QStringLiteral("Закрыть программу")}};
}

Program::Program(MainWindowHost& window, MessageBoxes& messages, StartupConfig config)
    : window_(window), messages_(messages), config_(std::move(config)) {}

Program::~Program() {
  // A start-up that ended early skips the unload sequence, but the output device must still be
  // closed before the library that owns it is unloaded.
  if (audioInitialised_) audio_->api().BASS_Free();
}

std::string Program::ProgramFile(const char* name) const { return RPP(config_.programFolder) + name; }

StartupFailure Program::Start() {
  window_.ApplyWindowShape();
  window_.LoadSettings();

  // The program folder stays the working folder, as a portable player has always had it.
  if (!QDir::setCurrent(QString::fromStdString(config_.programFolder))) {
    qCWarning(lcCore) << "cannot make the program folder current:" << config_.programFolder.c_str();
  }
  places_ = ResolveDataPlaces(config_.programFolder);

  if (const StartupFailure failure = LoadAudioLibrary(); failure != StartupFailure::None) return failure;

  window_.SetVolume(kStartVolume);
  window_.ShowWindow();
  window_.SetStatus(StatusLoadingDirectory());

  if (const StartupFailure failure = FetchDirectory(); failure != StartupFailure::None) return failure;
  window_.SetVersionLabel(QString::fromStdString(VersionLabel(config_.versionMajor, config_.versionMinor)));
  ReadCachedDirectory();
  window_.ShowGroupStations(0);
  window_.SetStatus(StatusChooseStation());
  window_.AddTrayIcon(AppTitle());
  window_.CreateTrayMenu(TrayMenuItems());
  return StartupFailure::None;
}

StartupFailure Program::LoadAudioLibrary() {
  const std::string path = ProgramFile(playback::kAudioLibraryFileName);
  if (!FileExists(path)) {
    messages_.Show(QStringLiteral("BASS.DLL does not exists"), LibraryCaption(), MessageIcon::Error);
    return StartupFailure::AudioLibraryMissing;
  }

  playback::AudioLibrary::LoadResult loaded = playback::AudioLibrary::Load(path);
  switch (loaded.status) {
    case playback::AudioLibrary::Status::Loaded:
      break;
    case playback::AudioLibrary::Status::CannotLoad:
      messages_.Show(QStringLiteral("BASS.DLL is present but cannot be loaded:\n%1")
                         .arg(QString::fromStdString(loaded.detail)),
                     LibraryCaption(), MessageIcon::Error);
      return StartupFailure::AudioLibraryUnloadable;
    case playback::AudioLibrary::Status::MissingFunction:
      messages_.Show(QStringLiteral("BASS.DLL lacks the function %1").arg(QString::fromStdString(loaded.detail)),
                     LibraryCaption(), MessageIcon::Error);
      return StartupFailure::AudioLibraryIncomplete;
  }
  audio_ = std::move(loaded.library);
  const playback::BassApi& bass = audio_->api();

  if (bass.BASS_GetVersion() != BASS_VERSION_REQUIRED) {
    messages_.Show(QStringLiteral("BASS version 2.3.0.3 was not loaded"), LibraryCaption(), MessageIcon::Error);
    return StartupFailure::AudioLibraryVersion;
  }
  if (!bass.BASS_Init(BASS_DEVICE_DEFAULT, kAudioFrequency, 0, nullptr, nullptr)) {
    messages_.Show(QStringLiteral("Error: Can't initialize device"), AppTitle(), MessageIcon::Error);
    return StartupFailure::AudioDevice;
  }
  audioInitialised_ = true;
  window_.AttachAudio(&bass, places_.recordFolder);
  return StartupFailure::None;
}

namespace {

// At least one group and one station that read: what any real directory has, and an HTML page,
// an empty answer or a truncated header never does.
bool ReadsAsDirectory(const std::string& text) {
  const Directory directory = ReadDirectory(text).directory;
  return std::any_of(directory.groups.begin(), directory.groups.end(),
                     [](const clsGroup& group) { return !group.stations.empty(); });
}

}  // namespace

StartupFailure Program::FetchDirectory() {
  downloader_ = std::make_unique<Downloader>();
  const Downloader::Outcome outcome = downloader_->Download(config_.directoryAddress, kDirectoryTimeoutSeconds);
  if (shutDown_) return StartupFailure::ClosedDuringStart;  // the window went while we waited

  const std::string& stationsFile = places_.stationsFile;
  const QByteArray& bytes = downloader_->receivedBytes();
  const std::string text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  const bool downloaded = outcome == Downloader::Outcome::Ok;
  if (downloaded && !ReadsAsDirectory(text)) {
    // A captive portal's sign-in page, an error page sent with 200 OK: not a directory, so the
    // cache stays, as after a failed download.
    qCWarning(lcDirectory) << "the server's answer is not a directory (" << bytes.size() << "bytes ); using the cache";
  } else if (downloaded) {
    downloaded_ = text;
    // Written beside the old file and renamed over it: a crash or a full disk never leaves half a
    // directory. A folder that cannot be written leaves the old cache; this run uses the download.
    QSaveFile file(QString::fromStdString(stationsFile));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
      qCWarning(lcDirectory) << "cannot store the directory in" << stationsFile.c_str() << ":" << file.errorString();
    }
    return StartupFailure::None;
  }
  if (!FileExists(stationsFile)) {
    messages_.Show(QStringLiteral("Невозможно соединиться с сервером!\r\n"
                                  "Возможно, у Вас отсутствует подключение к Интернету.\r\n"
                                  "Повторите попытку позже."),
                   AppTitle(), MessageIcon::None);
    return StartupFailure::NoDirectory;
  }
  return StartupFailure::None;
}

void Program::ReadCachedDirectory() {
  const std::string& stationsFile = places_.stationsFile;
  const std::optional<std::string> bytes = downloaded_ ? downloaded_ : ReadFileBytes(stationsFile);
  if (!bytes) qCWarning(lcDirectory) << "cannot read" << stationsFile.c_str() << "; the directory stays empty";
  DirectoryReadResult read = ReadDirectory(bytes.value_or(std::string()));
  for (const DirectoryProblem& problem : read.problems) {
    qCWarning(lcDirectory).noquote() << QString::fromStdString(kStationsFileName) << "line" << problem.line << ":"
                                << QString::fromStdString(problem.what);
  }
  window_.TakeDirectory(std::move(read.directory));
}

void Program::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (downloader_) downloader_->abandon();  // start-up may be waiting for the directory
  window_.UnloadSmallWindows();
  if (audioInitialised_) {
    audio_->api().BASS_Free();
    window_.AudioReleased();
    audioInitialised_ = false;
  }
}

}  // namespace vornel::core
