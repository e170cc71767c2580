#pragma once

// The tray notice: after the window is minimised, it says where the player went. Its check box
// is the stored "tray_tip" setting, inverted: ticked, the notice is not shown again.

#include "ui/small_window.h"

class QCheckBox;

namespace vornel::ui {

class dlgTray : public SmallWindow {
  Q_OBJECT

 public:
  explicit dlgTray(QWidget* parent = nullptr);

  QCheckBox* chkDontShow() const { return chkDontShow_; }

 private:
  QCheckBox* chkDontShow_;
};

}  // namespace vornel::ui
