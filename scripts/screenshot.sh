#!/usr/bin/env bash
# Starts the built program on a virtual X display and saves a picture of its main window.
# Usage: scripts/screenshot.sh [output.png] [scale]   (build first: scripts/build.sh)
# A scale of 2 shows the window as on a screen of device pixel ratio 2.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$root/docs/screenshot.png}")"
scale="${2:-1}"
mkdir -p "$(dirname "$out")"
bin="$root/build/bin"
[ -x "$bin/vornel" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1200x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
vornel=""
stop() {
  [ -n "$vornel" ] && kill "$vornel" 2>/dev/null && wait "$vornel" 2>/dev/null
  kill "$xvfb" 2>/dev/null || true
}
trap stop EXIT
sleep 1
(cd "$bin" && DISPLAY="$display" SDL_AUDIODRIVER=dummy QT_SCALE_FACTOR="$scale" ./vornel) &
vornel=$!
# Wait until the window is mapped, then give it a moment to paint.
for _ in $(seq 50); do
  DISPLAY="$display" xwininfo -name Vornel >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
DISPLAY="$display" import -window Vornel "$out"
echo "saved $out"
