#include "ui/msg_na.h"

#include <QLabel>
#include <QPainter>

#include "ui/image_button.h"
#include "ui/skin_style.h"

namespace vornel::ui {

msgNA::msgNA(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("msgNA"));
  setWindowTitle(QStringLiteral("Vornel"));
  setFixedSize(270, 100);
  skin_ = SkinBackground(QStringLiteral("msgna.png"));

  const struct {
    const char* name;
    QRect place;
    const char* text;
    bool caption;
  } labels[] = {{"lblCaption", {0, 5, 273, 17}, "Ошибка!", true},
                {"Label2", {16, 32, 241, 17}, "Эта станция временно недоступна.", false},
                {"Label1", {16, 48, 241, 17}, "Повторите попытку позже.", false}};
  for (const auto& l : labels) {
    auto* label = new QLabel(QString::fromUtf8(l.text), this);
    label->setObjectName(QString::fromLatin1(l.name));
    label->setGeometry(l.place);
    label->setAlignment(l.caption ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    StyleDialogLabel(*label, l.caption);
  }

  btnOK_ = new ImageButton(this);
  btnOK_->setObjectName(QStringLiteral("btnOK"));
  btnOK_->setGeometry(117, 72, 38, 20);
  btnOK_->setPicture(QImage(QStringLiteral(":/skin/btn_ok.png")));
  btnOK_->setGrayscale(5);
  btnOK_->setShadow(4, -4, -4);
  connect(btnOK_, &ImageButton::MouseEnter, this, [this] { btnOK_->setGrayscale(0); });
  connect(btnOK_, &ImageButton::MouseLeave, this, [this] { btnOK_->setGrayscale(6); });
  connect(btnOK_, &ImageButton::MouseUp, this, [this] { btnOK_->setOpacity(100); });
  connect(btnOK_, &ImageButton::Click, this, [this] {
    btnOK_->setGrayscale(6);  // grey again when the window next shows
    hide();
  });
}

void msgNA::ShowUnavailable() {
  show();
  raise();
  activateWindow();
  setFocus();
}

void msgNA::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, skin_);
}

}  // namespace vornel::ui
