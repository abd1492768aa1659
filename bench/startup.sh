#!/usr/bin/env bash
# The program's fixed cost: wall and CPU time of `zafrel --version` and of a run that uploads one
# 10 KB file to the local stand-in, each the median (min–max) of N runs, for one or more builds run
# interleaved; beside them what load does not move: the libraries each maps and the relocations
# the loader processes (for --version, and for --pendientes as the command line's share of a run).
# The one-file run is timed twice: with s3rver as the store, as in the demo, and with the
# discarding sink as the store, as in bench/throughput.sh, which leaves out s3rver's own time
# (about 10 ms: its listing and its writing of the object).
#
#   bench/startup.sh [--repeat N] ZAFREL [ZAFREL...]     (default 20 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
REPEAT=20
if [ "${1:-}" = "--repeat" ]; then REPEAT=$2; shift 2; fi
(($#)) || { echo "uso: $0 [--repeat N] ZAFREL [ZAFREL...]" >&2; exit 2; }
PROGRAMS=()
for p in "$@"; do PROGRAMS+=("$(realpath "$p")"); done

BUILD=${ZAFREL_BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZAFREL_TESTS=OFF -DZAFREL_BENCH=ON >/dev/null
cmake --build "$BUILD" --target bench_s3_sink >/dev/null

WORK=$(mktemp -d /tmp/zafrel-startup-XXXXXX)
PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT
first_match() {   # file sed-expression -> the first match (30 s at most)
  local found=""
  for _ in $(seq 1 300); do
    found=$(sed -n "$2" "$1" | head -n1)
    [ -n "$found" ] && { echo "$found"; return 0; }
    sleep 0.1
  done
  cat "$1" >&2; return 1
}
"$BUILD/bench/bench_s3_sink" --latency 0 >"$WORK/sink.out" 2>&1 &
PIDS+=($!)
SINK=$(first_match "$WORK/sink.out" 's/.*"url":"\([^"]*\)".*/\1/p')
declare -A SERVICE=()
for store in s3rver sink; do
  origin=()
  [ "$store" = sink ] && origin=(--upload-origin "$SINK")
  node devserver/server.js --port 0 --store-port 0 --data "$WORK/store-$store" "${origin[@]}" \
    >"$WORK/devserver-$store.out" 2>"$WORK/devserver-$store.err" &
  PIDS+=($!)
  SERVICE[$store]=$(first_match "$WORK/devserver-$store.out" 's/^ZAFREL_DEVSERVER .*"service":"\([^"]*\)".*/\1/p')
done
export ZAFREL_S3_DIRECT_SUFFIX=localhost:1 ZAFREL_S3_ACCEL_SUFFIX=localhost:1 ZAFREL_S3_PROBE_SCHEME=http
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# Each build signs in once to each stand-in, in a home of its own, before anything is timed.
for i in "${!PROGRAMS[@]}"; do
  for store in s3rver sink; do
    home="$WORK/home-$store$i"
    mkdir -p "$home/files"
    XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" HOME="$home" \
      "${PROGRAMS[$i]}" --server "${SERVICE[$store]}" --login demo@zafrel.test zafrel-demo --upload >/dev/null
  done
done

# One run of a command: "WALL CPU" in microseconds, CPU being the process's user and system time
# (what the machine's other work moves least).
measure() {
  bench/measured_run.py "$WORK/measured" "$@" >/dev/null 2>&1 || { echo "falló: $*" >&2; exit 1; }
  local wall user sys
  read -r wall user sys _ <"$WORK/measured"
  awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN { printf "%d %d\n", w / 1000, (u + s) * 1e6 }'
}
declare -A VERSION=() VERSION_CPU=() RUN=() RUN_CPU=()
for round in $(seq 1 "$REPEAT"); do
  for i in "${!PROGRAMS[@]}"; do
    read -r wall cpu < <(measure "${PROGRAMS[$i]}" --version)
    VERSION[$i]+="$wall " VERSION_CPU[$i]+="$cpu "
    for store in s3rver sink; do
      home="$WORK/home-$store$i"
      file="$home/files/F$round.MXF"
      head -c 10000 /dev/urandom >"$file"
      read -r wall cpu < <(measure env XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" HOME="$home" \
        "${PROGRAMS[$i]}" --dest "Inicio$i/" --upload "$file")
      RUN[$store$i]+="$wall " RUN_CPU[$store$i]+="$cpu "
    done
  done
done

summary() {   # microsecond figures -> "median (min–max) ms"
  tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -n | awk '{v[NR]=$1} END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.1f ms (%.1f–%.1f)", m / 1000, v[1] / 1000, v[NR] / 1000 }'
}
loaded() {   # program arguments... -> libraries mapped and relocations processed
  local log
  log=$(env LD_DEBUG=files,statistics XDG_CONFIG_HOME="$WORK/count/config" XDG_DATA_HOME="$WORK/count/data" \
        HOME="$WORK/count" "$@" 2>&1 >/dev/null || true)
  echo "$(grep -c 'generating link map' <<<"$log") bibliotecas, $(sed -n 's/.*final number of relocations: *\([0-9]*\).*/\1/p' <<<"$log" | tail -n1) reubicaciones"
}
mkdir -p "$WORK/count"
for i in "${!PROGRAMS[@]}"; do
  p=${PROGRAMS[$i]}
  echo "$p"
  echo "  --version:    reloj $(summary "${VERSION[$i]}"), CPU $(summary "${VERSION_CPU[$i]}"); $(loaded "$p" --version)"
  echo "  un archivo, almacén s3rver:  reloj $(summary "${RUN[s3rver$i]}"), CPU $(summary "${RUN_CPU[s3rver$i]}")"
  echo "  un archivo, sumidero:        reloj $(summary "${RUN[sink$i]}"), CPU $(summary "${RUN_CPU[sink$i]}"); --pendientes: $(loaded "$p" --pendientes)"
done
