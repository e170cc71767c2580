#!/usr/bin/env bash
# Starts the built program on a virtual X display and saves a picture of its main window.
# Usage: scripts/screenshot.sh [output.png]   (build first: scripts/build.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$root/docs/screenshot.png}")"
mkdir -p "$(dirname "$out")"
bin="$root/build/bin"
[ -x "$bin/vornel" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 480x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
vornel=""
stop() {
  [ -n "$vornel" ] && kill "$vornel" 2>/dev/null && wait "$vornel" 2>/dev/null
  kill "$xvfb" 2>/dev/null || true
}
trap stop EXIT
sleep 1
(cd "$bin" && DISPLAY="$display" SDL_AUDIODRIVER=dummy ./vornel) &
vornel=$!
# Wait until the window is mapped, then give it a moment to paint.
for _ in $(seq 50); do
  DISPLAY="$display" xwininfo -name Vornel >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
DISPLAY="$display" import -window Vornel "$out"
echo "saved $out"
