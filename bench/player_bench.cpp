// The whole player in one process, driven as a user would: start-up from a program folder, a
// click on the first station, then playback for a while. Prints the time from the click to
// playing, and the process's processor time and peak memory. Run by bench/player_bench.py.
// Usage: player_bench PROGRAM_FOLDER SECONDS

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

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
  if (argc < 3) {
    std::fprintf(stderr, "usage: player_bench PROGRAM_FOLDER SECONDS\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  QApplication app(argc, argv);
  vornel::ui::frmVornel window;
  Silent messages;
  vornel::core::Program program(window, messages, {argv[1], QString(), 1, 0});
  QObject::connect(&window, &vornel::ui::frmVornel::unloading, [&program] { program.Shutdown(); });
  if (program.Start() != vornel::core::StartupFailure::None) return 1;

  auto* stations = window.findChild<QListWidget*>(QStringLiteral("listStations"));
  if (stations == nullptr || stations->count() == 0) return 1;
  QElapsedTimer clicked;
  double toPlaying = -1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (window.channel() == 0) return;
    toPlaying = static_cast<double>(clicked.nsecsElapsed()) / 1e6;
    poll.stop();  // the measuring must not weigh on the figures that follow
  });
  poll.start(1);
  clicked.start();
  emit stations->itemClicked(stations->item(0));
  QTimer::singleShot(std::atoi(argv[2]) * 1000, &window, &QWidget::close);
  QApplication::exec();

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("click_to_playing_ms %.1f\ncpu_seconds %.3f\npeak_rss_kib %ld\n", toPlaying, cpu, usage.ru_maxrss);
  return 0;
}
