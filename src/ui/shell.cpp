#include "ui/shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace vornel::ui {

namespace {

constexpr std::int32_t kErrorBase = -2147220456;  // 0x80040418
constexpr std::int32_t kAccepted = 42;
constexpr std::int32_t SE_ERR_FNF = 2;
constexpr std::int32_t SE_ERR_NOASSOC = 31;

ShellError gLastError;

struct ShellFailure {
  std::int32_t code;
  std::int32_t number;  // 0: the base plus the code
  const char* message;
};

constexpr ShellFailure kFailures[] = {
    {0, 7, "Out of memory"},
    {2, 53, "File not found"},
    {3, 76, "Path not found"},
    {5, 75, "Path/file access error"},
    {8, 7, "Out of memory"},
    {11, 0, "The executable file is invalid or corrupt"},
    {26, 75, "A sharing violation occurred."},
    {27, 0, "This file type does not have a valid file association."},
    {28, 286, "The file could not be opened due to time out. Please try again in a moment."},
    {29, 285, "The file could not be opened because the DDE transaction failed. Please try again in a moment."},
    {30, 285, "The file could not be opened because the target application is busy. Please try again in a moment."},
    {31, 0, "No application is associated with this file type."},
    {32, 48, "The specified dynamic-link library was not found."},
};

void Record(std::int32_t code) {
  ShellError error{kErrorBase + code, QString(),
                   QStringLiteral("An error occurred occurred whilst trying to open or print the selected file.")};
  for (const ShellFailure& failure : kFailures) {
    if (failure.code != code) continue;
    error.number = failure.number != 0 ? failure.number : kErrorBase + code;
    error.description = QString::fromLatin1(failure.message);
  }
  error.source = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".GShell");
  gLastError = error;
}

}  // namespace

std::int32_t DesktopShell::ShellExecuteA(QWidget*, const QString& operation, const QString& file, const QString&,
                                         const QString& directory, int) {
  if (file.isEmpty()) return SE_ERR_FNF;
  if (operation.compare(QStringLiteral("open"), Qt::CaseInsensitive) != 0) return SE_ERR_NOASSOC;
  const QUrl url = QUrl::fromUserInput(file, directory, QUrl::AssumeLocalFile);
  if (!url.isValid()) return SE_ERR_FNF;
  return QDesktopServices::openUrl(url) ? kAccepted : SE_ERR_NOASSOC;
}

const ShellError& LastShellError() { return gLastError; }

bool ShellEx(Shell& shell, const QString& sFIle, int eShowCmd, const QString& sParameters,
             const QString& sDefaultDir, const QString& sOperation, QWidget* Owner) {
  if (sFIle.toUpper().contains(QStringLiteral(".EXE"))) eShowCmd = 0;
  std::int32_t result = 0;
  if (sParameters.isEmpty() && sDefaultDir.isEmpty()) {
    result = shell.ShellExecuteA(Owner, sOperation, sFIle, QString(), QString(), 1);
  } else {
    result = shell.ShellExecuteA(Owner, sOperation, sFIle, sParameters, sDefaultDir, eShowCmd);
  }
  if (result > 32 || result < 0) return true;
  Record(result);
  return false;
}

}  // namespace vornel::ui
