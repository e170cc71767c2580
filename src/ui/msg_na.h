#pragma once

// The small skinned window that says a station cannot be reached. Its texts are fixed.

#include "ui/small_window.h"

namespace vornel::ui {

class msgNA : public SmallWindow {
  Q_OBJECT

 public:
  explicit msgNA(QWidget* parent = nullptr);

  // Shows the window without blocking and gives it the focus.
  void ShowUnavailable();
};

}  // namespace vornel::ui
