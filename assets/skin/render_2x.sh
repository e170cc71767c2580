#!/usr/bin/env bash
# Renders every skin picture again at twice its size, as <name>@2x.png, for screens with a device
# pixel ratio of 2. The window outlines stay those of the 1x pictures, which the program shapes its
# windows by; render.sh runs this after the 1x pictures are made.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src="$here/src"
tool="$here/pngtool.py"
INK="#111418"
SLIDER_BACK="#1B1E23"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

render() {
  rsvg-convert --width "$2" --height "$3" --format png --output "$tmp/$4" "$src/$1"
}

for window in main:270:370 tray:270:200 msgna:270:100; do
  IFS=: read -r name w h <<<"$window"
  render "$name.svg" $((2 * w)) $((2 * h)) "$name.png"
  python3 "$tool" key2x "$tmp/$name.png" "$here/$name@2x.png" "$INK" "$here/$name.png"
done

rgba() {
  render "$1.svg" $((2 * $2)) $((2 * $3)) "$1.png"
  python3 "$tool" rgba "$tmp/$1.png" "$here/$1@2x.png"
}
rgba btn_play 42 20
rgba btn_stop 40 20
rgba btn_rec 42 20
rgba btn_ok 38 20
rgba btn_close 16 16
rgba btn_minimize 16 16
rgba btn_menu 16 16
for rate in 32 48 64 96 128 192; do rgba "badge_$rate" 38 20; done
rgba tray_picture 100 34

python3 "$tool" crop "$here/main@2x.png" "$here/slider_rail@2x.png" 406,154,80,20
render slider_knob.svg 22 20 slider_knob.png
python3 "$tool" flat "$tmp/slider_knob.png" "$here/slider_knob@2x.png" "$SLIDER_BACK"
