#pragma once

// A station's life from the user's choice to its end: connect, play, stop, titles, the play
// lamp, the hand-over to the recorder, and the reconnects after a drop. No widgets: the window
// shows what this reports and forwards its clicks here. Everything here runs on the thread the
// controller lives on; the audio library's blocking calls (connect, stop, free) run on a pool of
// its own, and its callbacks come back by queued calls.

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/audio_library.h"
#include "playback/reconnect_policy.h"
#include "playback/recorder.h"

namespace vornel::playback {

// One stream of a station: its address in the library's code page and its bit rate.
struct StreamChoice {
  std::string url;
  std::int16_t bitrate = 0;
};

struct StationChoice {
  QString name;
  std::vector<StreamChoice> streams;
};

class PlaybackController : public QObject {
  Q_OBJECT

 public:
  enum class State { Stopped, Connecting, Playing, Reconnecting };

  static QString StatusConnecting() { return QStringLiteral("Подключаемся..."); }
  static QString StatusReconnecting() { return QStringLiteral("Переподключение..."); }
  static QString StatusChooseStation() { return QStringLiteral("Выберите станцию"); }
  static QString StatusStopped() { return QStringLiteral("Выберите радиостанцию"); }
  static QString StatusRecordingFailed() {
    return QStringLiteral("Запись остановлена: не удаётся записать файл");
  }

  PlaybackController(const BassApi& bass, Recorder& recorder, QObject* parent = nullptr);
  // Waits for the library calls under way; the library must still be loaded.
  ~PlaybackController() override;

  // Tests run the reconnect waits on a clock of their own.
  void setClock(std::function<SteadyTime()> clock) { clock_ = std::move(clock); }

  // The user chose stream `streamIndex` of `station` (a station with fewer streams gets its last).
  void Play(StationChoice station, std::int16_t streamIndex);
  // The user stopped: the stream stops (it is freed by the next play), the recording file closes.
  void Stop();
  // The library was released: its calls under way are awaited, its handles forgotten.
  void LibraryReleased();

  DWORD channel() const { return chan_; }
  State state() const { return state_; }
  std::int16_t streamIndex() const { return streamIndex_; }
  // The state timer; runs only while a stream plays.
  const QTimer& stateTimer() const { return tmrState_; }

 signals:
  void statusChanged(const QString& text);
  void stationNamed(const QString& name);
  // The stream's current title (also told through statusChanged); empty when a new stream starts.
  void titleChanged(const QString& title);
  // The stream to play; also when a drop made the controller step down to a lower bit rate.
  void streamChosen(std::int16_t index, std::int16_t bitrate);
  void lampChanged(bool lit);
  // The station could not be reached.
  void unavailable();
  // Recording had to end (a full disk, a folder gone or read-only); the lamp goes dim.
  void recordingFailed(const QString& text);

 private:
  struct Link;
  struct StreamContext;
  enum class Origin { User, Reconnect };

  void start(Origin origin);
  void connectFinished(const std::shared_ptr<StreamContext>& context, DWORD handle);
  // Hands the current stream to the pool to be stopped and freed, with its context.
  void releaseStream();
  void showTitle(StreamContext& context, const char* metadata);
  void onTick();
  void dropped();
  void scheduleReconnect();
  void noteTrouble();
  void setState(State state);

  static void OnDownloadBlock(const void* buffer, DWORD length, void* user);
  static void OnMetaSync(HSYNC sync, DWORD channel, const char* data, void* user);

  const BassApi& bass_;
  Recorder& recorder_;
  std::function<SteadyTime()> clock_;
  std::shared_ptr<Link> link_;  // what the library's threads reach
  QThreadPool pool_;            // the library's blocking calls
  QTimer tmrState_;
  QTimer reconnectTimer_;

  StationChoice station_;
  std::int16_t streamIndex_ = 0;
  DWORD chan_ = 0;
  std::shared_ptr<StreamContext> current_;  // of chan_; kept until the stream is freed
  std::uint32_t generation_ = 0;            // counts starts and stops; a newer one supersedes
  State state_ = State::Stopped;
  SteadyTime playingSince_{};  // when chan_ began to play
  bool wasStalled_ = false;
  bool steppedDown_ = false;  // since the user's last choice
  ReconnectSchedule reconnect_;
  StepDownPolicy stepDown_;
};

}  // namespace vornel::playback
