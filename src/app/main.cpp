// Creates the application and the main window, runs the start-up sequence and the event loop.

#include <QApplication>
#include <QDBusConnection>

#include <malloc.h>

#include <memory>

#include "app/desktop_link.h"
#include "core/single_instance.h"
#include "core/startup.h"
#include "desktop/bus_instance.h"
#include "desktop/mpris.h"
#include "desktop/track_notifier.h"
#include "ui/frm_vornel.h"
#include "ui/message_boxes.h"

int main(int argc, char* argv[]) {
#ifdef __GLIBC__
  // One malloc arena for every thread. The player's threads allocate little and seldom, and an
  // arena of their own each (glibc's default, up to eight per core) keeps freed memory apart:
  // about half a MiB more while a station plays.
  mallopt(M_ARENA_MAX, 1);
#endif
  // The window is drawn in software; without this, the X11 platform loads OpenGL's libraries
  // and probes GLX at start-up for nothing.
  if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) qputenv("QT_XCB_GL_INTEGRATION", "none");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vornel"));
  // The desktop matches the window to its menu entry (and icon) by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral(VORNEL_DESKTOP_ENTRY));
  QApplication::setApplicationVersion(
      QStringLiteral("%1.%2").arg(VORNEL_VERSION_MAJOR).arg(VORNEL_VERSION_MINOR));

  // The media-player object goes on the session bus before its name is claimed, so a client that
  // sees the name finds the object. A second start raises the running player's window instead,
  // through the bus, and through a socket of the user's where there is no bus.
  using vornel::desktop::BusClaim;
  QDBusConnection bus = QDBusConnection::sessionBus();
  vornel::desktop::Mpris mpris(QStringLiteral(VORNEL_DESKTOP_ENTRY));
  const BusClaim claim = mpris.Publish(bus)
                             ? vornel::desktop::ClaimBusName(bus, vornel::desktop::Mpris::ServiceName())
                             : BusClaim::Unavailable;
  if (claim == BusClaim::AlreadyRunning) return 0;
  vornel::core::SingleInstance instance;
  if (instance.claim() == vornel::core::SingleInstance::Claim::AlreadyRunning) return 0;

  vornel::ui::frmVornel window;
  QObject::connect(&instance, &vornel::core::SingleInstance::showRequested, &window,
                   &vornel::ui::frmVornel::ShowFromElsewhere);
  std::unique_ptr<vornel::desktop::TrackNotifier> notifier;
  if (claim == BusClaim::First) {
    notifier = std::make_unique<vornel::desktop::TrackNotifier>(bus, QStringLiteral(VORNEL_DESKTOP_ENTRY),
                                                                window.windowIcon().pixmap(64).toImage());
  }
  vornel::app::DesktopLink desktopLink(window, mpris, notifier.get());
  vornel::ui::QtMessageBoxes messages;
  vornel::core::Program program(
      window, messages,
      {QCoreApplication::applicationDirPath().toStdString(), QStringLiteral(VORNEL_DIRECTORY_ADDRESS),
       VORNEL_VERSION_MAJOR, VORNEL_VERSION_MINOR});
  QObject::connect(&window, &vornel::ui::frmVornel::unloading, [&program] { program.Shutdown(); });

  const vornel::core::StartupFailure failure = program.Start();
  if (failure == vornel::core::StartupFailure::ClosedDuringStart) return 0;  // the user's own close
  if (failure != vornel::core::StartupFailure::None) return static_cast<int>(failure);
  return QApplication::exec();
}
