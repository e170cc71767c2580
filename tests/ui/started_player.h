#pragma once

// The player as a launch leaves it: a program folder with the real audio library and a small
// directory, the main window, and the start-up sequence run on it. Closing the window runs the
// shutdown sequence, as in the program.

#include <QObject>
#include <QString>

#include <memory>

#include "core/startup.h"
#include "support/program_folder.h"
#include "ui/frm_vornel.h"

namespace vornel::ui {

class StartedPlayer {
 public:
  explicit StartedPlayer(core::MessageBoxes& messages) : messages_(messages) {
    folder.AddAudioLibrary(test::RealAudioLibrary());
    folder.AddStations("well_formed.dat");
  }

  // True when start-up got through.
  bool Start() {
    program = std::make_unique<core::Program>(window, messages_, core::StartupConfig{folder.path(), QString(), 1, 0});
    QObject::connect(&window, &frmVornel::unloading, [this] { program->Shutdown(); });
    return program->Start() == core::StartupFailure::None;
  }

  test::ProgramFolder folder;
  frmVornel window;
  std::unique_ptr<core::Program> program;

 private:
  core::MessageBoxes& messages_;
};

}  // namespace vornel::ui
