#!/usr/bin/env bash
# The player as `cmake --install` lays it out, in a throw-away prefix.
#
#   install_test.sh tree BUILD SOURCE
#       the tree: program folder, command, desktop file, icons, metainfo; validated with
#       desktop-file-validate and appstreamcli where they are installed
#   install_test.sh run BUILD SOURCE DIRECTORY_SERVER SCRIPTED_SERVER TONE_MP3
#       the installed player started on Xvfb with its program folder mounted read-only, in a
#       mount and network namespace of its own (loopback only): the first start seeds the XDG
#       cache from the bundled directory; the second downloads a directory naming a loopback
#       station, stores it in the cache, plays the station and records it into the XDG music folder
#
# Exits 77 (skipped) when a tool or the namespaces are not available.
set -euo pipefail

mode="$1" build="$2" source="$3"
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

pids=()
stop_started() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
if [ "$mode" = inside ]; then
  # The namespace's half works in the outer run's folder, which the outer run removes.
  work="$VORNEL_INSTALL_TEST_WORK"
  trap stop_started EXIT
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/vornel-install-XXXXXX")"
  trap 'stop_started; rm -rf "$work"' EXIT
fi
prefix="$work/prefix"
program="$prefix/lib/vornel"

install_tree() {
  cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
}

# Width and height from a PNG's header.
png_size() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }

check_tree() {
  install_tree
  for file in vornel libbass.so stations.dat; do [ -f "$program/$file" ] || fail "$program/$file missing"; done
  [ -x "$program/vornel" ] || fail "the program is not executable"
  [ -d "$program/REC" ] || fail "no REC for a portable install"
  cmp -s "$program/stations.dat" "$source/directory/client/stations.php" || fail "stations.dat is not the bundled directory"
  [ -L "$prefix/bin/vornel" ] || fail "bin/vornel is not a link"
  [ "$(readlink -f "$prefix/bin/vornel")" = "$(readlink -f "$program/vornel")" ] || fail "bin/vornel leads elsewhere"
  # A link that names its target relatively still works once the tree is moved (DESTDIR, packages).
  case "$(readlink "$prefix/bin/vornel")" in /*) fail "bin/vornel is an absolute link" ;; esac
  if command -v readelf >/dev/null; then
    for elf in "$program/vornel" "$program/libbass.so"; do
      if readelf -d "$elf" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then fail "$elf still looks into the build tree"; fi
    done
  fi

  local desktop="$prefix/share/applications/vornel.desktop"
  [ -f "$desktop" ] || fail "no desktop file"
  grep -qx 'Exec=vornel' "$desktop" || fail "the desktop file does not start the vornel command"
  grep -qx 'Icon=vornel' "$desktop" || fail "the desktop file does not name the icon"
  for size in 16 24 32 48 64 128 256; do
    local png="$prefix/share/icons/hicolor/${size}x${size}/apps/vornel.png"
    [ -f "$png" ] || fail "$png missing"
    [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is $(png_size "$png")"
  done
  local svg="$prefix/share/icons/hicolor/scalable/apps/vornel.svg"
  [ -f "$svg" ] || fail "no scalable icon"
  # Installed alone, the icon cannot lean on the skin's stylesheet.
  if grep -q 'xml-stylesheet\|class=' "$svg"; then fail "the scalable icon needs palette.css"; fi
  local metainfo="$prefix/share/metainfo/io.github.vornel.Vornel.metainfo.xml"
  [ -f "$metainfo" ] || fail "no metainfo"
  grep -q '<launchable type="desktop-id">vornel.desktop</launchable>' "$metainfo" || fail "metainfo does not launch vornel.desktop"
  if grep -q '@[A-Z_]*@' "$metainfo"; then fail "metainfo has unreplaced variables"; fi
  [ -f "$prefix/share/doc/vornel/copyright" ] || fail "no copyright file"

  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
  else
    echo "desktop-file-validate not installed: the desktop file is not validated"
  fi
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
  else
    echo "appstreamcli not installed: the metainfo is not validated"
  fi
  echo "installed tree complete"
}

# Waits (bounded) for a condition given as a command.
wait_for() {
  local what="$1" tries="$2"
  shift 2
  for _ in $(seq "$tries"); do
    if "$@"; then return 0; fi
    sleep 0.2
  done
  fail "gave up waiting for $what"
}

player_window() { xdotool search --onlyvisible --name '^Vornel$' 2>/dev/null | head -1; }
has_window() { [ -n "$(player_window)" ]; }
same_file() { cmp -s "$1" "$2"; }
has_recording() { find "$1" -type f -size +16k 2>/dev/null | grep -q .; }

start_player() {
  "$prefix/bin/vornel" >"$work/player-$1.log" 2>&1 &
  player=$!
  pids+=("$player")
  wait_for "the main window ($1)" 150 has_window
}

stop_player() {
  kill "$player"
  wait "$player" 2>/dev/null || true
}

run_inside() {
  local directory_server="$1" scripted="$2" tone="$3"
  ip link set lo up
  mount --bind "$program" "$program"
  mount -o remount,bind,ro "$program"
  if touch "$program/probe" 2>/dev/null; then fail "the program folder is still writable"; fi

  export HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
  export XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$work/tmp"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$TMPDIR"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  # The music folder as the desktop names it, not the English default.
  printf 'XDG_MUSIC_DIR="$HOME/Музыка"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
  local cache="$XDG_CACHE_HOME/Vornel/stations.dat" music="$HOME/Музыка/Vornel"

  exec 3>"$work/display"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  wait_for "Xvfb" 100 test -s "$work/display"
  export DISPLAY=":$(head -1 "$work/display")"

  # First start: no directory server answers, so the cache seeded from the bundled file serves.
  start_player first
  same_file "$cache" "$program/stations.dat" || fail "the cache is not the bundled directory"
  [ -d "$music" ] || fail "no recording folder $music"
  stop_player

  # Second start: a directory server on the player's address names a loopback station.
  local hostport="${directory_server#http://}"
  case "$hostport" in 127.0.0.1:* | localhost:*) ;; *) skip "the directory server $directory_server is not on loopback" ;; esac
  mkfifo "$work/scripted.in"
  python3 "$scripted" --mp3 "$tone" <"$work/scripted.in" >"$work/scripted.port" 2>"$work/scripted.log" &
  pids+=($!)
  exec 4>"$work/scripted.in"  # the server runs while this stays open
  wait_for "the scripted station" 100 grep -q '^PORT ' "$work/scripted.port"
  local port
  port="$(awk '/^PORT /{print $2}' "$work/scripted.port")"
  mkdir -p "$work/served/client"
  python3 - "$work/served/client/stations.php" "http://127.0.0.1:$port/icy?seconds=60&change=4" <<'PYTHON'
import sys
lines = ["x", "", "", "1", "Тест", "1|0|Локальная станция|128|" + sys.argv[2]]
open(sys.argv[1], "wb").write(("\r\n".join(lines) + "\r\n").encode("cp1251"))
PYTHON
  python3 -m http.server "${hostport##*:}" --bind 127.0.0.1 --directory "$work/served" >"$work/directory.log" 2>&1 &
  pids+=($!)
  wait_for "the directory server" 100 python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "${hostport##*:}"

  start_player second
  wait_for "the downloaded directory in the cache" 150 same_file "$cache" "$work/served/client/stations.php"
  local window
  window="$(player_window)"
  xdotool windowfocus --sync "$window"
  xdotool key ctrl+r space
  wait_for "a recording in $music" 150 has_recording "$music"
  stop_player
  local file
  file="$(find "$music" -type f | head -1)"
  # The stream's own bytes: the file begins at an MPEG audio frame.
  [ "$(od -An -tx1 -N1 "$file" | tr -d ' ')" = ff ] || fail "$file does not begin at a frame"
  [ ! -e "$program/REC/$(basename "$file")" ] || fail "recorded into the program folder"
  echo "recorded $(basename "$file") ($(stat -c %s "$file") bytes) into $music"
}

run_player() {
  local directory_server="$1" scripted="$2" tone="$3"
  for tool in Xvfb xdotool python3 unshare ip mount; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
  [ -f "$tone" ] || skip "no test tone $tone"
  # A mount namespace lets even root meet a read-only program folder, as a user meets /usr.
  local unshare=(unshare --mount --net)
  [ "$(id -u)" -eq 0 ] || unshare+=(--map-root-user)
  "${unshare[@]}" true 2>/dev/null || skip "mount and network namespaces are not permitted here"
  install_tree
  "${unshare[@]}" env VORNEL_INSTALL_TEST_INSIDE=1 VORNEL_INSTALL_TEST_WORK="$work" \
    bash "${BASH_SOURCE[0]}" inside "$build" "$source" "$directory_server" "$scripted" "$tone"
}

case "$mode" in
  tree) check_tree ;;
  run) run_player "$4" "$5" "$6" ;;
  inside) run_inside "$4" "$5" "$6" ;;
  *) fail "unknown mode $mode" ;;
esac
