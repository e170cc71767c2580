#!/usr/bin/env bash
# Makes the MP3 test fixtures from known tones: the same input always gives the same bytes.
# Usage: make_tones.sh OUT_DIR
set -euo pipefail
out="$1"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
sox -n -r 44100 -c 2 -b 16 "$tmp/440.wav" synth 20 sine 440 vol 0.5
sox -n -r 22050 -c 1 -b 16 "$tmp/1000.wav" synth 20 sine 1000 vol 0.5
lame --quiet --noreplaygain -b 128 --cbr -t "$tmp/440.wav" "$out/tone440.mp3"
lame --quiet --noreplaygain -b 32 --cbr -m m -t "$tmp/1000.wav" "$out/tone1000_22k_mono.mp3"
