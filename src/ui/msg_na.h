#pragma once

// The small skinned window that says a station cannot be reached. Its texts are fixed; its OK
// button hides it (it stays loaded until the main window unloads).

#include <QPixmap>
#include <QWidget>

namespace vornel::ui {

class ImageButton;

class msgNA : public QWidget {
  Q_OBJECT

 public:
  explicit msgNA(QWidget* parent = nullptr);

  // Shows the window without blocking and gives it the focus.
  void ShowUnavailable();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap skin_;
  ImageButton* btnOK_;
};

}  // namespace vornel::ui
