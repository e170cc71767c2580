#pragma once

// What the program's two small skinned windows (the unreachable-station message and the tray
// notice) share: a frameless window with the outline and background of its skin picture, a drag
// bar with a caption that moves it, fixed texts, and an OK button that hides it (it stays loaded
// until the main window unloads).

#include <QPixmap>
#include <QRect>
#include <QWidget>

class QLabel;

namespace vornel::ui {

class ImageButton;
class WindowDrag;

class SmallWindow : public QWidget {
  Q_OBJECT

 public:
  // `skin` names the background picture; its size is the window's size.
  SmallWindow(const QString& objectName, const QString& skin, QWidget* parent);

  ImageButton* okButton() const { return btnOK_; }

 protected:
  // The drag bar `imgDrag` across the top, with the bold caption `lblCaption` on it.
  void addDragBar(int captionTop, const QString& caption);
  QLabel* addText(const char* name, const QRect& place, const QString& text);
  void addOkButton(const QRect& place);

  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap skin_;
  WindowDrag* drag_;
  ImageButton* btnOK_ = nullptr;
};

}  // namespace vornel::ui
