#include "ui/msg_na.h"

namespace vornel::ui {

msgNA::msgNA(QWidget* parent) : SmallWindow(QStringLiteral("msgNA"), QStringLiteral("msgna.png"), parent) {
  addDragBar(5, QStringLiteral("Ошибка!"));
  addText("Label2", {16, 32, 241, 17}, QStringLiteral("Эта станция временно недоступна."));
  addText("Label1", {16, 48, 241, 17}, QStringLiteral("Повторите попытку позже."));
  addOkButton({117, 72, 38, 20});
}

void msgNA::ShowUnavailable() {
  show();
  raise();
  activateWindow();
  setFocus();
}

}  // namespace vornel::ui
