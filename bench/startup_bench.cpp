// Start-up of the whole player as one process: the window (offscreen), the audio library, the
// directory download against ADDRESS, the cache and the lists. Prints "ready" once the station
// list is filled and exits; bench/startup_bench.py times it from the launch.
// Usage: startup_bench PROGRAM_FOLDER ADDRESS

#include <QApplication>
#include <QListWidget>

#include <cstdio>
#include <cstdlib>

#include "core/startup.h"
#include "ui/frm_vornel.h"

namespace {

class Silent : public vornel::core::MessageBoxes {
 public:
  void Show(const QString& text, const QString&, vornel::core::MessageIcon) override {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  QApplication app(argc, argv);
  vornel::ui::frmVornel window;
  Silent messages;
  vornel::core::Program program(window, messages, {argv[1], QString::fromLocal8Bit(argv[2]), 1, 0});
  if (program.Start() != vornel::core::StartupFailure::None) return 1;
  const auto* stations = window.findChild<QListWidget*>(QStringLiteral("listStations"));
  std::printf("ready %d\n", stations != nullptr ? stations->count() : -1);
  std::fflush(stdout);
  program.Shutdown();
  return 0;
}
