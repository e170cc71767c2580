// The main window from the keyboard and for screen readers: Space plays or stops, Enter in a list
// takes its entry, plus and minus step the volume, Ctrl+R records, Ctrl+B steps the bit rate; every
// image button and the slider has a name and a tooltip.

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QShortcut>

#include <algorithm>

#include "skin/uc_slider.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/list_search.h"

namespace vornel::ui {

namespace {

constexpr int kVolumeStep = 5;

void Name(QWidget* widget, const QString& name, const QString& tip) {
  widget->setAccessibleName(name);
  widget->setToolTip(tip);
}

}  // namespace

void frmVornel::wireKeyboard() {
  Name(btnMenu, QStringLiteral("Настройки"), QStringLiteral("Настройки"));
  Name(btnMinimize, QStringLiteral("Свернуть"), QStringLiteral("Свернуть в трей"));
  Name(btnClose, QStringLiteral("Закрыть"), QStringLiteral("Закрыть программу"));
  Name(btnPlay, QStringLiteral("Играть"), QStringLiteral("Играть (Пробел)"));
  Name(btnStop, QStringLiteral("Стоп"), QStringLiteral("Остановить (Пробел)"));
  Name(btnRec, QStringLiteral("Запись"), QStringLiteral("Записывать треки (Ctrl+R)"));
  Name(btnBitrate, QStringLiteral("Битрейт"), QStringLiteral("Следующий битрейт станции (Ctrl+B)"));
  Name(btnOptionsOK, QStringLiteral("OK"), QStringLiteral("Закрыть настройки"));
  Name(sliderVolume, QStringLiteral("Громкость"), QStringLiteral("Громкость (+ и −)"));
  Name(listGroups, QStringLiteral("Группы"), QString());
  Name(listStations, QStringLiteral("Станции"), QString());
  Name(imgBanner, QStringLiteral("Баннер"), QString());

  // The order Tab takes: the lists first, then the buttons from left to right.
  setTabOrder(listGroups, listStations);
  setTabOrder(listStations, btnPlay);
  setTabOrder(btnPlay, btnStop);
  setTabOrder(btnStop, btnRec);
  setTabOrder(btnRec, btnBitrate);
  setTabOrder(btnBitrate, btnMenu);
  setTabOrder(btnMenu, btnMinimize);
  setTabOrder(btnMinimize, btnClose);

  const auto key = [this](const QKeySequence& sequence, auto action) {
    auto* shortcut = new QShortcut(sequence, this);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  key(QKeySequence(Qt::Key_Space), [this] {
    const bool playing = controller_ && controller_->state() != playback::PlaybackController::State::Stopped;
    playing ? StopPlayback() : StartPlayback();
  });
  key(QKeySequence(Qt::CTRL | Qt::Key_R), [this] { emit btnRec->Click(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_B), [this] { emit btnBitrate->Click(); });
  for (const QKeySequence& up : {QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal),
                                 QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)}) {
    key(up, [this] { StepVolume(kVolumeStep); });
  }
  for (const QKeySequence& down :
       {QKeySequence(Qt::Key_Minus), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)}) {
    key(down, [this] { StepVolume(-kVolumeStep); });
  }
  listGroups->installEventFilter(this);
  listStations->installEventFilter(this);
  EnableTypeToFind(*listGroups);
  EnableTypeToFind(*listStations);
}

void frmVornel::StepVolume(int by) {
  const int value = std::clamp(sliderVolume->value() + by, sliderVolume->min(), sliderVolume->max());
  static_cast<void>(sliderVolume->LetValue(value));  // within the range: never refused
}

bool frmVornel::listKeyPressed(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int pressed = static_cast<QKeyEvent*>(event)->key();
  if (pressed != Qt::Key_Return && pressed != Qt::Key_Enter) return false;
  if (watched == listStations) OnStationChosen(listStations->currentRow());
  if (watched == listGroups) OnGroupChosen(listGroups->currentRow());
  return true;
}

}  // namespace vornel::ui
