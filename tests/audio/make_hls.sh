#!/usr/bin/env bash
# Makes the media that hls_server.py serves (see server/README.md, "HLS server"): one tone per
# stream, each at its own frequency, so a test can tell by pitch which stream it is hearing.
# Usage: make_hls.sh OUT_DIR
#
# The same ffmpeg gives the same bytes every run: tones are computed (no dither, no noise) and
# every output is bitexact, so no version string, date or random Ogg serial gets in.
# About 2.5 MB. Two ffmpeg processes, one per core, each with many outputs: starting ffmpeg
# costs about as much CPU as one of these short encodes.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 OUT_DIR" >&2
  exit 2
fi
out="$1"

# A run that failed half-way must not leave old segments next to new ones.
rm -rf "$out"
mkdir -p "$out"/ts/{64,128,400,500} "$out"/{mp3ts,gap,fmp4,packed,packed-mp3,tsid3,file}

# A stereo sine at amplitude 0.5 (-6 dBFS): loud enough to measure, far from clipping after a
# lossy encode. sine's own amplitude is 1/8, hence the gain of 4.
tone() {  # tone FREQ RATE SECONDS
  echo "sine=frequency=$1:sample_rate=$2:duration=$3,pan=stereo|c0=4*c0|c1=4*c0"
}

# The server loops six ~2 s segments. They are taken from the middle of a longer encode, segments
# 1-6 of 8 (or, for the streams the server cuts itself, from the third frame on): the first and
# last frames of an encode are the encoder's start-up and padding, tens of milliseconds of
# near-silence that would otherwise be heard at every turn of the loop.
live=15
cut=13
# LAME without its bit reservoir: a frame that borrows bytes from the frames before it cannot be
# decoded after the loop jumps back.
mp3=(-c:a libmp3lame -b:a 128k -reservoir 0)

bitexact=(-fflags +bitexact -flags:a +bitexact -map_metadata -1)
hls=(-f hls -hls_time 2 -hls_list_size 0)

declare -a inputs_a=() outputs_a=() inputs_b=() outputs_b=()
count_a=0 count_b=0
add() {  # add a|b FREQ RATE SECONDS OUTPUT_OPTIONS... OUTPUT
  local -n inputs="inputs_$1" outputs="outputs_$1" count="count_$1"
  inputs+=(-f lavfi -i "$(tone "$2" "$3" "$4")")
  outputs+=(-map "$count:a" "${@:5}")
  count=$((count + 1))
}
add_ts() {  # add_ts a|b FREQ DIR ENCODER_OPTIONS...: a live stream as ffmpeg's MPEG-TS segments
  add "$1" "$2" 48000 "$live" "${@:4}" "${bitexact[@]}" "${hls[@]}" -hls_segment_type mpegts \
    -hls_segment_filename "$3/seg-%d.ts" "$3/ffmpeg.m3u8"
}

# The master playlist's variants. Only 128 is a valid pick (see the README).
add_ts a 350  "$out/ts/64"  -c:a aac -b:a 48k
add_ts a 1000 "$out/ts/128" -c:a aac -b:a 96k
add_ts a 1250 "$out/ts/500" -c:a aac -b:a 128k
add_ts a 1600 "$out/ts/400" -c:a aac -b:a 256k
add_ts a 460  "$out/gap"    -c:a aac -b:a 96k
add a 820  48000 "$live" -c:a aac -b:a 96k  "${bitexact[@]}" "${hls[@]}" -hls_segment_type fmp4 \
  -hls_fmp4_init_filename init.mp4 -hls_segment_filename "$out/fmp4/seg-%d.m4s" "$out/fmp4/ffmpeg.m3u8"

add_ts b 570  "$out/mp3ts"  "${mp3[@]}"
# Raw elementary streams that the server cuts into packed audio or its own TS. No Xing frame and
# no ID3 tag in the MP3 ones: the server wants nothing but audio frames to cut or repeat.
# The files for /file/<name> are played whole, again and again, like a station's one record.
add b 640  48000 "$cut" -c:a aac -b:a 96k "${bitexact[@]}" -f adts "$out/packed/source.aac"
add b 880  48000 "$cut" -c:a aac -b:a 96k "${bitexact[@]}" -f adts "$out/tsid3/source.aac"
add b 740  48000 "$cut" "${mp3[@]}" "${bitexact[@]}" -f mp3 -write_xing 0 -id3v2_version 0 \
  "$out/packed-mp3/source.mp3"
add b 1200 44100 10 -c:a aac -b:a 128k "${bitexact[@]}" -f adts "$out/file/tone.aac"
add b 1450 44100 10 -c:a libvorbis -q:a 4 "${bitexact[@]}" -f ogg "$out/file/tone.ogg"
add b 1800 48000 10 -c:a libopus -b:a 96k "${bitexact[@]}" -f opus "$out/file/tone.opus"
add b 2100 44100 10 -c:a libmp3lame -b:a 128k "${bitexact[@]}" -f mp3 -write_xing 0 -id3v2_version 0 \
  "$out/file/tone.mp3"

ffmpeg -nostdin -v error -y "${inputs_a[@]}" "${outputs_a[@]}" & pid_a=$!
ffmpeg -nostdin -v error -y "${inputs_b[@]}" "${outputs_b[@]}" & pid_b=$!
status=0
wait $pid_a || status=1
wait $pid_b || status=1
if [[ $status -ne 0 ]]; then
  echo "make_hls.sh: ffmpeg failed (its message is above)" >&2
  exit 1
fi

# Keep segments 1-6 as seg-0..seg-5. ffmpeg's own playlist would now be wrong: the server writes
# its playlists itself.
for dir in "$out"/ts/* "$out"/mp3ts "$out"/gap "$out"/fmp4; do
  ext=ts
  [[ $dir == */fmp4 ]] && ext=m4s
  for i in 1 2 3 4 5 6; do
    mv "$dir/seg-$i.$ext" "$dir/seg-$((i - 1)).$ext"
  done
  rm -f "$dir"/seg-{6,7,8}."$ext" "$dir/ffmpeg.m3u8"
done
