#pragma once

// Opening a link or file with the desktop's own handler. The desktop sits behind a small
// interface so that tests see the requests without a browser opening.

#include <QString>

#include <cstdint>

class QWidget;

namespace vornel::ui {

// The shell request, with its Windows result: above 32 accepted, 0..32 a failure code.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual std::int32_t ShellExecuteA(QWidget* owner, const QString& operation, const QString& file,
                                     const QString& parameters, const QString& directory, int showCmd) = 0;
};

// The desktop's handler for the link or file (its address or path; a folder resolves a relative
// path). Only "open" is offered: anything else has no application.
class DesktopShell : public Shell {
 public:
  std::int32_t ShellExecuteA(QWidget* owner, const QString& operation, const QString& file,
                             const QString& parameters, const QString& directory, int showCmd) override;
};

// What the last failed ShellEx recorded; nothing is shown to the user.
struct ShellError {
  std::int32_t number = 0;
  QString source;
  QString description;
};
const ShellError& LastShellError();

// True when the shell accepted the request. Without parameters and folder the window is always
// asked to open normally; a name holding ".EXE" is asked to open hidden.
bool ShellEx(Shell& shell, const QString& sFIle, int eShowCmd = 10, const QString& sParameters = QString(),
             const QString& sDefaultDir = QString(), const QString& sOperation = QStringLiteral("open"),
             QWidget* Owner = nullptr);

}  // namespace vornel::ui
