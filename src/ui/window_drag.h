#pragma once

// Moving a frameless window by a handle of its own: a press of any mouse button on a handle hands
// the move to the desktop, as a title bar would. Where the desktop cannot take it (no window
// manager, the offscreen platform) the window follows the pointer itself until the button is
// released.

#include <QObject>
#include <QPoint>

class QWidget;

namespace vornel::ui {

class WindowDrag : public QObject {
  Q_OBJECT

 public:
  // Moves `window` when a handle is pressed; lives as long as the window.
  explicit WindowDrag(QWidget& window);

  // Makes `handle` (the window itself or one of its children) a drag handle.
  void addHandle(QWidget& handle);

  // Starts a move as if a handle had been pressed at `globalPos`.
  void start(const QPointF& globalPos);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
  bool following_ = false;  // moving by hand: the desktop did not take the move
  QPointF pressedAt_;
  QPoint windowAt_;
};

}  // namespace vornel::ui
