// The main window's chrome: what a frame would do (moving, minimising, closing), the banner's
// link, the tray notice and the notification-area icon's clicks and menu.

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QListWidget>
#include <QMouseEvent>

#include "playback/audio_library.h"
#include "skin/async_bitmap.h"
#include "ui/dlg_tray.h"
#include "ui/frm_vornel.h"
#include "ui/image_button.h"
#include "ui/shell.h"
#include "ui/tray_icons.h"
#include "ui/window_drag.h"

namespace vornel::ui {

namespace {

Q_LOGGING_CATEGORY(lcChrome, "vornel.ui.chrome")

constexpr int kShowWindow = 1;
constexpr int kPlayOrStop = 2;
constexpr int kCloseProgram = 3;

}  // namespace

void frmVornel::wireChrome() {
  shell_ = std::make_unique<DesktopShell>();
  // The background and the station name move the window; the banner opens its link instead.
  drag_ = new WindowDrag(*this);
  drag_->addHandle(*this);
  drag_->addHandle(*lblRadio);
  imgBanner->installEventFilter(this);
  imgBanner->setCursor(Qt::PointingHandCursor);

  connect(btnClose, &ImageButton::Click, this, &QWidget::close);
  connect(btnMinimize, &ImageButton::Click, this, &frmVornel::OnMinimize);
}

bool frmVornel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == listGroups || watched == listStations) return listKeyPressed(watched, event);
  if (watched != imgBanner) return QWidget::eventFilter(watched, event);
  // Taken here, so that a press on the banner never reaches the window as a drag.
  if (event->type() == QEvent::MouseButtonPress) return true;
  if (event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || !imgBanner->rect().contains(mouse->position().toPoint()))
      return true;
    // The link comes with the directory over plain HTTP: only a web address is handed to the
    // desktop, never a local file or another scheme.
    if (skin::IsWebAddress(banner_url)) {
      ShellEx(*shell_, banner_url, 10, QString(), QString(), QStringLiteral("open"), this);
    } else {
      qCWarning(lcChrome) << "the banner link is not a web address, not opened:" << banner_url;
    }
    return true;
  }
  return false;
}

void frmVornel::setShell(std::unique_ptr<Shell> shell) { shell_ = std::move(shell); }

dlgTray& frmVornel::trayNotice() {
  if (dlgTray_ == nullptr) dlgTray_ = new dlgTray(this);
  return *dlgTray_;
}

void frmVornel::OnMinimize() {
  // Without a notification area a hidden window could never be found again: it goes to the
  // task bar instead, and there is nothing for the notice to explain.
  if (!TrayIcons::Available()) {
    showMinimized();
    return;
  }
  // The window goes to the notification area; the notice says so unless the user declined it.
  hide();
  if (!trayNotice().chkDontShow()->isChecked()) trayNotice().show();
}

void frmVornel::RestoreIfMinimised() {
  if (isMinimized()) showNormal();
}

void frmVornel::ShowFromElsewhere() {
  show();
  RestoreIfMinimised();
  raise();
  activateWindow();
}

void frmVornel::OnTrayNotify(int message) {
  if (message == WM_LBUTTONUP) {
    show();
  } else if (message == WM_RBUTTONUP && TrayMenu != nullptr) {
    raise();
    activateWindow();
    const QAction* chosen = TrayMenu->exec(QCursor::pos());
    if (chosen != nullptr) OnTrayCommand(chosen->data().toInt());
  }
}

void frmVornel::OnTrayCommand(int command) {
  switch (command) {
    case kShowWindow:
      show();
      break;
    case kPlayOrStop:
      // A stalled stream counts as not playing: the station starts again.
      if (bass_ != nullptr && bass_->BASS_ChannelIsActive(channel()) == BASS_STATE_PLAYING) {
        StopPlayback();
      } else {
        StartPlayback();
      }
      break;
    case kCloseProgram:
      close();
      break;
    default:
      break;
  }
}

}  // namespace vornel::ui
