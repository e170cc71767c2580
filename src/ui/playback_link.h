#pragma once

// The main window's state that the audio library's threads reach through a stream's user value.

#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "playback/recorder.h"
#include "ui/frm_vornel.h"

namespace vornel::ui {

// What the library's threads may touch: the recorder, the generation of the newest station start,
// the station name (for a title-less status) and a guarded way back to the window.
struct frmVornel::PlaybackLink {
  playback::Recorder* recorder = nullptr;
  std::atomic<std::uint32_t> generation{0};
  QPointer<frmVornel> window;
  std::mutex nameMutex;
  QString stationName;  // guarded by nameMutex
};

// The user value of one stream: blocks and titles of a superseded stream are ignored by it.
struct frmVornel::StreamContext {
  std::shared_ptr<PlaybackLink> link;
  std::uint32_t generation = 0;
  bool current() const { return link->generation.load() == generation; }
};

}  // namespace vornel::ui
