#!/usr/bin/env bash
# Rebuilds every skin PNG from the SVG sources in src/.
# Needs rsvg-convert (librsvg2-bin), python3 and the DejaVu fonts.
# Output is byte-for-byte reproducible, so re-running it on unchanged
# sources leaves nothing to commit.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src="$here/src"
tool="$here/pngtool.py"

# Outline colour of the keyed windows; must match .f-ink in src/palette.css.
INK="#111418"

command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing (apt-get install librsvg2-bin)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 missing" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# render SVG WIDTH HEIGHT -> raw RGBA in $tmp
render() {
  local name="$1" w="$2" h="$3" out="$4"
  rsvg-convert --width "$w" --height "$h" --format png --output "$tmp/$out" "$src/$name"
}

# Colour-keyed windows. The trailing rectangles are the widget areas that
# must lie inside the shape; the run stops if the outline ever eats one.
render main.svg 270 370 main.png
python3 "$tool" key "$tmp/main.png" "$here/main.png" "$INK" \
  9,4,16,16 32,6,185,17 224,5,16,16 246,5,16,16 8,40,257,17 \
  8,71,42,20 50,71,40,20 90,71,42,20 139,71,38,20 201,77,44,10 \
  0,99,105,171 104,99,166,171 1,100,268,169 0,269,270,101

render tray.svg 270 200 tray.png
python3 "$tool" key "$tmp/tray.png" "$here/tray.png" "$INK" \
  88,32,100,34 16,72,241,57 24,136,225,17 116,168,38,20

render msgna.svg 270 100 msgna.png
python3 "$tool" key "$tmp/msgna.png" "$here/msgna.png" "$INK" \
  16,32,241,17 16,48,241,17 117,72,38,20

# Straight RGBA pictures.
rgba() {
  local name="$1" w="$2" h="$3" out="$4"
  render "$name" "$w" "$h" "$out"
  python3 "$tool" rgba "$tmp/$out" "$here/$out"
}

rgba btn_play.svg     42 20 btn_play.png
rgba btn_stop.svg     40 20 btn_stop.png
rgba btn_rec.svg      42 20 btn_rec.png
rgba btn_ok.svg       38 20 btn_ok.png
rgba btn_close.svg    16 16 btn_close.png
rgba btn_minimize.svg 16 16 btn_minimize.png
rgba btn_menu.svg     16 16 btn_menu.png

for rate in 32 48 64 96 128 192; do
  rgba "badge_$rate.svg" 38 20 "badge_$rate.png"
done

rgba tray_picture.svg 100 34 tray_picture.png

# The volume slider paints its pictures opaquely over its own back colour, so both carry the
# trough they sit in: the rail is cut from the window picture under the slider (201,77 44x10,
# rail at 2 px in), the knob laid over the trough's colour (SLIDER_BACK, the slider's BackColor
# in frm_vornel.cpp).
SLIDER_BACK="#1B1E23"
python3 "$tool" crop "$here/main.png" "$here/slider_rail.png" 203,77,40,10
render slider_knob.svg 11 10 slider_knob.png
python3 "$tool" flat "$tmp/slider_knob.png" "$here/slider_knob.png" "$SLIDER_BACK"

for size in 16 32 64 256; do
  rgba icon.svg "$size" "$size" "icon_$size.png"
done
# The desktop's icon theme (hicolor) takes these sizes as well; they are installed beside the
# program, not compiled into it.
icons="$here/../icons"
for size in 24 48 128; do
  render icon.svg "$size" "$size" "icon_$size.png"
  python3 "$tool" rgba "$tmp/icon_$size.png" "$icons/icon_$size.png"
done
# The scalable icon stands alone, without palette.css; it must still draw the same picture.
python3 "$icons/inline_palette.py" "$src/palette.css" "$src/icon.svg" "$icons/vornel.svg"
rsvg-convert --width 256 --height 256 --format png --output "$tmp/standalone.png" "$icons/vornel.svg"
python3 "$tool" rgba "$tmp/standalone.png" "$tmp/standalone_rgba.png"
cmp -s "$tmp/standalone_rgba.png" "$here/icon_256.png" || { echo "icons/vornel.svg draws another picture" >&2; exit 1; }

"$here/render_2x.sh"

echo "skin rendered into $here"
