#pragma once

// The library's log: one line per event worth a developer's attention (a refused stream, a
// skipped segment, damaged frames), on standard error with the prefix "vornel.audio: ". The
// library has no Qt, so it cannot use the player's logging categories; VORNEL_AUDIO_LOG=0 in the
// environment silences it.

namespace vornel::audio {

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vornel::audio
