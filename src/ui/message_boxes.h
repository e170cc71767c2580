#pragma once

#include "core/startup.h"

namespace vornel::ui {

// Application-modal message boxes with an OK button.
class QtMessageBoxes : public core::MessageBoxes {
 public:
  void Show(const QString& text, const QString& caption, core::MessageIcon icon) override;
};

}  // namespace vornel::ui
