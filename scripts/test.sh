#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest: first the normal build (with
# the directory reader's fuzzer and the real Icecast fixture), then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the audio library's tests under
# ThreadSanitizer. VORNEL_SKIP_SANITIZERS=1 runs the normal build only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$root/scripts/deps.sh"

"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

if [ "${VORNEL_SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/scripts/build.sh" "$root/build-asan" -DVORNEL_SANITIZE=address -DVORNEL_FUZZ=OFF
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

  # Threads live in the audio library, the recorder and the playback controller; Qt itself is not
  # built for ThreadSanitizer (see tests/tsan.supp), so this pass covers those three.
  cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEL_WERROR=ON \
        -DVORNEL_SANITIZE=thread -DVORNEL_FUZZ=OFF >/dev/null
  cmake --build "$root/build-tsan" --target audio_tests audio_unit_tests stream_tests playback_tests formats_tests controller_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
    ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" \
    -R '^(BassLibrary|IcyDemuxer|BodySniff|StreamTest|PulseOutputTest|RecorderTest|FormatsTest|Stations/FormatPitchTest|PlaybackControllerTest)\.'
fi
