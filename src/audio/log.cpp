#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vornel::audio {

namespace {

bool Enabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("VORNEL_AUDIO_LOG");
    return value == nullptr || std::strcmp(value, "0") != 0;
  }();
  return enabled;
}

}  // namespace

void LogLine(const char* format, ...) {
  if (!Enabled()) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // One write per line, so that lines of two threads do not interleave.
  std::fprintf(stderr, "vornel.audio: %s\n", line);
}

}  // namespace vornel::audio
