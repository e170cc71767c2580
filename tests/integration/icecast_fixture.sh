#!/usr/bin/env bash
# A throwaway Icecast server on loopback with endless tone streams in MP3, AAC, Vorbis and
# Opus, a chained Ogg stream and an HTTPS port, for tests of the streaming library against
# a real server rather than a mock.
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
stream_probe="$here/stream_probe.py"
chain_source="$here/ogg_chain_source.py"

readonly HOST=127.0.0.1
readonly ADMIN_USER=admin
readonly MOUNT_440=/tone440.mp3
readonly MOUNT_1000=/tone1000.mp3
readonly METAINT_440=8192
readonly METAINT_1000=1000
readonly NAME_440="Vornel Test 440"
readonly NAME_1000="Vornel Test 1000"
readonly MOUNT_AAC=/tone550.aac
readonly MOUNT_VORBIS=/tone660.ogg
readonly MOUNT_OPUS=/tone770.opus
readonly MOUNT_CHAIN=/chain.ogg
readonly METAINT_AAC=16000
readonly FREQ_AAC=550
readonly FREQ_VORBIS=660
readonly FREQ_OPUS=770
readonly FREQ_CHAIN_A=440
readonly FREQ_CHAIN_B=880
readonly NAME_AAC="Vornel Test 550 AAC"
readonly NAME_VORBIS="Vornel Test 660 Vorbis"
readonly NAME_OPUS="Vornel Test 770 Opus"
readonly NAME_CHAIN="Vornel Chain"
readonly CHAIN_ARTIST="Vornel Chain"
readonly CHAIN_TITLE_A="Track A"
readonly CHAIN_TITLE_B="Track B"
readonly CHAIN_SECONDS=4
readonly READY_SECONDS="${VORNEL_ICECAST_READY_SECONDS:-40}"
readonly LIFETIME="${VORNEL_ICECAST_LIFETIME:-3600}"
readonly STOP_SECONDS=10
readonly PORT_ATTEMPTS=3
# What start writes to icecast.env, and check wants back.
readonly ENV_KEYS=(PORT HOST ADMIN_USER ADMIN_PASSWORD SOURCE_PASSWORD MOUNT_440 MOUNT_1000
  METAINT_440 METAINT_1000 TONE_440_FILE TONE_1000_FILE MOUNT_AAC MOUNT_VORBIS MOUNT_OPUS
  MOUNT_CHAIN METAINT_AAC FREQ_AAC FREQ_VORBIS FREQ_OPUS FREQ_CHAIN_A FREQ_CHAIN_B
  TONE_AAC_FILE TONE_VORBIS_FILE TONE_OPUS_FILE CHAIN_A_FILE CHAIN_B_FILE TLS_PORT CA_FILE)
# Sources before the server, so that each ends its own connection.
readonly PID_NAMES=(ffmpeg-440 ffmpeg-1000 ffmpeg-aac ffmpeg-vorbis ffmpeg-opus chain-source icecast)

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

# The AAC, Vorbis and Opus tones and the two links of the chain, all from one ffmpeg run:
# on two busy cores its start-up is a good part of the cost, so paying it once keeps start
# quick. The bitexact flags keep version strings out of the Vorbis comments and Opus tags
# and make the Ogg serial numbers the -serial_offset values instead of random ones, so
# the files, like the MP3s, are the same bytes on every run. Opus runs in hard CBR because
# its VBR spends about 125 kbit/s on a pure tone; Vorbis has no cheap CBR and spends about
# 24 kbit/s on one whatever the nominal rate says.
make_encoded_tones() {
  local tmp="$run_dir/.tones.$$"
  mkdir -p "$tmp"
  local wav_aac="$tmp/aac.wav" wav_vorbis="$tmp/vorbis.wav" wav_opus="$tmp/opus.wav"
  local wav_a="$tmp/a.wav" wav_b="$tmp/b.wav"
  local -a synth=(-R -D -n -c 2 -b 16 -e signed-integer -t wav)
  sox "${synth[@]}" -r 44100 "$wav_aac" synth 20 sine "$FREQ_AAC" vol 0.5
  sox "${synth[@]}" -r 44100 "$wav_vorbis" synth 20 sine "$FREQ_VORBIS" vol 0.5
  sox "${synth[@]}" -r 48000 "$wav_opus" synth 20 sine "$FREQ_OPUS" vol 0.5
  sox "${synth[@]}" -r 44100 "$wav_a" synth "$CHAIN_SECONDS" sine "$FREQ_CHAIN_A" vol 0.5
  sox "${synth[@]}" -r 44100 "$wav_b" synth "$CHAIN_SECONDS" sine "$FREQ_CHAIN_B" vol 0.5
  local -a exact=(-map_metadata -1 -fflags +bitexact -flags:a +bitexact)
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -i "$wav_aac" -i "$wav_vorbis" -i "$wav_opus" -i "$wav_a" -i "$wav_b" \
    -map 0:a "${exact[@]}" -c:a aac -b:a 96k -f adts "$tone_aac.tmp" \
    -map 1:a "${exact[@]}" -c:a libvorbis -b:a 96k -f ogg "$tone_vorbis.tmp" \
    -map 2:a "${exact[@]}" -c:a libopus -b:a 96k -vbr off -f ogg "$tone_opus.tmp" \
    -map 3:a "${exact[@]}" -c:a libvorbis -b:a 96k -serial_offset 1000 \
    -metadata ARTIST="$CHAIN_ARTIST" -metadata TITLE="$CHAIN_TITLE_A" -f ogg "$chain_a.tmp" \
    -map 4:a "${exact[@]}" -c:a libvorbis -b:a 96k -serial_offset 2000 \
    -metadata ARTIST="$CHAIN_ARTIST" -metadata TITLE="$CHAIN_TITLE_B" -f ogg "$chain_b.tmp"
  rm -rf "$tmp"
  local f
  for f in "$tone_aac" "$tone_vorbis" "$tone_opus" "$chain_a" "$chain_b"; do
    mv -f "$f.tmp" "$f"
  done
}

# A CA of its own, made fresh on every start, so that a test can tell "trusts this CA"
# from "trusts anything": the server certificate verifies only against CA_FILE. EC keys
# because RSA key generation alone would add about a second. The CA key is deleted once
# it has signed: nothing else should ever be able to pass for this server.
make_certs() {
  local tls="$run_dir/tls"
  rm -rf "$tls"
  mkdir -p "$tls"
  local -a key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${key[@]}" -keyout "$tls/ca.key" -out "$tls/ca.pem" -days 2 \
    -subj "/CN=Vornel Test CA $$" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null
  openssl req "${key[@]}" -keyout "$tls/server.key" -out "$tls/server.csr" -subj "/CN=$HOST" 2>/dev/null
  printf '%s\n' "subjectAltName=IP:$HOST,DNS:localhost" "basicConstraints=critical,CA:FALSE" \
    "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth" >"$tls/server.ext"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
    -set_serial "0x$(random_password)" -days 2 -extfile "$tls/server.ext" -out "$tls/server.pem" \
    2>/dev/null
  # Icecast reads certificate and key from the one file, and only after it has become
  # nobody, so that user must own it; no one else needs to read the key.
  cat "$tls/server.pem" "$tls/server.key" >"$tls/icecast.pem"
  chmod 0600 "$tls/icecast.pem"
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$tls/icecast.pem"
  fi
  rm -f "$tls/ca.key" "$tls/server.key" "$tls/server.csr" "$tls/server.ext"
  chmod 0755 "$tls"
  chmod 0644 "$tls/ca.pem" "$tls/server.pem"
  ca_file="$tls/ca.pem"
  cert_file="$tls/icecast.pem"
}

# python3 on PATH may be a version manager's shim that runs a dozen processes before the
# interpreter; with a build running beside the tests that took seconds per probe, so the
# interpreter it resolves to is asked for once and used directly from then on.
py=python3
resolve_python() {
  local exe
  exe="$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null)" || exe=""
  if [ -n "$exe" ] && [ -x "$exe" ]; then py="$exe"; fi
}

# N distinct free ports from one interpreter: holding all N sockets at once keeps them
# apart.
free_ports() {
  "$py" -c 'import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in socks))' "$1"
}

random_password() {
  od -An -N12 -tx1 /dev/urandom | tr -d ' \n'
}

write_config() {
  local port="$1" tls_port="$2"
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
    <sources>8</sources>
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
  <listen-socket>
    <port>$tls_port</port>
    <bind-address>$HOST</bind-address>
    <ssl>1</ssl>
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
  <mount type="normal">
    <mount-name>$MOUNT_AAC</mount-name>
    <stream-name>$NAME_AAC</stream-name>
    <mp3-metadata-interval>$METAINT_AAC</mp3-metadata-interval>
    <public>0</public>
  </mount>
  <mount type="normal">
    <mount-name>$MOUNT_VORBIS</mount-name>
    <stream-name>$NAME_VORBIS</stream-name>
    <public>0</public>
  </mount>
  <mount type="normal">
    <mount-name>$MOUNT_OPUS</mount-name>
    <stream-name>$NAME_OPUS</stream-name>
    <public>0</public>
  </mount>
  <mount type="normal">
    <mount-name>$MOUNT_CHAIN</mount-name>
    <stream-name>$NAME_CHAIN</stream-name>
    <public>0</public>
  </mount>
  <fileserve>1</fileserve>
  <paths>
    <basedir>/usr/share/icecast2</basedir>
    <logdir>$run_dir</logdir>
    <webroot>/usr/share/icecast2/web</webroot>
    <adminroot>/usr/share/icecast2/admin</adminroot>
    <ssl-certificate>$cert_file</ssl-certificate>
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
encode_pid=""
# The encoder finishes within seconds and writes only into RUN_DIR, so it is waited for
# rather than killed: a kill would reach the subshell but not the ffmpeg inside it.
wait_encoder() {
  [ -n "$encode_pid" ] || return 0
  local pid="$encode_pid"
  encode_pid=""
  wait "$pid"
}

on_start_exit() {
  local rc=$?
  [ "$start_ok" -eq 1 ] && return 0
  log "start failed (exit $rc)"
  wait_encoder || true
  local f
  for f in error.log encode.log ffmpeg-440.log ffmpeg-1000.log ffmpeg-aac.log ffmpeg-vorbis.log \
    ffmpeg-opus.log chain-source.log icecast.out; do
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

# Icecast up and listening on both ports, or gone: returns 1 as soon as it has exited (a
# port that was taken after it was picked shows up this way), so the caller can retry on
# other ports. A listen socket that fails to bind while another one works does not stop
# Icecast, nor does a certificate it cannot read: both only show in its output (the first
# on stderr, before the log is open), so that is read for the TLS port.
wait_for_icecast() {
  local port="$1" tls_port="$2" deadline="$3" pid
  local logs=("$run_dir/icecast.out" "$run_dir/error.log")
  pid="$(cat "$run_dir/icecast.pid")"
  while :; do
    if [ "$(http_code "http://$HOST:$port/status-json.xsl")" = 200 ]; then
      [ "$(http_code --cacert "$ca_file" "https://$HOST:$tls_port/status-json.xsl")" = 200 ] && return 0
      grep -qs "listener socket on port $tls_port" "${logs[@]}" && return 1
      if grep -qs "Invalid cert file" "${logs[@]}"; then
        die "icecast could not use $cert_file (it reads it as the user it runs as)"
      fi
    fi
    is_ours "$pid" || return 1
    [ "$SECONDS" -ge "$deadline" ] && die "icecast did not answer on ports $port and $tls_port within ${READY_SECONDS}s"
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

# The same for the AAC, Vorbis and Opus tones. -fflags +bitexact here too, since the Ogg
# muxer writes its own pages and would give the stream a random serial number on every
# start (Icecast passes Opus pages through as they come; Vorbis it pages anew, with serials
# of its own). Copying an Ogg file in a loop makes one logical stream, not a chain.
start_encoded_source() {
  local name="$1" file="$2" mount="$3" stream_name="$4" content_type="$5" format="$6"
  spawn "$name" "$run_dir/$name.log" ffmpeg -nostdin -hide_banner -loglevel warning \
    -re -stream_loop -1 -i "$file" -c copy -fflags +bitexact \
    -content_type "$content_type" -ice_name "$stream_name" -ice_description "$stream_name" \
    -ice_genre test -f "$format" \
    "icecast://source:$source_password@$HOST:$port$mount"
}

start_chain_source() {
  spawn chain-source "$run_dir/chain-source.log" "$py" "$chain_source" "$HOST" "$port" \
    "$MOUNT_CHAIN" --password "$source_password" --name "$NAME_CHAIN" "$chain_a" "$chain_b"
}

# Until every source has logged in: a probe started before that only gets a 404, and on a
# busy machine each Python probe costs a second or more of start-up, where a curl of the
# status page costs little.
wait_for_sources() {
  local deadline="$1" status mount missing tries=0 name
  while :; do
    status="$(curl -s -m 2 "http://$HOST:$port/status-json.xsl" || true)"
    missing=""
    for mount in "$MOUNT_440" "$MOUNT_1000" "$MOUNT_AAC" "$MOUNT_VORBIS" "$MOUNT_OPUS" "$MOUNT_CHAIN"; do
      grep -qF "\"http://$HOST:$port$mount\"" <<<"$status" || missing+=" $mount"
    done
    [ -z "$missing" ] && return 0
    [ "$SECONDS" -ge "$deadline" ] && die "no source on$missing within ${READY_SECONDS}s"
    if [ $((++tries % 10)) -eq 0 ]; then
      for name in "${PID_NAMES[@]}"; do
        is_ours "$(cat "$run_dir/$name.pid")" || die "$name exited while waiting for the sources"
      done
    fi
    sleep 0.1
  done
}

# Polls MOUNT with the probe command after it until that succeeds; the command gets
# --timeout appended. Between tries only the mount's own source and the server are looked
# at: each look costs a few processes, which add up on a busy machine.
wait_for_mount() {
  local mount="$1" source="$2" deadline="$3" left
  shift 3
  [ "$#" -gt 0 ] || set -- "$py" "$probe" audio "$HOST" "$port" "$mount" --bytes 4096
  while :; do
    left=$((deadline - SECONDS))
    [ "$left" -gt 0 ] || die "mount $mount gave no audio within ${READY_SECONDS}s"
    [ "$left" -le 3 ] || left=3
    if "$@" --timeout "$left" >"$run_dir/probe$(tr / _ <<<"$mount").json" 2>&1; then
      return 0
    fi
    local name
    for name in "$source" icecast; do
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
  for tool in icecast2 ffmpeg sox lame curl python3 timeout openssl; do
    command -v "$tool" >/dev/null || die "$tool not found"
  done
  resolve_python

  # Icecast opens its logs only after it has given up root.
  chmod 0777 "$run_dir"
  if [ "$(id -u)" -eq 0 ] && ! runuser -u nobody -- test -w "$run_dir"; then
    die "user nobody cannot write to $run_dir (is a parent folder closed to others?)"
  fi
  rm -f "$run_dir/icecast.env" "$run_dir"/*.log "$run_dir"/*.log.old "$run_dir/icecast.out"

  tone_440="$run_dir/tone440.mp3"
  tone_1000="$run_dir/tone1000_22k_mono.mp3"
  tone_aac="$run_dir/tone550.aac"
  tone_vorbis="$run_dir/tone660.ogg"
  tone_opus="$run_dir/tone770.opus"
  chain_a="$run_dir/chain_a_440.ogg"
  chain_b="$run_dir/chain_b_880.ogg"
  # The encoder is the slowest step of start, so it runs while the MP3s are made and
  # Icecast comes up, and only the sources that need its files wait for it.
  make_encoded_tones >"$run_dir/encode.log" 2>&1 &
  encode_pid=$!
  make_tone "$tone_440" 440 44100 2 128 s
  make_tone "$tone_1000" 1000 22050 1 32 m
  make_certs

  source_password="$(random_password)"
  admin_password="$(random_password)"

  local deadline=$((SECONDS + READY_SECONDS)) attempt
  for attempt in $(seq 1 "$PORT_ATTEMPTS"); do
    ports="$(free_ports 2)"
    read -r port tls_port <<<"$ports"
    write_config "$port" "$tls_port"
    spawn icecast "$run_dir/icecast.out" icecast2 -c "$run_dir/icecast.xml"
    wait_for_icecast "$port" "$tls_port" "$deadline" && break
    log "icecast exited or left out a port on ports $port, $tls_port (attempt $attempt)"
    stop_all
    [ "$attempt" -lt "$PORT_ATTEMPTS" ] || die "icecast would not start"
  done

  start_source ffmpeg-440 "$tone_440" "$MOUNT_440" "$NAME_440"
  start_source ffmpeg-1000 "$tone_1000" "$MOUNT_1000" "$NAME_1000"
  wait_encoder || die "encoding the AAC, Vorbis and Opus tones failed: $(tail -n 5 "$run_dir/encode.log")"
  start_encoded_source ffmpeg-aac "$tone_aac" "$MOUNT_AAC" "$NAME_AAC" audio/aac adts
  start_encoded_source ffmpeg-vorbis "$tone_vorbis" "$MOUNT_VORBIS" "$NAME_VORBIS" application/ogg ogg
  start_encoded_source ffmpeg-opus "$tone_opus" "$MOUNT_OPUS" "$NAME_OPUS" audio/ogg ogg
  start_chain_source
  wait_for_sources "$deadline"
  # All at once: each wait is mostly the server holding a new listener until its source's
  # next chunk, and one after the other they added up to several seconds.
  local sp=("$py" "$stream_probe" audio "$HOST" "$port") waiters=() w failed=0
  wait_for_mount "$MOUNT_440" ffmpeg-440 "$deadline" &
  waiters+=($!)
  wait_for_mount "$MOUNT_1000" ffmpeg-1000 "$deadline" &
  waiters+=($!)
  wait_for_mount "$MOUNT_AAC" ffmpeg-aac "$deadline" "${sp[@]}" "$MOUNT_AAC" --format adts --content-type audio/aac &
  waiters+=($!)
  wait_for_mount "$MOUNT_VORBIS" ffmpeg-vorbis "$deadline" "${sp[@]}" "$MOUNT_VORBIS" --format vorbis \
    --content-type application/ogg &
  waiters+=($!)
  wait_for_mount "$MOUNT_OPUS" ffmpeg-opus "$deadline" "${sp[@]}" "$MOUNT_OPUS" --format opus --content-type audio/ogg &
  waiters+=($!)
  wait_for_mount "$MOUNT_CHAIN" chain-source "$deadline" "${sp[@]}" "$MOUNT_CHAIN" --format vorbis \
    --content-type application/ogg &
  waiters+=($!)
  for w in "${waiters[@]}"; do wait "$w" || failed=1; done
  [ "$failed" -eq 0 ] || die "not every mount came up (see above and $run_dir/probe_*.json)"

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
MOUNT_AAC=$MOUNT_AAC
MOUNT_VORBIS=$MOUNT_VORBIS
MOUNT_OPUS=$MOUNT_OPUS
MOUNT_CHAIN=$MOUNT_CHAIN
METAINT_AAC=$METAINT_AAC
FREQ_AAC=$FREQ_AAC
FREQ_VORBIS=$FREQ_VORBIS
FREQ_OPUS=$FREQ_OPUS
FREQ_CHAIN_A=$FREQ_CHAIN_A
FREQ_CHAIN_B=$FREQ_CHAIN_B
TONE_AAC_FILE=$tone_aac
TONE_VORBIS_FILE=$tone_vorbis
TONE_OPUS_FILE=$tone_opus
CHAIN_A_FILE=$chain_a
CHAIN_B_FILE=$chain_b
TLS_PORT=$tls_port
CA_FILE=$ca_file
EOF
  mv -f "$run_dir/icecast.env.tmp" "$run_dir/icecast.env"
  start_ok=1
  local ms=$((($(date +%s%N) - t0_ns) / 1000000))
  log "up on $HOST:$port (TLS $tls_port) in ${ms} ms (env: $run_dir/icecast.env)"
}

# Read rather than sourced: a value runs to the end of its line, spaces included. Keys
# land in env_KEY, which the caller declares local.
load_env() {
  local line key
  while IFS= read -r line; do
    key="${line%%=*}"
    [[ "$key" =~ ^[A-Z0-9_]+$ ]] && printf -v "env_$key" '%s' "${line#*=}"
  done <"$1"
  for key in "${ENV_KEYS[@]}"; do
    local var="env_$key"
    [ -n "${!var:-}" ] || die "$1 has no $key"
  done
}

# --- check -------------------------------------------------------------------------------

# An ICY mount streams with its name and metadata interval, and a title set through the
# admin interface reaches the metadata blocks. Titles are put back to empty afterwards; a
# listener that connects soon after still sees the check's title first, from the burst, so
# tests should set titles of their own.
check_icy_mount() {
  local mount="$1" metaint="$2" name="$3" out title
  local base="http://$env_HOST:$env_PORT" auth="$env_ADMIN_USER:$env_ADMIN_PASSWORD"
  out="$("$py" "$probe" meta "$env_HOST" "$env_PORT" "$mount" --blocks 2 --timeout 10)" ||
    die "no metadata blocks from $mount: $out"
  grep -qF "\"icy-metaint\": \"$metaint\"" <<<"$out" || die "$mount: icy-metaint is not $metaint: $out"
  grep -qF "\"icy-name\": \"$name\"" <<<"$out" || die "$mount: icy-name is not $name: $out"

  title="Vornel check $$ $BASHPID $(date +%s%N)"
  out="$(curl -s -m 5 -u "$auth" -G --data-urlencode "mount=$mount" --data mode=updinfo \
    --data-urlencode "song=$title" "$base/admin/metadata")" || die "admin request failed"
  grep -q "<return>1</return>" <<<"$out" || die "admin metadata update refused: $out"
  out="$("$py" "$probe" meta "$env_HOST" "$env_PORT" "$mount" --expect-title "$title" --timeout 10)" ||
    die "title '$title' did not reach the metadata of $mount: $out"
  curl -s -m 5 -o /dev/null -u "$auth" -G --data-urlencode "mount=$mount" --data mode=updinfo \
    --data song= "$base/admin/metadata" || die "admin request failed"
}

check_format() {
  local mount="$1" format="$2" content_type="$3" out
  out="$("$py" "$stream_probe" audio "$env_HOST" "$env_PORT" "$mount" --format "$format" \
    --content-type "$content_type" --bytes 8192 --timeout 10)" ||
    die "$mount does not stream $format as $content_type: $out"
}

# Two links in a row, each with its own serial, both titles among them: the burst alone
# holds several links, so this needs no waiting for a track to end.
check_chain() {
  local out
  out="$("$py" "$stream_probe" chain "$env_HOST" "$env_PORT" "$env_MOUNT_CHAIN" --links 2 --timeout 15)" ||
    die "$env_MOUNT_CHAIN gave fewer than two Ogg links: $out"
  local t
  for t in "\"TITLE\": \"$CHAIN_TITLE_A\"" "\"TITLE\": \"$CHAIN_TITLE_B\"" \
    "\"ARTIST\": \"$CHAIN_ARTIST\"" '"codec": "vorbis"'; do
    grep -qF "$t" <<<"$out" || die "$env_MOUNT_CHAIN: no $t in its links: $out"
  done
  [ "$(grep -o '"serial": [0-9]*' <<<"$out" | sort -u | wc -l)" -eq 2 ] ||
    die "$env_MOUNT_CHAIN: its links share a serial number: $out"
}

# The TLS port serves the same mounts, its certificate verifies against CA_FILE and only
# against it: a client with just the system's CAs has to refuse it.
check_tls() {
  local url="https://$env_HOST:$env_TLS_PORT/status-json.xsl" code rc out
  code="$(curl -s -m 5 -o /dev/null -w '%{http_code}' --cacert "$env_CA_FILE" "$url")" ||
    die "TLS port $env_TLS_PORT: curl --cacert $env_CA_FILE failed (exit $?)"
  [ "$code" = 200 ] || die "TLS port $env_TLS_PORT: status $code"
  # 60 is a failed verification; 77, no CA store to verify with at all, is a refusal too.
  rc=0
  curl -s -m 5 -o /dev/null "$url" || rc=$?
  [ "$rc" -eq 60 ] || [ "$rc" -eq 77 ] ||
    die "TLS port $env_TLS_PORT: curl without the CA should fail verification (60), got $rc"
  out="$("$py" "$stream_probe" audio "$env_HOST" "$env_TLS_PORT" "$env_MOUNT_440" --format mpeg \
    --content-type audio/mpeg --cafile "$env_CA_FILE" --timeout 10)" ||
    die "$env_MOUNT_440 over TLS: $out"
}

cmd_check() {
  local env="$run_dir/icecast.env"
  [ -f "$env" ] || die "no $env: is the fixture started?"
  resolve_python
  local env_PORT env_HOST env_ADMIN_USER env_ADMIN_PASSWORD env_MOUNT_440 env_MOUNT_1000 \
    env_METAINT_440 env_METAINT_1000 env_TONE_440_FILE env_TONE_1000_FILE env_MOUNT_AAC \
    env_MOUNT_VORBIS env_MOUNT_OPUS env_MOUNT_CHAIN env_METAINT_AAC env_FREQ_AAC env_FREQ_VORBIS \
    env_FREQ_OPUS env_FREQ_CHAIN_A env_FREQ_CHAIN_B env_TONE_AAC_FILE env_TONE_VORBIS_FILE \
    env_TONE_OPUS_FILE env_CHAIN_A_FILE env_CHAIN_B_FILE env_TLS_PORT env_CA_FILE
  load_env "$env"
  local f
  for f in "$env_TONE_440_FILE" "$env_TONE_1000_FILE" "$env_TONE_AAC_FILE" "$env_TONE_VORBIS_FILE" \
    "$env_TONE_OPUS_FILE" "$env_CHAIN_A_FILE" "$env_CHAIN_B_FILE" "$env_CA_FILE"; do
    [ -s "$f" ] || die "$f missing"
  done
  [ "$env_FREQ_AAC $env_FREQ_VORBIS $env_FREQ_OPUS $env_FREQ_CHAIN_A $env_FREQ_CHAIN_B" = \
    "$FREQ_AAC $FREQ_VORBIS $FREQ_OPUS $FREQ_CHAIN_A $FREQ_CHAIN_B" ] ||
    die "$env was written by another version of this script: its tone frequencies differ"
  # Side by side: each check mostly waits for the server, and they touch different mounts.
  local checks=() pid failed=0
  check_icy_mount "$env_MOUNT_440" "$env_METAINT_440" "$NAME_440" &
  checks+=($!)
  check_icy_mount "$env_MOUNT_1000" "$env_METAINT_1000" "$NAME_1000" &
  checks+=($!)
  check_icy_mount "$env_MOUNT_AAC" "$env_METAINT_AAC" "$NAME_AAC" &
  checks+=($!)
  check_format "$env_MOUNT_AAC" adts audio/aac &
  checks+=($!)
  check_format "$env_MOUNT_VORBIS" vorbis application/ogg &
  checks+=($!)
  check_format "$env_MOUNT_OPUS" opus audio/ogg &
  checks+=($!)
  check_chain &
  checks+=($!)
  check_tls &
  checks+=($!)
  for pid in "${checks[@]}"; do wait "$pid" || failed=1; done
  [ "$failed" -eq 0 ] || die "check failed"
  echo "icecast fixture ok on $env_HOST:$env_PORT (TLS $env_TLS_PORT)"
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
