#include "support/test_environment.h"

#include <cstdlib>

namespace vornel::test {

void PrepareTestEnvironment() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
}

}  // namespace vornel::test

// Sanitizer builds: leaks that system libraries keep for the life of the process are not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libSDL2\nleak:libdbus\nleak:libQt6Gui\nleak:libasound\n";
}
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
