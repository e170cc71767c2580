#include "ui/dlg_tray.h"

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>

#include "ui/registry.h"
#include "ui/skin_style.h"

namespace vornel::ui {

dlgTray::dlgTray(QWidget* parent) : SmallWindow(QStringLiteral("dlgTray"), QStringLiteral("tray.png"), parent) {
  addDragBar(8, QStringLiteral("Подсказка"));

  auto* image = new QLabel(this);
  image->setObjectName(QStringLiteral("Image1"));
  image->setGeometry(88, 32, 100, 34);
  image->setPixmap(QPixmap::fromImage(SkinPictureToDraw(QStringLiteral("tray_picture.png"))));

  addText("Label2", {16, 72, 241, 57},
          QStringLiteral("Программа свёрнута в трей (к часикам). Щелкните по этой иконке, чтобы развернуть "
                         "программу. Щелкните правой кнопкой мыши, чтобы открыть меню."));

  chkDontShow_ = new QCheckBox(QStringLiteral("Больше не показывать это сообщение"), this);
  chkDontShow_->setObjectName(QStringLiteral("chkDontShow"));
  chkDontShow_->setGeometry(24, 136, 225, 17);
  StyleDialogCheckBox(*chkDontShow_);
  // Written at once, so that a crash later still remembers the choice.
  connect(chkDontShow_, &QCheckBox::clicked, this, [](bool ticked) {
    WriteRegDword(platform::HKEY_CURRENT_USER, kSettingsKey, QStringLiteral("tray_tip"), ticked ? 0 : 1);
  });

  addOkButton({116, 168, 38, 20});
}

}  // namespace vornel::ui
