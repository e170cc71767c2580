#include "support/test_environment.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vornel::test {

namespace {

std::string gConfigFolder;

void RemoveConfigFolder() {
  std::error_code error;
  std::filesystem::remove_all(gConfigFolder, error);
}

}  // namespace

void PrepareTestEnvironment() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  // Settings the tests write go to a folder of this process, never to the user's own.
  std::string folder = (std::filesystem::temp_directory_path() / "vornel-config-XXXXXX").string();
  if (mkdtemp(folder.data()) != nullptr) {
    gConfigFolder = folder;
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    std::atexit(RemoveConfigFolder);
  }
}

}  // namespace vornel::test

// Sanitizer builds: leaks that system libraries keep for the life of the process are not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libSDL2\nleak:libdbus\nleak:libQt6Gui\nleak:libasound\n";
}
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
