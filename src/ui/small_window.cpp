#include "ui/small_window.h"

#include <QLabel>
#include <QPainter>

#include "ui/image_button.h"
#include "ui/skin_style.h"
#include "ui/window_drag.h"

namespace vornel::ui {

SmallWindow::SmallWindow(const QString& objectName, const QString& skin, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), drag_(new WindowDrag(*this)) {
  setObjectName(objectName);
  setWindowTitle(QStringLiteral("Vornel"));
  const QImage picture = SkinPicture(skin);
  skin_ = SkinBackground(SkinPictureToDraw(skin));
  setFixedSize(picture.size());
  ShapeWindow(*this, picture);
}

void SmallWindow::addDragBar(int captionTop, const QString& caption) {
  // An empty picture over the skin's dark bar: it only takes the presses.
  auto* imgDrag = new QLabel(this);
  imgDrag->setObjectName(QStringLiteral("imgDrag"));
  imgDrag->setGeometry(0, 0, 273, 25);
  drag_->addHandle(*imgDrag);
  QLabel* lblCaption = addText("lblCaption", {0, captionTop, 273, 17}, caption);
  lblCaption->setAlignment(Qt::AlignCenter);
  StyleDialogLabel(*lblCaption, true);
  drag_->addHandle(*lblCaption);
}

QLabel* SmallWindow::addText(const char* name, const QRect& place, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(place);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setWordWrap(place.height() > 17);
  StyleDialogLabel(*label, false);
  return label;
}

void SmallWindow::addOkButton(const QRect& place) {
  btnOK_ = new ImageButton(this);
  btnOK_->setObjectName(QStringLiteral("btnOK"));
  btnOK_->setAccessibleName(QStringLiteral("OK"));
  btnOK_->setToolTip(QStringLiteral("Закрыть это окно"));
  btnOK_->setGeometry(place);
  btnOK_->setPicture(SkinPictureToDraw(QStringLiteral("btn_ok.png")));
  btnOK_->setGrayscale(5);
  btnOK_->setShadow(4, -4, -4);
  // Lit under the pointer, dim otherwise, no pressed feedback.
  connect(btnOK_, &ImageButton::MouseEnter, this, [this] { btnOK_->setGrayscale(0); });
  connect(btnOK_, &ImageButton::MouseLeave, this, [this] { btnOK_->setGrayscale(6); });
  connect(btnOK_, &ImageButton::MouseUp, this, [this] { btnOK_->setOpacity(100); });
  connect(btnOK_, &ImageButton::Click, this, [this] {
    btnOK_->setGrayscale(6);  // grey again when the window next shows
    hide();
  });
}

void SmallWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, skin_);
}

}  // namespace vornel::ui
