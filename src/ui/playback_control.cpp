// The main window's playback: starting and stopping streams, the play button's lamp, titles in
// the status line, and the hand-over to the recorder. The library's callbacks arrive on its own
// threads; they reach the recorder directly and the window only through queued calls.

#include <QFutureWatcher>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <QThreadPool>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/codepage.h"
#include "playback/audio_library.h"
#include "playback/metadata.h"
#include "skin/uc_slider.h"
#include "ui/frm_vornel.h"
#include "ui/playback_link.h"
#include "ui/image_button.h"
#include "ui/msg_na.h"
#include "ui/selection.h"
#include "ui/tray_icons.h"

namespace vornel::ui {

namespace {

constexpr std::int16_t kLit = 0;
constexpr std::int16_t kDim = 6;

QString StatusConnecting() { return QStringLiteral("Подключаемся..."); }
QString StatusStopped() { return QStringLiteral("Выберите радиостанцию"); }

}  // namespace

void frmVornel::OnDownloadBlock(const void* buffer, DWORD length, void* user) {
  auto* context = static_cast<StreamContext*>(user);
  if (!context->current()) return;
  context->link->recorder->OnDownloadBlock(static_cast<const std::uint8_t*>(buffer), length);
}

void frmVornel::OnMetaSync(HSYNC, DWORD, const char* data, void* user) {
  auto* context = static_cast<StreamContext*>(user);
  if (!context->current()) return;
  const std::optional<std::string> title = playback::StreamTitleOf(playback::CStringToText(data));
  if (!title) return;
  QString status = QString::fromStdString(*title);
  if (status.isEmpty()) {
    std::lock_guard lock(context->link->nameMutex);
    status = context->link->stationName;
  }
  // The recorder's part happens here, as one change; the status line on the window's thread.
  context->link->recorder->NewTrack(status.toStdString());
  const std::uint32_t generation = context->generation;
  const std::shared_ptr<PlaybackLink> link = context->link;
  if (QPointer<frmVornel> window = link->window) {
    QMetaObject::invokeMethod(
        window.data(),
        [window, link, generation, status] {
          if (window && link->generation.load() == generation) window->ShowStatus(status);
        },
        Qt::QueuedConnection);
  }
}

void frmVornel::wirePlayback() {
  connect(btnPlay, &ImageButton::Click, this, &frmVornel::StartPlayback);
  connect(btnStop, &ImageButton::Click, this, &frmVornel::StopPlayback);
  connect(btnBitrate, &ImageButton::Click, this, &frmVornel::OnBitrateClicked);
  connect(btnRec, &ImageButton::Click, this, [this] {
    if (!recorder_) return;
    btnRec->setGrayscale(recorder_->ToggleRecording() ? kLit : kDim);
  });
  connect(listGroups, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { OnGroupChosen(listGroups->row(item)); });
  connect(listStations, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { OnStationChosen(listStations->row(item)); });
  connect(tmrState, &QTimer::timeout, this, &frmVornel::OnStateTick);
  connect(sliderVolume, &skin::ucSlider::Change, this, [this] {
    if (bass_ != nullptr)
      bass_->BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, static_cast<DWORD>(sliderVolume->value()));
  });
}

void frmVornel::AttachAudio(const playback::BassApi* api, const std::string& programFolder) {
  bass_ = api;
  recorder_ = std::make_unique<playback::Recorder>(programFolder);
  link_ = std::make_shared<PlaybackLink>();
  link_->recorder = recorder_.get();
  link_->window = this;
}

void frmVornel::AudioReleased() {
  // The library has ended every stream and every connect; wait for the connect calls to return.
  QThreadPool::globalInstance()->waitForDone();
  bass_ = nullptr;
  contexts_.clear();
}

void frmVornel::UpdateTooltip(const QString& tip) {
  if (!trayIcons_) return;
  if (TrayIcon* icon = trayIcons_->IconAt(1)) icon->ModifyIcon(windowIcon(), tip);
}

void frmVornel::ShowStatus(const QString& text) {
  lblStatus->setText(text);
  if (recorder_) recorder_->SetStatusText(text.toStdString());
  UpdateTooltip(text);
}

void frmVornel::FreeStream(DWORD handle) {
  if (handle == 0 || bass_ == nullptr) return;
  bass_->BASS_ChannelStop(handle);
  bass_->BASS_StreamFree(handle);
  contexts_.erase(handle);  // no callback of the stream runs any more
}

void frmVornel::ShowBadge(std::int16_t bitrate) {
  const auto badge = imgBitrate.find(bitrate);
  if (badge != imgBitrate.end()) {
    btnBitrate->setPictureFrom(*badge->second);
  } else {
    btnBitrate->setPicture(QImage());  // no badge for this rate
  }
}

void frmVornel::StartPlayback() {
  if (bass_ == nullptr) return;
  FreeStream(chan);
  chan = 0;
  // Whatever connect is still under way is superseded from here on.
  const std::uint32_t generation = ++generation_;
  link_->generation = generation;

  ShowStatus(StatusConnecting());
  const core::clsStation* station = StationAt(groups, cur_group_id, cur_station_id);
  if (station == nullptr || station->streams.empty()) {
    // Nothing to play there (an empty group or directory, a station without streams).
    ShowStatus(core::StatusChooseStation());
    if (!msgNA_) msgNA_ = new msgNA(this);
    msgNA_->ShowUnavailable();
    return;
  }
  cur_stream_id = ClampStreamIndex(cur_stream_id, station->streams.size());
  const core::clsStream& stream = station->streams[static_cast<std::size_t>(cur_stream_id)];
  ShowBadge(stream.bitrate);
  lblRadio->setText(QString::fromStdString(station->name));
  {
    std::lock_guard lock(link_->nameMutex);
    link_->stationName = lblRadio->text();
  }
  recorder_->NewRecordWriter();

  // The connect blocks, so it runs on a pool thread; the window stays live meanwhile and the
  // remaining steps run in order when it returns.
  auto context = std::make_unique<StreamContext>();
  context->link = link_;
  context->generation = generation;
  StreamContext* raw = context.release();
  const std::string url = platform::Utf8ToCp1251(stream.url);
  const playback::BassApi* bass = bass_;
  auto* watcher = new QFutureWatcher<DWORD>(this);
  connect(watcher, &QFutureWatcher<DWORD>::finished, this, [this, watcher, raw] {
    watcher->deleteLater();
    ConnectFinished(raw, watcher->result());
  });
  watcher->setFuture(QtConcurrent::run([bass, url, raw]() -> DWORD {
    return bass->BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAMFLAG_BLOCKS, &frmVornel::OnDownloadBlock, raw);
  }));
}

void frmVornel::ConnectFinished(StreamContext* raw, DWORD handle) {
  std::unique_ptr<StreamContext> context(raw);
  if (bass_ == nullptr) return;
  if (!context->current()) {
    // A newer choice came meanwhile: this stream never plays.
    if (handle != 0) {
      bass_->BASS_ChannelStop(handle);
      bass_->BASS_StreamFree(handle);
    }
    return;
  }
  chan = handle;
  if (chan == 0) {
    ShowStatus(core::StatusChooseStation());
    if (!msgNA_) msgNA_ = new msgNA(this);
    msgNA_->ShowUnavailable();
    return;
  }
  StreamContext* user = context.get();
  contexts_[chan] = std::move(context);

  // Server header lines: the station's announced name; the first line is the status line.
  if (const char* headers = bass_->BASS_ChannelGetTags(chan, BASS_TAGS_HEADERS)) {
    const char* line = headers + std::strlen(headers) + 1;
    for (;;) {
      const QString text = QString::fromStdString(platform::Cp1251ToUtf8(line));
      if (text.startsWith(QStringLiteral("icy-name:"))) lblStatus->setText(text.mid(9));
      if (lblStatus->text().isEmpty()) lblStatus->setText(lblRadio->text());
      ShowStatus(lblStatus->text());
      if (*line == '\0') break;
      line += std::strlen(line) + 1;
    }
  }
  HandleMetadata(bass_->BASS_ChannelGetTags(chan, BASS_TAGS_META));
  playback::SetMetaSync(*bass_, chan, BASS_SYNC_METADATA, 0, &frmVornel::OnMetaSync, user);
  bass_->BASS_ChannelPlay(chan, 0);
  btnPlay->setGrayscale(kLit);
  tmrState->start();
}

void frmVornel::HandleMetadata(const char* address) {
  if (address == nullptr) return;
  const std::optional<std::string> title = playback::StreamTitleOf(playback::CStringToText(address));
  if (!title) return;
  QString status = QString::fromStdString(*title);
  if (status.isEmpty()) status = lblRadio->text();
  recorder_->NewTrack(status.toStdString());
  ShowStatus(status);
}

void frmVornel::StopPlayback() {
  btnPlay->setGrayscale(kDim);
  if (bass_ == nullptr) return;
  // A connect under way is abandoned: it would start playing after the stop.
  link_->generation = ++generation_;
  bass_->BASS_ChannelStop(chan);
  ShowStatus(StatusStopped());
}

void frmVornel::OnStateTick() {
  if (bass_ == nullptr || bass_->BASS_ChannelIsActive(chan) == BASS_STATE_STOPPED) {
    btnPlay->setGrayscale(kDim);
    tmrState->stop();
  }
}

void frmVornel::OnGroupChosen(int row) {
  if (row < 0) return;
  sel_group_id = static_cast<std::int16_t>(row);
  ShowGroupStations(sel_group_id);
}

void frmVornel::OnStationChosen(int row) {
  if (row < 0) return;
  const core::clsStation* station = StationAt(groups, sel_group_id, static_cast<std::int16_t>(row));
  cur_stream_id = station != nullptr ? ChooseStreamIndex(station->streams, default_bitrate) : 0;
  cur_group_id = sel_group_id;
  cur_station_id = static_cast<std::int16_t>(row);
  StartPlayback();
}

void frmVornel::OnBitrateClicked() {
  btnPlay->setGrayscale(kDim);
  const core::clsStation* station = StationAt(groups, cur_group_id, cur_station_id);
  if (station == nullptr || station->streams.size() <= 1) return;
  cur_stream_id = NextStreamIndex(cur_stream_id, station->streams.size());
  StartPlayback();
}

}  // namespace vornel::ui
