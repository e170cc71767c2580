#include "playback/playback_controller.h"

#include <QLoggingCategory>
#include <QPointer>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/codepage.h"
#include "playback/metadata.h"

namespace vornel::playback {

namespace {

Q_LOGGING_CATEGORY(lcPlayback, "vornel.playback", QtWarningMsg)

constexpr int kStateTickMs = 1000;
constexpr std::chrono::seconds kSteadyAfter{30};

// The status line the server's header lines give: the announced name from "icy-name:" (the first
// line, the status line, never counts), else the station's own name.
QString HeaderStatus(const char* headers, const QString& current, const QString& stationName) {
  QString status = current;
  if (headers == nullptr) return status;
  for (const char* line = headers + std::strlen(headers) + 1;; line += std::strlen(line) + 1) {
    const QString text = QString::fromStdString(platform::Cp1251ToUtf8(line));
    if (text.startsWith(QStringLiteral("icy-name:"))) status = text.mid(9);
    if (status.isEmpty()) status = stationName;
    if (*line == '\0') break;
  }
  return status;
}

}  // namespace

// What the library's threads may touch: the recorder, the generation of the newest start, the
// station name (for a title-less status) and a guarded way back to the controller.
struct PlaybackController::Link {
  Recorder* recorder = nullptr;
  std::atomic<std::uint32_t> generation{0};
  QPointer<PlaybackController> controller;
  std::mutex nameMutex;
  QString stationName;  // guarded by nameMutex
};

// The user value of one stream. Titles are told once each, whether the sync or the read after
// setting it saw them first.
struct PlaybackController::StreamContext {
  std::shared_ptr<Link> link;
  std::uint32_t generation = 0;
  std::mutex titleMutex;
  std::string lastMetadata;  // guarded by titleMutex
  bool told = false;         // guarded by titleMutex

  bool current() const { return link->generation.load() == generation; }

  // The status text for `metadata` when it is a title not told before; the recorder's part
  // happens here, as one change.
  std::optional<QString> takeTitle(const char* metadata) {
    if (metadata == nullptr) return std::nullopt;
    std::lock_guard lock(titleMutex);
    if (told && lastMetadata == metadata) return std::nullopt;
    told = true;
    lastMetadata = metadata;
    const std::optional<std::string> title = StreamTitleOf(CStringToText(metadata));
    if (!title) return std::nullopt;
    QString status = QString::fromStdString(*title);
    if (status.isEmpty()) {
      std::lock_guard nameLock(link->nameMutex);
      status = link->stationName;
    }
    link->recorder->NewTrack(status.toStdString());
    return status;
  }
};

PlaybackController::PlaybackController(const BassApi& bass, Recorder& recorder, QObject* parent)
    : QObject(parent),
      bass_(bass),
      recorder_(recorder),
      clock_([] { return std::chrono::steady_clock::now(); }),
      link_(std::make_shared<Link>()) {
  link_->recorder = &recorder_;
  link_->controller = this;
  pool_.setMaxThreadCount(4);
  pool_.setExpiryTimeout(2000);  // no threads kept waiting while nothing happens
  tmrState_.setObjectName(QStringLiteral("tmrState"));
  tmrState_.setInterval(kStateTickMs);
  connect(&tmrState_, &QTimer::timeout, this, &PlaybackController::onTick);
  reconnectTimer_.setSingleShot(true);
  connect(&reconnectTimer_, &QTimer::timeout, this, [this] { start(Origin::Reconnect); });

  const std::shared_ptr<Link> link = link_;
  recorder_.setFailureHandler([link](Recorder::Failure, const std::string&, std::error_code) {
    if (QPointer<PlaybackController> controller = link->controller) {
      QMetaObject::invokeMethod(
          controller.data(), [controller] { emit controller->recordingFailed(StatusRecordingFailed()); },
          Qt::QueuedConnection);
    }
  });
}

PlaybackController::~PlaybackController() {
  recorder_.setFailureHandler(nullptr);
  link_->generation = ++generation_;
  releaseStream();
  pool_.waitForDone();
}

void PlaybackController::LibraryReleased() {
  // The library ended every stream and connect; the calls still under way return at once.
  reconnectTimer_.stop();
  tmrState_.stop();
  link_->generation = ++generation_;
  pool_.waitForDone();
  chan_ = 0;
  current_.reset();
  setState(State::Stopped);
}

void PlaybackController::setState(State state) { state_ = state; }

void PlaybackController::OnDownloadBlock(const void* buffer, DWORD length, void* user) {
  auto* context = static_cast<StreamContext*>(user);
  if (!context->current()) return;
  context->link->recorder->OnDownloadBlock(static_cast<const std::uint8_t*>(buffer), length);
}

void PlaybackController::OnMetaSync(HSYNC, DWORD, const char* data, void* user) {
  auto* context = static_cast<StreamContext*>(user);
  if (!context->current()) return;
  const std::optional<QString> status = context->takeTitle(data);
  if (!status) return;
  const std::uint32_t generation = context->generation;
  const std::shared_ptr<Link> link = context->link;
  if (QPointer<PlaybackController> controller = link->controller) {
    QMetaObject::invokeMethod(
        controller.data(),
        [controller, link, generation, text = *status] {
          if (!controller || link->generation.load() != generation) return;
          emit controller->statusChanged(text);
          emit controller->titleChanged(text);
        },
        Qt::QueuedConnection);
  }
}

void PlaybackController::Play(StationChoice station, std::int16_t streamIndex) {
  station_ = std::move(station);
  streamIndex_ = streamIndex;
  reconnect_.reset();
  stepDown_.reset();
  steppedDown_ = false;
  start(Origin::User);
}

void PlaybackController::releaseStream() {
  if (chan_ == 0) return;
  const BassApi* bass = &bass_;
  pool_.start([bass, handle = chan_, context = std::move(current_)] {
    bass->BASS_ChannelStop(handle);
    bass->BASS_StreamFree(handle);  // no callback of the stream runs after this
  });
  chan_ = 0;
}

void PlaybackController::start(Origin origin) {
  reconnectTimer_.stop();
  // Whatever connect is still under way is superseded from here on.
  link_->generation = ++generation_;
  // The previous stream is stopped and freed before the next connect begins: both go to the pool
  // in that order within one task.
  const DWORD previous = chan_;
  std::shared_ptr<StreamContext> previousContext = std::move(current_);
  chan_ = 0;

  emit statusChanged(origin == Origin::Reconnect ? StatusReconnecting() : StatusConnecting());
  if (station_.streams.empty()) {
    // Nothing to play there (an empty group or directory, a station without streams).
    if (previous != 0) {
      chan_ = previous;
      current_ = std::move(previousContext);
      releaseStream();
    }
    setState(State::Stopped);
    emit statusChanged(StatusChooseStation());
    emit unavailable();
    return;
  }
  const auto count = static_cast<std::int16_t>(std::min<std::size_t>(station_.streams.size(), INT16_MAX));
  if (streamIndex_ >= count) streamIndex_ = static_cast<std::int16_t>(count - 1);
  if (streamIndex_ < 0) streamIndex_ = 0;
  const StreamChoice& stream = station_.streams[static_cast<std::size_t>(streamIndex_)];
  emit streamChosen(streamIndex_, stream.bitrate);
  emit stationNamed(station_.name);
  emit titleChanged(QString());
  {
    std::lock_guard lock(link_->nameMutex);
    link_->stationName = station_.name;
  }
  if (origin == Origin::Reconnect) {
    recorder_.ContinueAfterReconnect();
  } else {
    recorder_.NewRecordWriter();
  }
  setState(origin == Origin::Reconnect ? State::Reconnecting : State::Connecting);

  auto context = std::make_shared<StreamContext>();
  context->link = link_;
  context->generation = generation_;
  const BassApi* bass = &bass_;
  QPointer<PlaybackController> self = this;
  pool_.start(
      [bass, url = stream.url, context, previous, previousContext = std::move(previousContext), self] {
        if (previous != 0) {
          bass->BASS_ChannelStop(previous);
          bass->BASS_StreamFree(previous);
        }
        const DWORD handle = context->current()
                                 ? bass->BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAMFLAG_BLOCKS,
                                                              &OnDownloadBlock, context.get())
                                 : 0;
        if (handle == 0 && !context->current()) return;
        // Back on the controller's thread; dropped there when the controller is gone (the library's
        // release then frees the stream).
        QMetaObject::invokeMethod(
            self.data(),
            [self, context, handle] {
              if (self) self->connectFinished(context, handle);
            },
            Qt::QueuedConnection);
      });
}

void PlaybackController::connectFinished(const std::shared_ptr<StreamContext>& context, DWORD handle) {
  if (!context->current()) {
    // A newer choice came meanwhile: this stream never plays.
    if (handle != 0) {
      const BassApi* bass = &bass_;
      pool_.start([bass, handle, context] {
        bass->BASS_ChannelStop(handle);
        bass->BASS_StreamFree(handle);
      });
    }
    return;
  }
  if (handle == 0) {
    if (state_ == State::Reconnecting) {
      scheduleReconnect();
      return;
    }
    setState(State::Stopped);
    emit statusChanged(StatusChooseStation());
    emit unavailable();
    return;
  }
  chan_ = handle;
  current_ = context;
  const bool reconnected = state_ == State::Reconnecting;

  emit statusChanged(HeaderStatus(bass_.BASS_ChannelGetTags(chan_, BASS_TAGS_HEADERS),
                                  reconnected ? station_.name : StatusConnecting(), station_.name));
  showTitle(*context, bass_.BASS_ChannelGetTags(chan_, BASS_TAGS_META));
  SetMetaSync(bass_, chan_, BASS_SYNC_METADATA, 0, &OnMetaSync, context.get());
  // A title that came between the read and the sync is read now; one the sync told is not told twice.
  showTitle(*context, bass_.BASS_ChannelGetTags(chan_, BASS_TAGS_META));
  if (!bass_.BASS_ChannelPlay(chan_, 0)) {
    // It ended already: a drop like any other.
    qCInfo(lcPlayback) << "the stream ended before it played";
  }
  setState(State::Playing);
  wasStalled_ = false;
  emit lampChanged(true);
  tmrState_.start();
  if (reconnected) qCInfo(lcPlayback) << "reconnected to" << station_.name;
  playingSince_ = clock_();
}

void PlaybackController::showTitle(StreamContext& context, const char* metadata) {
  if (const std::optional<QString> status = context.takeTitle(metadata)) {
    emit statusChanged(*status);
    emit titleChanged(*status);
  }
}

void PlaybackController::Stop() {
  emit lampChanged(false);
  reconnectTimer_.stop();
  reconnect_.reset();
  // A connect under way is abandoned: it would start playing after the stop.
  link_->generation = ++generation_;
  const bool waiting = state_ == State::Reconnecting || state_ == State::Connecting;
  setState(State::Stopped);
  if (chan_ != 0) {
    const BassApi* bass = &bass_;
    pool_.start(
        [bass, handle = chan_] { bass->BASS_ChannelStop(handle); });  // not freed: chan keeps its value
  }
  emit statusChanged(StatusStopped());
  recorder_.CloseFile();
  if (waiting) tmrState_.stop();
}

void PlaybackController::onTick() {
  const DWORD active = chan_ != 0 ? bass_.BASS_ChannelIsActive(chan_) : BASS_STATE_STOPPED;
  if (active == BASS_STATE_STOPPED) {
    if (state_ == State::Playing) {
      dropped();
      return;
    }
    if (state_ != State::Reconnecting) emit lampChanged(false);
    tmrState_.stop();
    return;
  }
  // Only a stream that stays up ends the tries: one that drops again at once goes on backing off.
  if (reconnect_.active() && clock_() - playingSince_ >= kSteadyAfter) reconnect_.reset();
  const bool stalled = active == BASS_STATE_STALLED;
  if (stalled && !wasStalled_ && state_ == State::Playing) noteTrouble();
  wasStalled_ = stalled;
}

void PlaybackController::dropped() {
  qCInfo(lcPlayback) << "the stream of" << station_.name << "ended by itself; reconnecting";
  tmrState_.stop();
  reconnect_.begin(clock_());
  setState(State::Reconnecting);
  emit statusChanged(StatusReconnecting());
  noteTrouble();
  scheduleReconnect();
}

void PlaybackController::scheduleReconnect() {
  const std::optional<std::chrono::milliseconds> delay = reconnect_.nextDelay(clock_());
  if (!delay) {
    qCWarning(lcPlayback) << "gave up reconnecting to" << station_.name << "after"
                          << ReconnectSchedule::kGiveUpAfter.count() << "minutes";
    setState(State::Stopped);
    recorder_.CloseFile();
    emit lampChanged(false);
    emit statusChanged(StatusChooseStation());
    return;
  }
  reconnectTimer_.start(static_cast<int>(delay->count()));
}

void PlaybackController::noteTrouble() {
  if (!stepDown_.troubled(clock_()) || steppedDown_) return;
  // The stream with the highest bit rate below the one playing.
  const std::int16_t now = station_.streams[static_cast<std::size_t>(streamIndex_)].bitrate;
  std::optional<std::size_t> lower;
  for (std::size_t i = 0; i < station_.streams.size(); ++i) {
    const std::int16_t bitrate = station_.streams[i].bitrate;
    if (bitrate < now && (!lower || bitrate > station_.streams[*lower].bitrate)) lower = i;
  }
  if (!lower) return;
  steppedDown_ = true;
  streamIndex_ = static_cast<std::int16_t>(*lower);
  qCInfo(lcPlayback) << "stepping down to" << station_.streams[*lower].bitrate << "kbit/s on"
                     << station_.name;
  if (state_ == State::Playing) {
    // Stalling while it plays: the lower rate takes over now.
    reconnect_.begin(clock_());
    start(Origin::Reconnect);
  }
}

}  // namespace vornel::playback
