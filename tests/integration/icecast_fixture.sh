#!/usr/bin/env bash
# A throwaway Icecast server on loopback with two endless tone streams, for tests of the
# streaming library against a real server rather than a mock.
#
#   icecast_fixture.sh start RUN_DIR   starts everything, writes RUN_DIR/icecast.env
#   icecast_fixture.sh stop  RUN_DIR   stops whatever start left running (idempotent)
#   icecast_fixture.sh check RUN_DIR   checks a running fixture from a listener's side
#
# Every process runs under `timeout`, so a run whose stop never comes (a killed ctest, a
# test selected without its cleanup) cannot leave a server behind for longer than
# VORNEL_ICECAST_LIFETIME seconds.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
probe="$here/icy_probe.py"

readonly HOST=127.0.0.1
readonly ADMIN_USER=admin
readonly MOUNT_440=/tone440.mp3
readonly MOUNT_1000=/tone1000.mp3
readonly METAINT_440=8192
readonly METAINT_1000=1000
readonly NAME_440="Vornel Test 440"
readonly NAME_1000="Vornel Test 1000"
readonly READY_SECONDS="${VORNEL_ICECAST_READY_SECONDS:-20}"
readonly LIFETIME="${VORNEL_ICECAST_LIFETIME:-3600}"
readonly STOP_SECONDS=10
readonly PORT_ATTEMPTS=3
# Sources before the server, so that each ends its own connection.
readonly PID_NAMES=(ffmpeg-440 ffmpeg-1000 icecast)

log() { echo "icecast_fixture: $*" >&2; }
die() { log "$*"; exit 1; }

usage() {
  echo "usage: $0 {start|stop|check} RUN_DIR" >&2
  exit 2
}

# --- processes ---------------------------------------------------------------------------

# A pid counts as ours only while its command line still names the run folder: after a
# reboot or a long pause the number may belong to something else entirely.
is_ours() {
  local pid="$1" state
  [ -r "/proc/$pid/cmdline" ] || return 1
  state="$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" || return 1
  # PID 1 in a container does not always reap, and a zombie is as good as gone.
  [ "$state" != Z ] || return 1
  tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$run_dir"
}

# The pid that `timeout` wraps, so that a KILL after the deadline can reach it too.
children_of() {
  cat "/proc/$1/task/"*/children 2>/dev/null || true
}

wait_gone() {
  local deadline=$((SECONDS + $1)) pid
  shift
  while :; do
    local left=()
    for pid in "$@"; do
      if [ -d "/proc/$pid" ] && [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ]; then
        left+=("$pid")
      fi
    done
    [ "${#left[@]}" -eq 0 ] && return 0
    [ "$SECONDS" -ge "$deadline" ] && { echo "${left[*]}"; return 1; }
    sleep 0.1
  done
}

stop_all() {
  local name pid pids=() child
  for name in "${PID_NAMES[@]}"; do
    local file="$run_dir/$name.pid"
    [ -f "$file" ] || continue
    pid="$(cat "$file")"
    if [[ "$pid" =~ ^[0-9]+$ ]] && is_ours "$pid"; then
      pids+=("$pid")
      for child in $(children_of "$pid"); do pids+=("$child"); done
      kill -TERM "$pid" 2>/dev/null || true
    fi
  done
  if [ "${#pids[@]}" -gt 0 ]; then
    local stuck
    if ! stuck="$(wait_gone "$STOP_SECONDS" "${pids[@]}")"; then
      log "still running after ${STOP_SECONDS}s, killing: $stuck"
      local stuck_pids
      read -r -a stuck_pids <<<"$stuck"
      kill -KILL "${stuck_pids[@]}" 2>/dev/null || true
      wait_gone 5 "${stuck_pids[@]}" >/dev/null || die "could not stop: $stuck"
    fi
  fi
  for name in "${PID_NAMES[@]}"; do rm -f "$run_dir/$name.pid"; done
}

# Started in the background with every stream redirected: ctest waits for a test's output
# pipes to close, so an inherited stdout would hold the setup test open for the whole run.
spawn() {
  local name="$1" logfile="$2"
  shift 2
  timeout --foreground -k 5 "$LIFETIME" "$@" </dev/null >>"$logfile" 2>&1 &
  echo $! >"$run_dir/$name.pid"
}

# --- fixture files -----------------------------------------------------------------------

# sox -R seeds its generators and -D turns dithering off, and lame -t writes no
# Xing/LAME frame, so the same tools give the same bytes on every run. lame writes no ID3
# tags unless asked to. 0.5 of full scale is -6 dBFS.
make_tone() {
  local out="$1" freq="$2" rate="$3" channels="$4" kbps="$5" mode="$6"
  local wav="$run_dir/.tone.$$.wav"
  sox -R -D -n -r "$rate" -c "$channels" -b 16 -e signed-integer -t wav "$wav" \
    synth 20 sine "$freq" vol 0.5
  lame --silent -t --noreplaygain --cbr -b "$kbps" -m "$mode" \
    --resample "$(awk -v r="$rate" 'BEGIN{printf "%g", r/1000}')" -q 2 "$wav" "$out.tmp"
  rm -f "$wav"
  mv -f "$out.tmp" "$out"
}

free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

random_password() {
  od -An -N12 -tx1 /dev/urandom | tr -d ' \n'
}

write_config() {
  local port="$1"
  local owner=""
  if [ "$(id -u)" -eq 0 ]; then
    owner="<changeowner><user>nobody</user><group>nogroup</group></changeowner>"
  fi
  cat >"$run_dir/icecast.xml" <<EOF
<icecast>
  <location>loopback</location>
  <admin>nobody@localhost</admin>
  <hostname>$HOST</hostname>
  <limits>
    <clients>32</clients>
    <sources>4</sources>
    <queue-size>524288</queue-size>
    <client-timeout>10</client-timeout>
    <header-timeout>5</header-timeout>
    <source-timeout>5</source-timeout>
    <burst-on-connect>1</burst-on-connect>
    <burst-size>65536</burst-size>
  </limits>
  <authentication>
    <source-password>$source_password</source-password>
    <relay-password>$(random_password)</relay-password>
    <admin-user>$ADMIN_USER</admin-user>
    <admin-password>$admin_password</admin-password>
  </authentication>
  <listen-socket>
    <port>$port</port>
    <bind-address>$HOST</bind-address>
  </listen-socket>
  <mount type="normal">
    <mount-name>$MOUNT_440</mount-name>
    <stream-name>$NAME_440</stream-name>
    <mp3-metadata-interval>$METAINT_440</mp3-metadata-interval>
    <public>0</public>
  </mount>
  <mount type="normal">
    <mount-name>$MOUNT_1000</mount-name>
    <stream-name>$NAME_1000</stream-name>
    <mp3-metadata-interval>$METAINT_1000</mp3-metadata-interval>
    <public>0</public>
  </mount>
  <fileserve>1</fileserve>
  <paths>
    <basedir>/usr/share/icecast2</basedir>
    <logdir>$run_dir</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging>
    <accesslog>access.log</accesslog>
    <errorlog>error.log</errorlog>
    <loglevel>3</loglevel>
    <logsize>10000</logsize>
  </logging>
  <security>
    <chroot>0</chroot>
    $owner
  </security>
</icecast>
EOF
}

# --- start -------------------------------------------------------------------------------

start_ok=0
on_start_exit() {
  local rc=$?
  [ "$start_ok" -eq 1 ] && return 0
  log "start failed (exit $rc)"
  local f
  for f in error.log ffmpeg-440.log ffmpeg-1000.log icecast.out; do
    if [ -s "$run_dir/$f" ]; then
      echo "----- tail of $run_dir/$f" >&2
      tail -n 20 "$run_dir/$f" >&2
    fi
  done
  stop_all || true
  [ "$rc" -eq 0 ] && exit 1
  exit "$rc"
}

http_code() {
  curl -s -o /dev/null -m 2 -w '%{http_code}' "$@" || true
}

# Icecast up and listening, or gone: returns 1 as soon as it has exited (a port that was
# taken after it was picked shows up this way), so the caller can retry on another port.
wait_for_icecast() {
  local port="$1" deadline="$2" pid
  pid="$(cat "$run_dir/icecast.pid")"
  while :; do
    [ "$(http_code "http://$HOST:$port/status-json.xsl")" = 200 ] && return 0
    is_ours "$pid" || return 1
    [ "$SECONDS" -ge "$deadline" ] && die "icecast did not answer on port $port within ${READY_SECONDS}s"
    sleep 0.1
  done
}

start_source() {
  local name="$1" file="$2" mount="$3" stream_name="$4"
  # -re paces the copy at the file's own rate, as a live encoder would; no re-encoding,
  # so listeners receive the fixture's frames byte for byte. -id3v2_version 0 and
  # -write_xing 0 keep the muxer from putting a tag or an info frame in front of the first
  # loop.
  spawn "$name" "$run_dir/$name.log" ffmpeg -nostdin -hide_banner -loglevel warning \
    -re -stream_loop -1 -i "$file" -c copy -id3v2_version 0 -write_xing 0 \
    -content_type audio/mpeg -ice_name "$stream_name" -ice_description "$stream_name" \
    -ice_genre test -f mp3 \
    "icecast://source:$source_password@$HOST:$port$mount"
}

wait_for_mount() {
  local mount="$1" deadline="$2" left
  while :; do
    left=$((deadline - SECONDS))
    [ "$left" -gt 0 ] || die "mount $mount gave no audio within ${READY_SECONDS}s"
    [ "$left" -le 3 ] || left=3
    if python3 "$probe" audio "$HOST" "$port" "$mount" --bytes 4096 --timeout "$left" \
      >"$run_dir/probe$(tr / _ <<<"$mount").json" 2>&1; then
      return 0
    fi
    local name
    for name in ffmpeg-440 ffmpeg-1000 icecast; do
      is_ours "$(cat "$run_dir/$name.pid")" || die "$name exited while waiting for $mount"
    done
    sleep 0.2
  done
}

cmd_start() {
  local t0_ns
  t0_ns="$(date +%s%N)"
  mkdir -p "$run_dir"
  run_dir="$(cd "$run_dir" && pwd)"
  case "$run_dir" in
    *[\&\<\>\"\'$'\n']*) die "RUN_DIR must not contain &, <, >, quotes or newlines (it goes into XML): $run_dir" ;;
  esac
  stop_all
  trap on_start_exit EXIT

  local tool
  for tool in icecast2 ffmpeg sox lame curl python3 timeout; do
    command -v "$tool" >/dev/null || die "$tool not found"
  done

  # Icecast opens its logs only after it has given up root.
  chmod 0777 "$run_dir"
  if [ "$(id -u)" -eq 0 ] && ! runuser -u nobody -- test -w "$run_dir"; then
    die "user nobody cannot write to $run_dir (is a parent folder closed to others?)"
  fi
  rm -f "$run_dir/icecast.env" "$run_dir"/*.log "$run_dir"/*.log.old "$run_dir/icecast.out"

  tone_440="$run_dir/tone440.mp3"
  tone_1000="$run_dir/tone1000_22k_mono.mp3"
  make_tone "$tone_440" 440 44100 2 128 s
  make_tone "$tone_1000" 1000 22050 1 32 m

  source_password="$(random_password)"
  admin_password="$(random_password)"

  local deadline=$((SECONDS + READY_SECONDS)) attempt
  for attempt in $(seq 1 "$PORT_ATTEMPTS"); do
    port="$(free_port)"
    write_config "$port"
    spawn icecast "$run_dir/icecast.out" icecast2 -c "$run_dir/icecast.xml"
    wait_for_icecast "$port" "$deadline" && break
    log "icecast exited on port $port (attempt $attempt)"
    stop_all
    [ "$attempt" -lt "$PORT_ATTEMPTS" ] || die "icecast would not start"
  done

  start_source ffmpeg-440 "$tone_440" "$MOUNT_440" "$NAME_440"
  start_source ffmpeg-1000 "$tone_1000" "$MOUNT_1000" "$NAME_1000"
  wait_for_mount "$MOUNT_440" "$deadline"
  wait_for_mount "$MOUNT_1000" "$deadline"

  cat >"$run_dir/icecast.env.tmp" <<EOF
PORT=$port
HOST=$HOST
ADMIN_USER=$ADMIN_USER
ADMIN_PASSWORD=$admin_password
SOURCE_PASSWORD=$source_password
MOUNT_440=$MOUNT_440
MOUNT_1000=$MOUNT_1000
METAINT_440=$METAINT_440
METAINT_1000=$METAINT_1000
TONE_440_FILE=$tone_440
TONE_1000_FILE=$tone_1000
EOF
  mv -f "$run_dir/icecast.env.tmp" "$run_dir/icecast.env"
  start_ok=1
  local ms=$((($(date +%s%N) - t0_ns) / 1000000))
  log "up on $HOST:$port in ${ms} ms (env: $run_dir/icecast.env)"
}

# Read rather than sourced: a value runs to the end of its line, spaces included. Keys
# land in env_KEY, which the caller declares local.
load_env() {
  local line key
  while IFS= read -r line; do
    key="${line%%=*}"
    [[ "$key" =~ ^[A-Z0-9_]+$ ]] && printf -v "env_$key" '%s' "${line#*=}"
  done <"$1"
  for key in PORT HOST ADMIN_USER ADMIN_PASSWORD MOUNT_440 MOUNT_1000 METAINT_440 METAINT_1000 \
    TONE_440_FILE TONE_1000_FILE; do
    local var="env_$key"
    [ -n "${!var:-}" ] || die "$1 has no $key"
  done
}

# --- check -------------------------------------------------------------------------------

# What a test relies on, seen from a listener: both mounts stream with their names and
# metadata intervals, and a title set through the admin interface reaches the metadata
# blocks. Titles are put back to empty afterwards; a listener that connects soon after still
# sees the check's title first, from the burst, so tests should set titles of their own.
cmd_check() {
  local env="$run_dir/icecast.env"
  [ -f "$env" ] || die "no $env: is the fixture started?"
  local env_PORT env_HOST env_ADMIN_USER env_ADMIN_PASSWORD env_MOUNT_440 env_MOUNT_1000 \
    env_METAINT_440 env_METAINT_1000 env_TONE_440_FILE env_TONE_1000_FILE
  load_env "$env"
  if [ ! -s "$env_TONE_440_FILE" ] || [ ! -s "$env_TONE_1000_FILE" ]; then
    die "tone files missing"
  fi
  local base="http://$env_HOST:$env_PORT" auth="$env_ADMIN_USER:$env_ADMIN_PASSWORD"
  local mount metaint name out title
  for mount in "$env_MOUNT_440" "$env_MOUNT_1000"; do
    if [ "$mount" = "$env_MOUNT_440" ]; then
      metaint="$env_METAINT_440" name="$NAME_440"
    else
      metaint="$env_METAINT_1000" name="$NAME_1000"
    fi
    out="$(python3 "$probe" meta "$env_HOST" "$env_PORT" "$mount" --blocks 2 --timeout 10)" ||
      die "no metadata blocks from $mount: $out"
    grep -qF "\"icy-metaint\": \"$metaint\"" <<<"$out" || die "$mount: icy-metaint is not $metaint: $out"
    grep -qF "\"icy-name\": \"$name\"" <<<"$out" || die "$mount: icy-name is not $name: $out"

    title="Vornel check $$ $(date +%s%N)"
    out="$(curl -s -m 5 -u "$auth" -G --data-urlencode "mount=$mount" --data mode=updinfo \
      --data-urlencode "song=$title" "$base/admin/metadata")" || die "admin request failed"
    grep -q "<return>1</return>" <<<"$out" || die "admin metadata update refused: $out"
    out="$(python3 "$probe" meta "$env_HOST" "$env_PORT" "$mount" --expect-title "$title" --timeout 10)" ||
      die "title '$title' did not reach the metadata of $mount: $out"
    curl -s -m 5 -o /dev/null -u "$auth" -G --data-urlencode "mount=$mount" --data mode=updinfo \
      --data song= "$base/admin/metadata" || die "admin request failed"
  done
  echo "icecast fixture ok on $env_HOST:$env_PORT"
}

# --- main --------------------------------------------------------------------------------

[ "$#" -eq 2 ] || usage
run_dir="$2"
case "$1" in
  start) cmd_start ;;
  stop)
    if [ -d "$run_dir" ]; then
      run_dir="$(cd "$run_dir" && pwd)"
      stop_all
    fi
    ;;
  check) run_dir="$(cd "$run_dir" && pwd)"; cmd_check ;;
  *) usage ;;
esac
