#!/usr/bin/env bash
# Builds the fuzzers (tests/fuzz, a project of its own, with clang and libFuzzer) and runs them one
# after another for longer than the test suite does, each on its own corpus, which carries over
# from run to run so that every run goes on from where the last one stopped.
#
# Usage: scripts/fuzz.sh [--seconds N] [--runs N] [--build-dir DIR] [--jobs N] [fuzzer...]
#   --seconds N      each fuzzer runs N seconds (default 600 without --runs)
#   --runs N         each fuzzer runs N executions (with --seconds too: whichever comes first)
#   --build-dir DIR  where to build and keep corpora (default build-fuzz/)
#   --jobs N         parallel compile jobs
# Without names every fuzzer runs. Corpora live in <build-dir>/corpus/<name>, inputs that crash in
# <build-dir>/artifacts/<name>/, each run's output in <build-dir>/logs/<name>.log.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
all=(directory_fuzz region_fuzz playlist_fuzz m3u8_fuzz ts_fuzz id3_fuzz adts_fuzz ogg_comments_fuzz
     icy_fuzz mp3_fuzz header_lines_fuzz settings_fuzz json_array_fuzz)

usage() { sed -n '6,12s/^# \{0,1\}//p' "$0" >&2; exit 2; }
seconds=""
runs=""
build="$root/build-fuzz"
jobs=()
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) [ $# -ge 2 ] || usage; seconds="$2"; shift 2 ;;
    --runs) [ $# -ge 2 ] || usage; runs="$2"; shift 2 ;;
    --build-dir) [ $# -ge 2 ] || usage; build="$(mkdir -p "$2" && cd "$2" && pwd)"; shift 2 ;;
    --jobs) [ $# -ge 2 ] || usage; jobs=(-j "$2"); shift 2 ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) names+=("$1"); shift ;;
  esac
done
[ ${#names[@]} -gt 0 ] || names=("${all[@]}")
[ -n "$seconds" ] || [ -n "$runs" ] || seconds=600
limit=()
[ -z "$seconds" ] || limit+=("-max_total_time=$seconds")
[ -z "$runs" ] || limit+=("-runs=$runs")
for name in "${names[@]}"; do
  [[ " ${all[*]} " == *" $name "* ]] || { echo "unknown fuzzer: $name (one of: ${all[*]})" >&2; exit 2; }
done

clang="$(command -v clang++ || command -v clang++-14 || true)"
[ -n "$clang" ] || { echo "clang++ is needed (scripts/deps.sh installs it)" >&2; exit 1; }
cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$clang" \
      -DVORNEL_SOURCE_DIR="$root/src" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" "${jobs[@]}" --target "${names[@]}"

failed=0
for name in "${names[@]}"; do
  corpus="$build/corpus/$name"
  artifacts="$build/artifacts/$name"
  log="$build/logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  # The same input limits as the test suite's runs, and its seeds.
  seeds=()
  max_len=65536
  case "$name" in
    directory_fuzz) seeds=("$root/tests/fixtures/stations") ;;
    region_fuzz) max_len=16384 ;;
    settings_fuzz) max_len=4096 ;;
  esac
  [ -d "$root/tests/fuzz/${name%_fuzz}_seeds" ] && seeds+=("$root/tests/fuzz/${name%_fuzz}_seeds")

  start=$(date +%s)
  status=0
  VORNEL_AUDIO_LOG=0 "$build/$name" "${limit[@]}" -rss_limit_mb=2048 -max_len="$max_len" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  seconds=$(( $(date +%s) - start ))

  # libFuzzer's final count; a run that crashed has none, and its last status line tells instead.
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  [ -n "$execs" ] || execs="$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')"
  rate=$(( seconds > 0 ? ${execs:-0} / seconds : ${execs:-0} ))
  if [ "$status" -eq 0 ]; then
    printf '%-20s %12s executions in %5s s (%s/s)\n' "$name" "${execs:-?}" "$seconds" "$rate"
  else
    failed=1
    printf '%-20s %12s executions in %5s s (%s/s): FAILED, see %s\n' "$name" "${execs:-?}" "$seconds" "$rate" "$log"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -n 5 | sed 's/^/    /'
  fi
done
exit "$failed"
