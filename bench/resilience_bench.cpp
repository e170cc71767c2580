// Playback through faults, measured with the real audio library and the playback controller
// against the scripted station server: how long the user-interface thread is held by a station
// change and by Stop, how long a reconnect takes once the server is back, and what recording
// costs in processor time. Run by bench/resilience_bench.py.
// Usage: resilience_bench SERVER_BASE_URL RECORD_FOLDER SECONDS

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bass.h"
#include "playback/playback_controller.h"
#include "support/linked_audio_library.h"

namespace {

using vornel::playback::PlaybackController;
using vornel::playback::StationChoice;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until `done` or `limitMs`; false on the limit. It sleeps between events,
// so that the process's processor time is the player's own.
template <typename Done>
bool RunUntil(Done done, int limitMs) {
  QElapsedTimer timer;
  timer.start();
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done() || timer.elapsed() > limitMs) loop.quit();
  });
  check.start(20);
  if (!done()) loop.exec();
  return done();
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: resilience_bench SERVER_BASE_URL RECORD_FOLDER SECONDS\n");
    return 2;
  }
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("VORNEL_AUDIO_LOG", "0", 0);
  QCoreApplication app(argc, argv);
  const std::string base = argv[1];
  const int seconds = std::max(5, std::atoi(argv[3]));
  if (!BASS_Init(BASS_DEVICE_DEFAULT, 44100, 0, nullptr, nullptr)) return 1;
  const vornel::playback::BassApi bass = vornel::test::LinkedAudioLibrary();
  vornel::playback::Recorder recorder(argv[2]);
  auto controller = std::make_unique<PlaybackController>(bass, recorder);
  QString status;
  QObject::connect(controller.get(), &PlaybackController::statusChanged,
                   [&](const QString& text) { status = text; });

  // The longest the event loop went without a turn, from a timer that asks for one every ms.
  QElapsedTimer sinceTurn;
  double longestGapMs = 0;
  QTimer turns;
  QObject::connect(&turns, &QTimer::timeout, [&] {
    longestGapMs = std::max(longestGapMs, static_cast<double>(sinceTurn.nsecsElapsed()) / 1e6);
    sinceTurn.restart();
  });

  // 1. Station changes while playing, and Stop: the time each call holds the thread.
  const StationChoice a{QStringLiteral("A"), {{base + "/ok?seconds=600&title=A", 128}}};
  const StationChoice b{QStringLiteral("B"), {{base + "/ok?seconds=600&title=B", 128}}};
  std::vector<double> changeMs;
  std::vector<double> stopMs;
  turns.setTimerType(Qt::PreciseTimer);
  sinceTurn.start();
  turns.start(1);
  for (int i = 0; i < 20; ++i) {
    const StationChoice& next = i % 2 == 0 ? a : b;
    QElapsedTimer call;
    call.start();
    controller->Play(next, 0);
    changeMs.push_back(static_cast<double>(call.nsecsElapsed()) / 1e6);
    if (!RunUntil([&] { return status == next.name; }, 10000))
      std::fprintf(stderr, "station %d never played\n", i);
    RunFor(300);
    if (i % 4 == 3) {
      call.restart();
      controller->Stop();
      stopMs.push_back(static_cast<double>(call.nsecsElapsed()) / 1e6);
      RunFor(100);
    }
  }
  turns.stop();
  std::printf("station_change_call_ms median %.3f max %.3f\n", Median(changeMs),
              *std::max_element(changeMs.begin(), changeMs.end()));
  std::printf("stop_call_ms median %.3f max %.3f\n", Median(stopMs),
              *std::max_element(stopMs.begin(), stopMs.end()));
  std::printf("longest_event_loop_gap_ms %.3f\n", longestGapMs);

  // 2. Reconnects: the server closes and is back at once; from the drop being noticed to the
  // title again, of which 500 ms is the first backoff step.
  std::vector<double> reconnectMs;
  for (int i = 0; i < 5; ++i) {
    const std::string url =
        base + "/flaky?key=bench" + std::to_string(i) + "&drops=1&seconds=1&burst=16384&after=600";
    controller->Play({QStringLiteral("Flaky"), {{url, 128}}}, 0);
    if (!RunUntil([&] { return status == PlaybackController::StatusReconnecting(); }, 20000)) continue;
    QElapsedTimer back;
    back.start();
    if (RunUntil([&] { return status == QStringLiteral("Artist - Song"); }, 20000)) {
      reconnectMs.push_back(static_cast<double>(back.nsecsElapsed()) / 1e6);
    }
  }
  std::printf("reconnect_ms median %.1f max %.1f (backoff step 500 ms included; %zu of 5)\n",
              Median(reconnectMs),
              reconnectMs.empty() ? 0.0 : *std::max_element(reconnectMs.begin(), reconnectMs.end()),
              reconnectMs.size());

  // 3. Recording: processor time per minute of playing, with recording off and on.
  double perMinute[2] = {0, 0};
  for (int recording = 0; recording < 2; ++recording) {
    if (recording != 0) recorder.ToggleRecording();
    controller->Play({QStringLiteral("Steady"), {{base + "/ok?seconds=600&burst=65536", 128}}}, 0);
    RunUntil([&] { return status == QStringLiteral("Artist - Song"); }, 10000);
    RunFor(1000);
    const double before = CpuSeconds();
    RunFor(seconds * 1000);
    perMinute[recording] = (CpuSeconds() - before) * 60.0 / seconds;
  }
  std::printf("cpu_seconds_per_minute recording_off %.3f recording_on %.3f ratio %.3f\n", perMinute[0],
              perMinute[1], perMinute[0] > 0 ? perMinute[1] / perMinute[0] : 0.0);
  controller->Stop();
  BASS_Free();
  controller->LibraryReleased();
  return 0;
}
