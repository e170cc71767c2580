#pragma once

// The main window: a frameless window drawn from its skin picture, holding the player's state
// for the whole run and every control of the skin. Start-up and shutdown drive it through
// core::MainWindowHost.

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "bass.h"
#include "core/directory.h"
#include "core/startup.h"
#include "playback/playback_controller.h"
#include "playback/recorder.h"

class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QRadioButton;
class QTimer;

namespace vornel::skin {
class AsyncBitmap;
class ucSlider;
}

namespace vornel::ui {

class ImageButton;
class Shell;
class TrayIcons;
class WindowDrag;
class dlgTray;
class msgNA;

class frmVornel : public QWidget, public core::MainWindowHost {
  Q_OBJECT

 public:
  static constexpr int kWidth = 270;
  static constexpr int kHeight = 370;

  explicit frmVornel(QWidget* parent = nullptr);
  ~frmVornel() override;

  // core::MainWindowHost
  void ApplyWindowShape() override;
  void LoadSettings() override;
  void AttachAudio(const playback::BassApi* api, const std::string& programFolder) override;
  void AudioReleased() override;
  void SetVolume(int value) override;
  void ShowWindow() override;
  void SetStatus(const QString& text) override;
  void SetVersionLabel(const QString& text) override;
  void TakeDirectory(core::Directory directory) override;
  void ShowGroupStations(std::int16_t index) override;
  void AddTrayIcon(const QString& tooltip) override;
  void CreateTrayMenu(const std::vector<core::TrayMenuItem>& items) override;
  void UnloadSmallWindows() override;

  // The notification-area icons, made on first use.
  TrayIcons& trayIcon();
  QMenu* trayMenu() const { return TrayMenu; }
  const std::vector<core::clsGroup>& directoryGroups() const { return groups; }
  const QString& bannerUrl() const { return banner_url; }
  const QString& bannerPictureUrl() const;
  std::int32_t defaultBitrate() const { return default_bitrate; }
  // The tray notice, made on first use (the settings touch it at start-up).
  dlgTray& trayNotice();
  // Where links go; tests put their own shell here.
  void setShell(std::unique_ptr<Shell> shell);
  DWORD channel() const { return controller_ ? controller_->channel() : 0; }
  playback::PlaybackController* playback() const { return controller_.get(); }
  std::int16_t currentStream() const { return cur_stream_id; }

  // The play and stop actions (play button, station list, bit-rate button, tray menu).
  void StartPlayback();
  void StopPlayback();
  // The status line and, after every change, the tray tooltip.
  void UpdateTooltip(const QString& tip);
  // Back from minimised to normal size; nothing when not minimised.
  void RestoreIfMinimised();
  // Another start of the program asked for the window: out of the tray, to the front.
  void ShowFromElsewhere();
  // Plays the next (+1) or previous (-1) station of the current group, wrapping around: media keys
  // and the desktop's media controls.
  void StepStation(int direction);
  // A station to play, and another one in the current group to step to.
  bool HasStation() const;
  bool CanStepStation() const;
  int volume() const;
  // In the notification area or minimised: what happens now goes unseen.
  bool IsOutOfSight() const;
  // A mouse message the notification-area icon reported: a click shows the window, a request
  // for the menu runs it.
  void OnTrayNotify(int message);
  // A command of the tray menu: 1 show the window, 2 play or stop, 3 close the program.
  void OnTrayCommand(int command);

 signals:
  // The window is being unloaded; the shutdown sequence runs on this.
  void unloading();
  // For the desktop: the play lamp, the title (empty until the stream tells one) of the station
  // playing, the volume, and a directory read.
  void playingChanged(bool playing);
  void trackChanged(const QString& title, const QString& station);
  void volumeChanged(int percent);
  void stationsChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void wirePlayback();
  void ShowStatus(const QString& text);
  void ShowBadge(std::int16_t bitrate);
  void OnGroupChosen(int row);
  void OnStationChosen(int row);
  void OnBitrateClicked();
  void OnOptionBitrate(std::int32_t bitrate);
  void wireChrome();
  void wireKeyboard();
  void wireOutside();
  void StepVolume(int by);
  // Enter or Return in a list takes its current entry; true when the key was taken.
  bool listKeyPressed(QObject* watched, QEvent* event);
  void OnMinimize();
  void buildOptionsPanel();
  void wireButtonLooks();
  ImageButton* makeButton(const char* name, const QRect& place, const QString& picture);
  QLabel* makeLabel(const char* name, QWidget* parent, const QRect& place, const QString& text);

  // Player state; the names are the ones the rest of the program uses.
  std::int32_t default_bitrate = 64;
  std::int16_t sel_group_id = 0;
  std::int16_t cur_group_id = 0;
  std::int16_t cur_station_id = 0;
  std::int16_t cur_stream_id = 0;
  std::vector<core::clsGroup> groups;
  QString banner_url;
  QString playingStation_;  // the name of the station last started
  QMenu* TrayMenu = nullptr;
  std::unique_ptr<TrayIcons> trayIcons_;
  const playback::BassApi* bass_ = nullptr;  // null until the audio library is initialised
  std::unique_ptr<playback::Recorder> recorder_;  // made with the library
  std::unique_ptr<playback::PlaybackController> controller_;  // made with the library; goes before the recorder
  msgNA* msgNA_ = nullptr;                        // made on first use
  dlgTray* dlgTray_ = nullptr;                    // made on first use
  std::unique_ptr<Shell> shell_;
  WindowDrag* drag_ = nullptr;

  QImage skinPicture_;  // the skin picture as drawn, until start-up has shaped the window by it
  QPixmap skin_;

  ImageButton* btnMenu = nullptr;
  QLabel* lblRadio = nullptr;
  ImageButton* btnMinimize = nullptr;
  ImageButton* btnClose = nullptr;
  QLabel* lblStatus = nullptr;
  ImageButton* btnPlay = nullptr;
  ImageButton* btnStop = nullptr;
  ImageButton* btnRec = nullptr;
  ImageButton* btnBitrate = nullptr;
  QListWidget* listGroups = nullptr;
  QListWidget* listStations = nullptr;
  QFrame* frmOptions = nullptr;
  QLabel* lblVersion = nullptr;
  std::map<int, QRadioButton*> optBitrate;  // by bit rate
  ImageButton* btnOptionsOK = nullptr;
  QLabel* imgBanner = nullptr;
  skin::AsyncBitmap* picBanner = nullptr;  // loads the banner picture; never shown itself
  std::map<int, QLabel*> imgBitrate;  // hidden badge pictures, by bit rate
  skin::ucSlider* sliderVolume = nullptr;
};

}  // namespace vornel::ui
