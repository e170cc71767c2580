#include "ui/message_boxes.h"

#include <QMessageBox>

namespace vornel::ui {

void QtMessageBoxes::Show(const QString& text, const QString& caption, core::MessageIcon icon) {
  // Texts keep the Windows line ends they were written with; a label wants bare line feeds.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(icon == core::MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption, shown,
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace vornel::ui
