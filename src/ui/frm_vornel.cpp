#include "ui/frm_vornel.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QRadioButton>
#include <QTimer>

#include "playback/audio_library.h"
#include "skin/async_bitmap.h"
#include "skin/property_bag.h"
#include "skin/uc_slider.h"
#include "ui/dlg_tray.h"
#include "ui/image_button.h"
#include "ui/msg_na.h"
#include "ui/registry.h"
#include "ui/shell.h"
#include "ui/skin_style.h"
#include "ui/tray_icons.h"
#include "ui/window_drag.h"

namespace vornel::ui {

namespace {

// Grey-scale codes and opacities the looks use.
constexpr std::int16_t kColour = 0;
constexpr std::int16_t kGreyMenu = 3;
constexpr std::int16_t kGrey = 6;
constexpr std::int32_t kInvisible = 0;
constexpr std::int32_t kPressed = 90;
constexpr std::int32_t kOpaque = 100;

constexpr int kBadgeBitrates[] = {32, 48, 64, 96, 128, 192};
constexpr int kOptionBitrates[] = {48, 64, 96, 128};
constexpr std::int32_t kDefaultBitrate = 64;

// The stored design of the volume slider: horizontal, a picture rail, 0..100 at 100, no value
// tip. Its back colour is the trough the skin draws under it, so the slider's edges do not show.
skin::PropertyBag SliderVolumeDesign() {
  skin::PropertyBag design;
  design.WriteProperty(QStringLiteral("backcolor"), 0x00231E1Bu, skin::ucSlider::kButtonFace);
  design.WriteProperty(QStringLiteral("sliderimage"), SkinPictureToDraw(QStringLiteral("slider_knob.png")), QImage());
  design.WriteProperty(QStringLiteral("orientation"), int{skin::OrientationHorizontal}, int{skin::OrientationVertical});
  design.WriteProperty(QStringLiteral("railimage"), SkinPictureToDraw(QStringLiteral("slider_rail.png")), QImage());
  design.WriteProperty(QStringLiteral("railstyle"), int{skin::RailPicture}, int{skin::RailSunken});
  design.WriteProperty(QStringLiteral("showvaluetip"), false, true);
  design.WriteProperty(QStringLiteral("max"), 100, 10);
  design.WriteProperty(QStringLiteral("value"), 100, 0);
  return design;
}

}  // namespace

frmVornel::frmVornel(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmVornel"));
  setWindowTitle(QStringLiteral("Vornel"));
  setWindowIcon(AppIcon());
  setFixedSize(kWidth, kHeight);
  skinPicture_ = SkinPicture(QStringLiteral("main.png"));
  skin_ = SkinBackground(SkinPictureToDraw(QStringLiteral("main.png")));
  buildControls();
  buildOptionsPanel();
  wireButtonLooks();
  wirePlayback();
  wireChrome();
  wireKeyboard();
}

frmVornel::~frmVornel() = default;

ImageButton* frmVornel::makeButton(const char* name, const QRect& place, const QString& picture) {
  auto* button = new ImageButton(this);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(place);
  button->setPicture(SkinPictureToDraw(picture));
  return button;
}

QLabel* frmVornel::makeLabel(const char* name, QWidget* parent, const QRect& place, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(place);
  return label;
}

void frmVornel::buildControls() {
  btnMenu = makeButton("btnMenu", {9, 4, 16, 16}, QStringLiteral("btn_menu.png"));
  lblRadio = makeLabel("lblRadio", this, {32, 6, 185, 17}, QStringLiteral("Vornel"));
  btnMinimize = makeButton("btnMinimize", {224, 5, 16, 16}, QStringLiteral("btn_minimize.png"));
  btnClose = makeButton("btnClose", {246, 5, 16, 16}, QStringLiteral("btn_close.png"));
  lblStatus = makeLabel("lblStatus", this, {8, 40, 257, 17}, QStringLiteral("Выберите радиостанцию."));
  btnPlay = makeButton("btnPlay", {8, 71, 42, 20}, QStringLiteral("btn_play.png"));
  btnStop = makeButton("btnStop", {50, 71, 40, 20}, QStringLiteral("btn_stop.png"));
  btnRec = makeButton("btnRec", {90, 71, 42, 20}, QStringLiteral("btn_rec.png"));
  btnBitrate = makeButton("btnBitrate", {139, 71, 38, 20}, QString());
  StyleTitleLabel(*lblRadio);
  StyleStatusLabel(*lblStatus);

  // Design values of the buttons: close and minimise unseen until pointed at, the menu button
  // in its own grey, the rest grey over a drop shadow.
  btnClose->setOpacity(kInvisible);
  btnMinimize->setOpacity(kInvisible);
  btnMenu->setGrayscale(2);
  for (ImageButton* button : {btnPlay, btnStop, btnRec, btnBitrate}) {
    button->setGrayscale(5);
    button->setShadow(4, -4, -4);
  }

  listGroups = new QListWidget(this);
  listGroups->setObjectName(QStringLiteral("listGroups"));
  listGroups->setGeometry(0, 99, 105, 171);
  listStations = new QListWidget(this);
  listStations->setObjectName(QStringLiteral("listStations"));
  listStations->setGeometry(104, 99, 166, 171);
  for (QListWidget* list : {listGroups, listStations}) StyleListBox(*list);

  imgBanner = makeLabel("imgBanner", this, {0, 269, 270, 101}, QString());
  imgBanner->setAlignment(Qt::AlignCenter);
  picBanner = new skin::AsyncBitmap(this);
  picBanner->setObjectName(QStringLiteral("picBanner"));
  picBanner->setGeometry(0, 269, 25, 22);
  picBanner->hide();
  connect(picBanner, &skin::AsyncBitmap::DownloadComplete, this, [this] {
    // A banner wider than its place is shown whole, scaled down; a smaller one centred.
    const QPixmap picture = picBanner->Picture();
    imgBanner->setPixmap(picture.width() > imgBanner->width() || picture.height() > imgBanner->height()
                             ? picture.scaled(imgBanner->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             : picture);
  });

  for (int bitrate : kBadgeBitrates) {
    QLabel* badge = makeLabel("imgBitrate", this, {0, 0, 38, 20}, QString());
    badge->setObjectName(QStringLiteral("imgBitrate_%1").arg(bitrate));
    badge->setPixmap(QPixmap::fromImage(SkinPictureToDraw(QStringLiteral("badge_%1.png").arg(bitrate))));
    badge->hide();
    imgBitrate[bitrate] = badge;
  }

  sliderVolume = new skin::ucSlider(this);
  sliderVolume->setObjectName(QStringLiteral("sliderVolume"));
  sliderVolume->ReadProperties(SliderVolumeDesign());
  sliderVolume->setGeometry(201, 77, 44, 10);
  sliderVolume->Layout();
}

void frmVornel::buildOptionsPanel() {
  frmOptions = new QFrame(this);
  frmOptions->setObjectName(QStringLiteral("frmOptions"));
  frmOptions->setGeometry(1, 100, 268, 169);
  StyleOptionsPanel(*frmOptions);
  frmOptions->hide();

  lblVersion = makeLabel("lblVersion", frmOptions, {1, 8, 265, 17}, QString());
  lblVersion->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

  // Start-up options the player does not offer (yet): kept hidden and clear.
  const struct {
    const char* name;
    const char* caption;
    QRect place;
  } checks[] = {{"chkAutoStart", "Запускать при старте Windows", {40, 32, 185, 17}},
                {"chkAutoPlay", "Начать проигрывание при запуске", {40, 48, 201, 17}},
                {"chkAutoHide", "Сворачивать окно при запуске", {40, 64, 201, 17}}};
  for (const auto& check : checks) {
    auto* box = new QCheckBox(QString::fromUtf8(check.caption), frmOptions);
    box->setObjectName(QString::fromLatin1(check.name));
    box->setGeometry(check.place);
    box->hide();
  }

  auto* frmBitrate = new QGroupBox(QStringLiteral("Качество звука по умолчанию, kbps"), frmOptions);
  frmBitrate->setObjectName(QStringLiteral("frmBitrate"));
  frmBitrate->setGeometry(40, 56, 201, 41);
  const int lefts[] = {8, 56, 104, 152};
  const int widths[] = {41, 33, 33, 41};
  for (int i = 0; i < 4; ++i) {
    const int bitrate = kOptionBitrates[i];
    auto* option = new QRadioButton(QString::number(bitrate), frmBitrate);
    option->setObjectName(QStringLiteral("optBitrate_%1").arg(bitrate));
    option->setGeometry(lefts[i], 16, widths[i], 17);
    optBitrate[bitrate] = option;
    connect(option, &QRadioButton::clicked, this, [this, bitrate] { OnOptionBitrate(bitrate); });
  }

  btnOptionsOK = new ImageButton(frmOptions);
  btnOptionsOK->setObjectName(QStringLiteral("btnOptionsOK"));
  btnOptionsOK->setGeometry(112, 140, 38, 20);
  btnOptionsOK->setPicture(SkinPictureToDraw(QStringLiteral("btn_ok.png")));
  btnOptionsOK->setGrayscale(5);
  btnOptionsOK->setShadow(4, -4, -4);
}

void frmVornel::wireButtonLooks() {
  const auto look = [this](ImageButton* button, void (ImageButton::*signal)(), auto change) {
    connect(button, signal, this, [button, change] { change(*button); });
  };
  const auto opacity = [](std::int32_t value) { return [value](ImageButton& b) { b.setOpacity(value); }; };
  const auto grey = [](std::int16_t value) { return [value](ImageButton& b) { b.setGrayscale(value); }; };

  for (ImageButton* button : {btnClose, btnMinimize}) {
    look(button, &ImageButton::MouseEnter, opacity(kOpaque));
    look(button, &ImageButton::MouseLeave, opacity(kInvisible));
  }
  look(btnMenu, &ImageButton::MouseEnter, grey(kColour));
  look(btnMenu, &ImageButton::MouseLeave, grey(kGreyMenu));

  // Pressed feedback and the pointer lighting the button are common to the transport buttons.
  for (ImageButton* button : {btnPlay, btnStop, btnRec, btnBitrate, btnOptionsOK}) {
    look(button, &ImageButton::MouseEnter, grey(kColour));
    look(button, &ImageButton::MouseDown, opacity(kPressed));
    look(button, &ImageButton::MouseUp, opacity(kOpaque));
  }
  for (ImageButton* button : {btnStop, btnBitrate, btnOptionsOK}) look(button, &ImageButton::MouseLeave, grey(kGrey));
  // Play and record double as lamps: leaving them does not dim a playing stream or a recording.
  connect(btnPlay, &ImageButton::MouseLeave, this, [this] {
    if (bass_ == nullptr || bass_->BASS_ChannelIsActive(channel()) != BASS_STATE_PLAYING) btnPlay->setGrayscale(kGrey);
  });
  connect(btnRec, &ImageButton::MouseLeave, this, [this] {
    if (!recorder_ || !recorder_->isRecording()) btnRec->setGrayscale(kGrey);
  });

  connect(btnMenu, &ImageButton::Click, this, [this] {
    frmOptions->show();
    frmOptions->raise();
  });
  connect(btnOptionsOK, &ImageButton::Click, this, [this] {
    // The play button goes to its resting grey even while a stream plays.
    btnPlay->setGrayscale(kGrey);
    frmOptions->hide();
  });
}

void frmVornel::ApplyWindowShape() {
  ShapeWindow(*this, skinPicture_);
  skinPicture_ = QImage();  // shaped once; the background keeps what is drawn
}

void frmVornel::LoadSettings() {
  // The notice's box shows 1 - tray_tip; anything but 0 keeps showing the notice.
  const std::int32_t trayTip = ReadRegDword(platform::HKEY_CURRENT_USER, kSettingsKey, QStringLiteral("tray_tip"), 1);
  trayNotice().chkDontShow()->setChecked(trayTip == 0);
  default_bitrate = ReadRegDword(platform::HKEY_CURRENT_USER, kSettingsKey, QStringLiteral("default_bitrate"),
                                 kDefaultBitrate);
  // A stored rate without an option button falls back to the default one.
  if (optBitrate.count(default_bitrate) == 0) default_bitrate = kDefaultBitrate;
  // Selecting the button counts as a click on it: the store holds the rate from now on.
  optBitrate.at(default_bitrate)->setChecked(true);
  OnOptionBitrate(default_bitrate);
}

void frmVornel::OnOptionBitrate(std::int32_t bitrate) {
  // The playing stream stays; the next station choice prefers the new rate.
  default_bitrate = bitrate;
  WriteRegDword(platform::HKEY_CURRENT_USER, kSettingsKey, QStringLiteral("default_bitrate"), bitrate);
}

void frmVornel::SetVolume(int value) {
  // The slider was stored at this value, so nothing changes and the library keeps its own full
  // volume; the first change comes from the user. Its range is 0..100, which holds any volume.
  (void)sliderVolume->LetValue(value);
}

void frmVornel::ShowWindow() { show(); }

void frmVornel::SetStatus(const QString& text) { ShowStatus(text); }

void frmVornel::SetVersionLabel(const QString& text) { lblVersion->setText(text); }

void frmVornel::TakeDirectory(core::Directory directory) {
  groups = std::move(directory.groups);
  for (const core::clsGroup& group : groups) listGroups->addItem(QString::fromStdString(group.name));
  picBanner->setPictureFromURL(QString::fromStdString(directory.bannerPictureUrl));
  banner_url = QString::fromStdString(directory.bannerUrl);
  emit stationsChanged();
}

const QString& frmVornel::bannerPictureUrl() const { return picBanner->PictureFromURL(); }

void frmVornel::ShowGroupStations(std::int16_t index) {
  listStations->clear();
  if (index < 0 || static_cast<std::size_t>(index) >= groups.size()) return;
  for (const core::clsStation& station : groups[static_cast<std::size_t>(index)].stations) {
    listStations->addItem(QString::fromStdString(core::StationDisplayText(station)));
  }
}

TrayIcons& frmVornel::trayIcon() {
  if (!trayIcons_) trayIcons_ = std::make_unique<TrayIcons>(this);
  return *trayIcons_;
}

void frmVornel::AddTrayIcon(const QString& tooltip) {
  trayIcon().AddIcon(windowIcon(), tooltip, [this](int message) { OnTrayNotify(message); });
}

void frmVornel::CreateTrayMenu(const std::vector<core::TrayMenuItem>& items) {
  TrayMenu = new QMenu(this);
  TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
  for (const core::TrayMenuItem& item : items) TrayMenu->addAction(item.text)->setData(item.id);
}

void frmVornel::UnloadSmallWindows() {
  delete dlgTray_;
  dlgTray_ = nullptr;
  delete msgNA_;
  msgNA_ = nullptr;
}

void frmVornel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, skin_);
}

void frmVornel::closeEvent(QCloseEvent* event) {
  emit unloading();
  event->accept();
}

}  // namespace vornel::ui
