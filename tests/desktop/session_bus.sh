#!/bin/sh
# A private session bus for the desktop tests, so they never touch a user's own desktop.
#   session_bus.sh start DIR   starts one; its address goes to DIR/address
#   session_bus.sh stop DIR    ends it
set -eu
dir="$2"
case "$1" in
  start)
    command -v dbus-daemon >/dev/null || { echo "dbus-daemon missing: the desktop tests will skip"; exit 0; }
    mkdir -p "$dir"
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/address" "$dir/pid"
    dbus-daemon --session --fork --nosyslog --print-address=3 --print-pid=4 3>"$dir/address.new" 4>"$dir/pid"
    mv "$dir/address.new" "$dir/address"
    ;;
  stop)
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/address" "$dir/pid"
    ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
