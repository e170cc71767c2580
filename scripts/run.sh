#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vornel from its program folder (build/bin).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build"

cd "$root/build/bin"
# A machine without a sound card cannot open an output device and Vornel would refuse to start;
# SDL's dummy output lets it run silently there.
if [ -z "${SDL_AUDIODRIVER:-}" ] && [ ! -e /dev/snd ] && [ -z "${PULSE_SERVER:-}" ] \
   && [ ! -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ]; then
  echo "No sound device found: Vornel plays silently (SDL_AUDIODRIVER=dummy)."
  export SDL_AUDIODRIVER=dummy
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: Vornel runs on a virtual X display (see scripts/screenshot.sh to look at it)."
  exec xvfb-run -a -s "-screen 0 800x600x24" ./vornel
fi
exec ./vornel
