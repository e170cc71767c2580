// Creates the application and the main window, runs the start-up sequence and the event loop.

#include <QApplication>

#include "core/single_instance.h"
#include "core/startup.h"
#include "ui/frm_vornel.h"
#include "ui/message_boxes.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vornel"));
  QApplication::setApplicationVersion(
      QStringLiteral("%1.%2").arg(VORNEL_VERSION_MAJOR).arg(VORNEL_VERSION_MINOR));

  // A second start shows the running player's window instead.
  vornel::core::SingleInstance instance;
  if (instance.claim() == vornel::core::SingleInstance::Claim::AlreadyRunning) return 0;

  vornel::ui::frmVornel window;
  QObject::connect(&instance, &vornel::core::SingleInstance::showRequested, &window,
                   &vornel::ui::frmVornel::ShowFromElsewhere);
  vornel::ui::QtMessageBoxes messages;
  vornel::core::Program program(window, messages,
                                {QCoreApplication::applicationDirPath().toStdString(),
                                 QStringLiteral(VORNEL_DIRECTORY_ADDRESS), VORNEL_VERSION_MAJOR,
                                 VORNEL_VERSION_MINOR});
  QObject::connect(&window, &vornel::ui::frmVornel::unloading, [&program] { program.Shutdown(); });

  const vornel::core::StartupFailure failure = program.Start();
  if (failure == vornel::core::StartupFailure::ClosedDuringStart) return 0;  // the user's own close
  if (failure != vornel::core::StartupFailure::None) return static_cast<int>(failure);
  return QApplication::exec();
}
