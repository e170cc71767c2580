#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest: first the normal build (with
# the directory reader's fuzzer), then the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer. VORNEL_SKIP_SANITIZERS=1 runs the normal build only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$root/scripts/deps.sh"

"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

if [ "${VORNEL_SKIP_SANITIZERS:-0}" != 1 ]; then
  "$root/scripts/build.sh" "$root/build-asan" -DVORNEL_SANITIZE=address -DVORNEL_FUZZ=OFF
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
fi
