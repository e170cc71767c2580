#pragma once

// The program's start-up and shutdown: the main window's load and unload sequences. They drive
// the window through MainWindowHost and speak to the user through MessageBoxes, so the whole
// sequence runs (and is tested) without widgets.

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/data_places.h"
#include "core/directory.h"

namespace vornel::playback {
class AudioLibrary;
struct BassApi;
}  // namespace vornel::playback

namespace vornel::core {

class Downloader;

enum class MessageIcon { None, Error };

// Message boxes with an OK button. Tests answer them through a recording implementation.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void Show(const QString& text, const QString& caption, MessageIcon icon) = 0;
};

struct TrayMenuItem {
  int id = 0;
  QString text;
};

// What the load and unload sequences need of the main window.
class MainWindowHost {
 public:
  virtual ~MainWindowHost() = default;
  virtual void ApplyWindowShape() = 0;
  virtual void LoadSettings() = 0;
  // The initialised audio library, and the folder recordings go into.
  virtual void AttachAudio(const playback::BassApi* api, const std::string& recordFolder) = 0;
  // The library has been released (shutdown): nothing may call it any more.
  virtual void AudioReleased() = 0;
  virtual void SetVolume(int value) = 0;
  virtual void ShowWindow() = 0;
  virtual void SetStatus(const QString& text) = 0;
  virtual void SetVersionLabel(const QString& text) = 0;
  // Takes over the directory: groups, group list, banner picture address and banner link.
  virtual void TakeDirectory(Directory directory) = 0;
  virtual void ShowGroupStations(std::int16_t index) = 0;
  virtual void AddTrayIcon(const QString& tooltip) = 0;
  virtual void CreateTrayMenu(const std::vector<TrayMenuItem>& items) = 0;
  virtual void UnloadSmallWindows() = 0;
};

// Exit statuses of a start-up that ends; 0 is a normal run.
enum class StartupFailure : int {
  None = 0,
  AudioLibraryMissing = 2,
  AudioLibraryUnloadable = 3,
  AudioLibraryIncomplete = 4,
  AudioLibraryVersion = 5,
  AudioDevice = 6,
  NoDirectory = 7,
  // The user closed the window while the directory loaded: the program ends in order.
  ClosedDuringStart = 8,
};

struct StartupConfig {
  std::string programFolder;     // the folder of the executable
  QString directoryAddress;      // server and path of the directory text
  int versionMajor = 1;
  int versionMinor = 0;
};

// Start-up status texts and the tray menu, shared with the window and its tests.
QString StatusLoadingDirectory();  // "Загружается список станций"
QString StatusChooseStation();     // "Выберите станцию"
std::vector<TrayMenuItem> TrayMenuItems();

class Program {
 public:
  Program(MainWindowHost& window, MessageBoxes& messages, StartupConfig config);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs the load sequence. StartupFailure::None leaves the program running; any other value
  // has been reported to the user and is the process's exit status.
  StartupFailure Start();

  // The unload sequence; runs once, later calls do nothing.
  void Shutdown();

 private:
  StartupFailure LoadAudioLibrary();
  StartupFailure FetchDirectory();
  void ReadCachedDirectory();
  std::string ProgramFile(const char* name) const;

  MainWindowHost& window_;
  MessageBoxes& messages_;
  StartupConfig config_;
  DataPlaces places_;  // resolved at the start, from the program folder
  std::unique_ptr<playback::AudioLibrary> audio_;
  std::unique_ptr<Downloader> downloader_;
  std::optional<std::string> downloaded_;  // the directory as it came, when the download worked
  bool audioInitialised_ = false;
  bool shutDown_ = false;
};

}  // namespace vornel::core
