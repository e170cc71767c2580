#include "ui/window_drag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace vornel::ui {

WindowDrag::WindowDrag(QWidget& window) : QObject(&window), window_(window) {}

void WindowDrag::addHandle(QWidget& handle) { handle.installEventFilter(this); }

void WindowDrag::start(const QPointF& globalPos) {
  QWindow* native = window_.windowHandle();
  if (native != nullptr && native->startSystemMove()) return;
  following_ = true;
  pressedAt_ = globalPos;
  windowAt_ = window_.pos();
}

bool WindowDrag::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
    return false;
  auto* mouse = static_cast<QMouseEvent*>(event);
  switch (type) {
    case QEvent::MouseButtonPress:
      // The window's own background only: a press that a child let pass is not a drag.
      if (watched == &window_ && window_.childAt(mouse->position().toPoint()) != nullptr) return false;
      // Whichever button it is.
      start(mouse->globalPosition());
      return true;
    case QEvent::MouseMove:
      if (!following_) return false;
      window_.move(windowAt_ + (mouse->globalPosition() - pressedAt_).toPoint());
      return true;
    case QEvent::MouseButtonRelease:
      if (!following_) return false;
      following_ = false;
      return true;
    default:
      return false;
  }
}

}  // namespace vornel::ui
