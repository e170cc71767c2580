// Start-up of the whole player as one process: the window (offscreen), the audio library, the
// directory download against ADDRESS, the cache and the lists. Prints "ready" once the station
// list is filled and exits; bench/startup_bench.py times it from the launch.
// Usage: startup_bench PROGRAM_FOLDER ADDRESS
// startup_desktop_bench is the same with the player on the session bus as the program puts it
// there (media-player object, name, notifications); "ready" then also gives the peak resident
// memory, so bench/desktop_bench.py can tell what the bus costs.

#include <QApplication>
#include <QListWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "core/startup.h"
#include "ui/frm_vornel.h"
#ifdef VORNEL_BENCH_DESKTOP
#include <QDBusConnection>

#include "app/desktop_link.h"
#include "desktop/bus_instance.h"
#include "desktop/track_notifier.h"
#endif

namespace {

class Silent : public vornel::core::MessageBoxes {
 public:
  void Show(const QString& text, const QString&, vornel::core::MessageIcon) override {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  }
};

// VmHWM of /proc/self/status, in KiB.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = -1;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> value;
      break;
    }
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  QApplication app(argc, argv);
#ifdef VORNEL_BENCH_DESKTOP
  QDBusConnection bus = QDBusConnection::sessionBus();
  vornel::desktop::Mpris mpris(QStringLiteral("vornel"));
  if (!mpris.Publish(bus) ||
      vornel::desktop::ClaimBusName(bus, vornel::desktop::Mpris::ServiceName()) != vornel::desktop::BusClaim::First) {
    std::fprintf(stderr, "no session bus to publish on\n");
    return 3;
  }
#endif
  vornel::ui::frmVornel window;
#ifdef VORNEL_BENCH_DESKTOP
  vornel::desktop::TrackNotifier notifier(bus, QStringLiteral("vornel"), window.windowIcon().pixmap(64).toImage());
  vornel::app::DesktopLink link(window, mpris, &notifier);
#endif
  Silent messages;
  vornel::core::Program program(window, messages, {argv[1], QString::fromLocal8Bit(argv[2]), 1, 0});
  if (program.Start() != vornel::core::StartupFailure::None) return 1;
  const auto* stations = window.findChild<QListWidget*>(QStringLiteral("listStations"));
  std::printf("ready %d %ld\n", stations != nullptr ? stations->count() : -1, PeakResidentKiB());
  std::fflush(stdout);
  program.Shutdown();
  return 0;
}
