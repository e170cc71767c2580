// The main window's side of playback: it forwards the play, stop, station and bit-rate choices to
// the playback controller and shows what the controller reports (status line, station name,
// badge, play lamp, the unavailable-station message, the record lamp).

#include <QLabel>
#include <QListWidget>

#include "platform/codepage.h"
#include "playback/playback_controller.h"
#include "skin/uc_slider.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/msg_na.h"
#include "ui/selection.h"
#include "ui/tray_icons.h"

namespace vornel::ui {

namespace {

constexpr std::int16_t kLit = 0;
constexpr std::int16_t kDim = 6;

}  // namespace

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
  connect(sliderVolume, &skin::ucSlider::Change, this, [this] {
    if (bass_ != nullptr)
      bass_->BASS_SetConfig(BASS_CONFIG_STREAM_VOLUME, static_cast<DWORD>(sliderVolume->value()));
  });
}

void frmVornel::AttachAudio(const playback::BassApi* api, const std::string& recordFolder) {
  using playback::PlaybackController;
  bass_ = api;
  recorder_ = std::make_unique<playback::Recorder>(recordFolder);
  controller_ = std::make_unique<PlaybackController>(*api, *recorder_);
  PlaybackController* controller = controller_.get();
  connect(controller, &PlaybackController::statusChanged, this, &frmVornel::ShowStatus);
  connect(controller, &PlaybackController::stationNamed, lblRadio, &QLabel::setText);
  connect(controller, &PlaybackController::streamChosen, this,
          [this](std::int16_t index, std::int16_t bitrate) {
            cur_stream_id = index;
            ShowBadge(bitrate);
          });
  connect(controller, &PlaybackController::lampChanged, this,
          [this](bool lit) { btnPlay->setGrayscale(lit ? kLit : kDim); });
  connect(controller, &PlaybackController::unavailable, this, [this] {
    if (!msgNA_) msgNA_ = new msgNA(this);
    msgNA_->ShowUnavailable();
  });
  connect(controller, &PlaybackController::recordingFailed, this, [this](const QString& text) {
    btnRec->setGrayscale(kDim);
    ShowStatus(text);
  });
  wireOutside();
}

void frmVornel::AudioReleased() {
  if (controller_) controller_->LibraryReleased();
  bass_ = nullptr;
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
  playback::StationChoice choice;
  if (const core::clsStation* station = StationAt(groups, cur_group_id, cur_station_id)) {
    choice.name = QString::fromStdString(station->name);
    for (const core::clsStream& stream : station->streams) {
      choice.streams.push_back({platform::Utf8ToCp1251(stream.url), stream.bitrate});
    }
  }
  controller_->Play(std::move(choice), cur_stream_id);
}

void frmVornel::StopPlayback() {
  if (controller_ == nullptr || bass_ == nullptr) {
    btnPlay->setGrayscale(kDim);
    return;
  }
  controller_->Stop();
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
