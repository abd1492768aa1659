#!/usr/bin/env bash
# Upload throughput of Zafrel's real program on loopback, beside the machine's limit and beside
# rclone and the aws command. What each figure includes: bench/README.md.
#
#   bench/throughput.sh [--repeat N] [--only GROUPS] [--latencies LIST] [--scale-sizes LIST]
#                       [--peer-transfers N] [--baseline ZAFREL] [--keep]
#
# Groups (all by default, in this order):
#   big    one 2 GiB file to the discarding sink: Zafrel against the reference uploader, Zafrel
#          with --limite 100M, whose rate is checked against the cap (within 5 %), and Zafrel on
#          the same file in a copy with an offload's ASC MHL history (xxh64), checked on the way up
#          and its history extended at the destination
#   small  2,000 × 200 KB and 1,000 × 10 KB to the sink at each latency (0 and 20 ms)
#   peers  500 × 1 MiB and 2,000 × 200 KB to s3rver: Zafrel straight to s3rver, rclone, aws s3 cp,
#          and Zafrel through the stand-in's signing front
#   scale  100 … 100,000 × 10 KB to the sink: Zafrel's cost per file as the number of files grows
# Contenders of one comparison run interleaved (the order rotates every round) on the same data;
# every timed run uploads to a destination of its own and is checked afterwards to have sent every
# file; a run that did not is refused and left out of the medians. --baseline adds another build of
# zafrel (e.g. of the commit before a change) to every comparison, interleaved like the others.
set -euo pipefail
shopt -s inherit_errexit
export LC_NUMERIC=C
cd "$(dirname "$0")/.."
ROOT=$(pwd)

REPEAT=3
ONLY=big,small,peers,scale
LATENCIES=0,20
SCALE_SIZES=100,1000,10000,20000,100000
PEER_TRANSFERS=8
BASELINE=""
KEEP=0
usage() {
  echo "uso: $0 [--repeat N] [--only big,small,peers,scale] [--latencies 0,20] [--scale-sizes 100,1000,...] [--peer-transfers N] [--baseline ZAFREL] [--keep]" >&2
  exit 2
}
while (($#)); do
  case "$1" in
    --repeat) REPEAT=${2:-}; shift 2 ;;
    --only) ONLY=${2:-}; shift 2 ;;
    --latencies) LATENCIES=${2:-}; shift 2 ;;
    --scale-sizes) SCALE_SIZES=${2:-}; shift 2 ;;
    --peer-transfers) PEER_TRANSFERS=${2:-}; shift 2 ;;
    --baseline) BASELINE=$(realpath "${2:-}"); shift 2 ;;
    --keep) KEEP=1; shift ;;
    *) usage ;;
  esac
done
[[ $REPEAT =~ ^[1-9][0-9]*$ && $PEER_TRANSFERS =~ ^[1-9][0-9]*$ ]] || usage
[ -z "$BASELINE" ] || [ -x "$BASELINE" ] || { echo "--baseline: $BASELINE no es un ejecutable" >&2; exit 2; }
[[ $LATENCIES =~ ^[0-9]+(,[0-9]+)*$ && $SCALE_SIZES =~ ^[1-9][0-9]*(,[1-9][0-9]*)*$ ]] || usage
declare -A WANTED=()
for g in ${ONLY//,/ }; do
  case $g in big|small|peers|scale) WANTED[$g]=1 ;; *) usage ;; esac
done
wanted() { [[ -n ${WANTED[$1]:-} ]]; }

# --- tools ---------------------------------------------------------------------------------------
scripts/setup
needed=(time)
wanted peers && needed+=(rclone awscli)
missing=()
for p in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The Debian packages' programs, not whatever else is first on the PATH.
AWS=/usr/bin/aws
RCLONE=/usr/bin/rclone
if wanted peers; then
  "$AWS" --version 2>&1 | grep -q '^aws-cli/2\.' || { echo "se necesita aws-cli 2 en $AWS" >&2; exit 1; }
fi

BUILD=${ZAFREL_BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZAFREL_TESTS=OFF -DZAFREL_BENCH=ON >/dev/null
cmake --build "$BUILD" --target zafrel bench_s3_sink bench_reference_uploader bench_mhl_record -j"$(nproc)" >/dev/null
ZAFREL="$ROOT/$BUILD/zafrel"
SINK_BIN="$ROOT/$BUILD/bench/bench_s3_sink"
REFERENCE="$ROOT/$BUILD/bench/bench_reference_uploader"

# A folder named by ZAFREL_BENCH_DIR is kept, with its data sets for the next time; a temporary
# one is removed at the end unless --keep.
if [ -n "${ZAFREL_BENCH_DIR:-}" ]; then
  WORK=$ZAFREL_BENCH_DIR
  KEEP=1
else
  WORK=$(mktemp -d /tmp/zafrel-bench-XXXXXX)
fi
rm -rf "${WORK:?}/runs"
mkdir -p "$WORK/data" "$WORK/runs" "$WORK/homes"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  if ((KEEP)); then echo "Datos y registros en $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

# --- data ----------------------------------------------------------------------------------------
# COUNT files of SIZE random bytes in a folder of their own (kept when ZAFREL_BENCH_DIR is reused),
# with md5sum's manifest beside it for checking what a store holds.
dataset() {   # count size -> prints the folder
  local dir="$WORK/data/$1x$2"
  if [ ! -f "$dir.md5" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && head -c $(($1 * $2)) /dev/urandom | split -b "$2" -d -a 6 --additional-suffix=.MXF - C)
    (cd "$dir" && find . -type f -printf '%P\n' | sort | xargs -d '\n' md5sum) >"$dir.md5.tmp"
    mv "$dir.md5.tmp" "$dir.md5"
  fi
  echo "$dir"
}
warm() { find "$1" -type f -exec cat {} + >/dev/null; }
# The same files (hard links) in a sibling folder "<folder>-mhl" with an offload's history.
with_history() {   # folder -> prints the sibling
  local dir="$1-mhl"
  if [ ! -f "$dir/ascmhl/ascmhl_chain.xml" ]; then
    rm -rf "$dir"
    cp -al "$1" "$dir"
    "$ROOT/$BUILD/bench/bench_mhl_record" "$dir"
  fi
  echo "$dir"
}
PART=33554432
puts_per_file() { if (($1 > PART)); then echo $((($1 + PART - 1) / PART)); else echo 1; fi; }

# --- servers -------------------------------------------------------------------------------------
wait_line() {   # file prefix -> the first line starting with prefix (30 s at most)
  local line
  for _ in $(seq 1 300); do
    line=$(grep -m1 "^$2" "$1" 2>/dev/null || true)
    [ -n "$line" ] && { echo "$line"; return 0; }
    sleep 0.1
  done
  echo "no arrancó: $1" >&2; return 1
}
json_field() { sed -n "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/p" <<<"$1"; }

declare -A URL=() S3RVER=() BUCKET=()
start_sink() {   # name latency
  "$SINK_BIN" --latency "$2" >"$WORK/$1.out" 2>&1 &
  PIDS+=($!)
  URL[$1]=$(json_field "$(wait_line "$WORK/$1.out" S3_SINK)" url)
}

# Commands are built as arrays (CMD) rather than functions, so that the measuring wrapper runs the
# program itself.
# Zafrel gets a home of its own per stand-in (settings, session cookie, queue), signed in once before
# anything is timed, as a crew member's machine is; every timed run starts from a copy of it, so no
# run inherits another's queue. Its route probe is pointed at a port that refuses (no Internet).
zafrel_command() {   # home [program]
  CMD=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM
    XDG_DATA_HOME="$1/data" XDG_CONFIG_HOME="$1/config" HOME="$1"
    ZAFREL_S3_DIRECT_SUFFIX=localhost:1 ZAFREL_S3_ACCEL_SUFFIX=localhost:1 ZAFREL_S3_PROBE_SCHEME=http
    "${2:-$ZAFREL}")
}
# The --baseline contender beside a Zafrel run on that stand-in, or nothing.
baseline_on() { [ -z "$BASELINE" ] || echo "zafrel-base@$1"; }
start_standin() {   # name devserver-options...
  local name=$1 line
  shift
  rm -rf "${WORK:?}/$name" "$WORK/homes/$name"
  node devserver/server.js --port 0 --store-port 0 --data "$WORK/$name" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  PIDS+=($!)
  line=$(wait_line "$WORK/$name.out" ZAFREL_DEVSERVER)
  URL[$name]=$(json_field "$line" service)
  S3RVER[$name]=$(json_field "$line" s3rver)
  BUCKET[$name]=$(json_field "$line" bucket)
  mkdir -p "$WORK/homes/$name/data" "$WORK/homes/$name/config"
  zafrel_command "$WORK/homes/$name"
  "${CMD[@]}" --server "${URL[$name]}" --login demo@zafrel.test zafrel-demo --upload \
    >"$WORK/homes/$name.signin" 2>&1 || { echo "no se pudo entrar en $name" >&2; cat "$WORK/homes/$name.signin" >&2; exit 1; }
}

# --- peers ---------------------------------------------------------------------------------------
export AWS_ACCESS_KEY_ID=S3RVER AWS_SECRET_ACCESS_KEY=S3RVER AWS_DEFAULT_REGION=us-east-1
export AWS_CONFIG_FILE="$WORK/aws.config"
# Set like Zafrel: parts of 32 MiB above 32 MiB, and as many requests in flight as Zafrel allows
# small files (--peer-transfers).
cat >"$AWS_CONFIG_FILE" <<CONFIG
[default]
s3 =
  addressing_style = path
  multipart_threshold = 32MB
  multipart_chunksize = 32MB
  max_concurrent_requests = $PEER_TRANSFERS
CONFIG
aws_command() {   # endpoint
  CMD=("$AWS" --endpoint-url "$1" s3 cp --only-show-errors)
}
rclone_command() {   # endpoint
  # rclone 1.60 refuses to start with AWS_CA_BUNDLE set.
  CMD=(env -u AWS_CA_BUNDLE RCLONE_CONFIG_S3R_TYPE=s3 RCLONE_CONFIG_S3R_PROVIDER=Other
    RCLONE_CONFIG_S3R_ACCESS_KEY_ID=S3RVER RCLONE_CONFIG_S3R_SECRET_ACCESS_KEY=S3RVER
    RCLONE_CONFIG_S3R_ENDPOINT="$1" RCLONE_CONFIG_S3R_FORCE_PATH_STYLE=true
    "$RCLONE" copy --s3-no-check-bucket --s3-upload-cutoff 32M --s3-chunk-size 32M
    --s3-upload-concurrency 8 --transfers "$PEER_TRANSFERS" --checkers 8 --config /dev/null)
}

# --- timed runs ----------------------------------------------------------------------------------
RESULTS="$WORK/results.tsv"
: >"$RESULTS"
RUN=0
REFUSED=0

label_of() {   # tool
  case $1 in
    zafrel) echo "Zafrel" ;;
    zafrel-front) echo "Zafrel por la entrada" ;;
    zafrel-base) echo "Zafrel de base" ;;
    zafrel-limit) echo "Zafrel --limite $LIMIT" ;;
    zafrel-mhl) echo "Zafrel con registro ASC MHL" ;;
    ref*) echo "referencia (${1#ref} hilos)" ;;
    rclone) echo "rclone copy" ;;
    aws) echo "aws s3 cp" ;;
  esac
}

# Wall time (ns), user and system CPU seconds (to the microsecond) and peak RSS (KiB) of the
# command's whole process tree (bench/measured_run.py); sets WALL_NS CPU_USER CPU_SYS RSS_KB and
# answers the exit code.
timed() {   # output-prefix command...
  local out=$1 rc=0
  shift
  bench/measured_run.py "$out.time" "$@" >"$out.stdout" 2>"$out.stderr" || rc=$?
  read -r WALL_NS CPU_USER CPU_SYS RSS_KB <"$out.time"
  return "$rc"
}

sink_counters() { node bench/check_run.js counters "${URL[$1]}"; }

# One timed run of a contender ("tool@server") on a data set; checks it and appends its row.
run_one() {   # group title contender folder count size
  local group=$1 title=$2 contender=$3 data=$4 count=$5 size=$6
  local tool=${contender%@*} server=${contender#*@}
  RUN=$((RUN + 1))
  local tag="r$RUN" out="$WORK/runs/$RUN" rc=0 status=ok sink="" before="" prefix="" stored=""
  local puts=$((count * $(puts_per_file "$size"))) bytes=$((count * size))
  mkdir -p "$out"
  if [ "$tool" = zafrel-mhl ]; then
    # The history goes up extended, each file in one request: the offload's hash list, then this
    # transfer's and the new chain, whose sizes the report gives.
    data=$(with_history "$data")
    local history=$(stat -c %s "$data"/ascmhl/*.mhl)
    count=$((count + 3)); puts=$((puts + 3)); bytes=$((bytes + history))
  fi
  case $server in
    sink*) sink=$server ;;
    ds-sink*) sink=${server#ds-} ;;
  esac
  [ -n "$sink" ] && before=$(sink_counters "$sink")

  case $tool in
    zafrel|zafrel-front|zafrel-base|zafrel-limit|zafrel-mhl)
      cp -a "$WORK/homes/$server" "$out/home"
      stored="demo-films/Bench/$tag"
      prefix="$stored/$(basename "$data")/"
      if [ "$tool" = zafrel-base ]; then zafrel_command "$out/home" "$BASELINE"; else zafrel_command "$out/home"; fi
      [ "$tool" = zafrel-limit ] && CMD+=(--limite "$LIMIT")
      timed "$out/run" "${CMD[@]}" --server "${URL[$server]}" --dest "Bench/$tag/" \
        --login demo@zafrel.test zafrel-demo --upload "$data" || rc=$?
      ;;
    ref*)
      timed "$out/run" "$REFERENCE" --threads "${tool#ref}" "${URL[$sink]}" "$data" || rc=$?
      ;;
    rclone)
      stored="bench/$tag"
      prefix="$stored/"
      rclone_command "${S3RVER[$server]}"
      timed "$out/run" "${CMD[@]}" "$data" "s3r:${BUCKET[$server]}/$prefix" || rc=$?
      ;;
    aws)
      stored="bench/$tag"
      prefix="$stored/"
      aws_command "${S3RVER[$server]}"
      timed "$out/run" "${CMD[@]}" --recursive "$data" "s3://${BUCKET[$server]}/$prefix" || rc=$?
      ;;
  esac

  # Did it do the whole work? Its own verdict first, then what the sink or the store received.
  local summary
  if ((rc != 0)); then
    status="terminó con código $rc"
  elif [[ $tool == zafrel* ]]; then
    summary=$(grep -E '^[0-9]+ subidos, [0-9]+ ya existían, [0-9]+ errores' "$out/run.stdout" || true)
    [[ $summary == "$count subidos, 0 ya existían, 0 errores,"* ]] || status="informe: ${summary:-sin resumen}"
    if [[ $tool == zafrel-mhl && $status == ok ]]; then
      local checked
      checked=$(grep -c '^OK verificado (ASC MHL, xxh64)' "$out/run.stdout" || true)
      ((checked == count - 3)) || status="informe: $checked archivos comprobados contra el registro, se esperaban $((count - 3))"
      bytes=$((bytes + $(awk -F'\t' '$3 ~ /\/ascmhl\/(0002_.*\.mhl|ascmhl_chain\.xml)$/ { s += $2 } END { print s + 0 }' "$out/run.stdout")))
    fi
  elif [[ $tool == ref* ]]; then
    grep -q "\"files\":$count,.*\"failures\":0}" "$out/run.stdout" || status="informe: $(cat "$out/run.stdout")"
  fi
  if [[ $status == ok && -n $sink ]]; then
    local after got_puts got_bytes
    after=$(sink_counters "$sink")
    got_puts=$((${after% *} - ${before% *}))
    got_bytes=$((${after#* } - ${before#* }))
    ((got_puts == puts && got_bytes == bytes)) ||
      status="el sumidero recibió $got_puts PUT y $got_bytes bytes, se esperaban $puts y $bytes"
  elif [[ $status == ok ]]; then
    local check
    # s3rver answers a PUT a moment before its last write reaches the file: one second look.
    check=$(node bench/check_run.js objects "${URL[$server]}" "${BUCKET[$server]}" "$prefix" "$data.md5") ||
      { sleep 1; check=$(node bench/check_run.js objects "${URL[$server]}" "${BUCKET[$server]}" "$prefix" "$data.md5") ||
        status="almacén: $check"; }
  fi
  # What s3rver stored is not needed any more; without this the peers group would need tens of GB.
  [ -n "$stored" ] && [ -z "$sink" ] && rm -rf "${WORK:?}/$server/store/${BUCKET[$server]}/$stored"

  printf '%s\t%s\t%s\t%s\t%d\t%s\t%d\t%s\t%s\t%d\t%d\t%d\n' "$group" "$title" "$tool" "$(label_of "$tool")" "$RUN" \
    "$status" "$WALL_NS" "$CPU_USER" "$CPU_SYS" "$RSS_KB" "$bytes" "$count" >>"$RESULTS"
  printf '  #%d %-26s %8.2f s  %s\n' "$RUN" "$(label_of "$tool")" "$(awk -v n="$WALL_NS" 'BEGIN { print n / 1e9 }')" "$status"
  if [[ $status != ok ]]; then
    REFUSED=$((REFUSED + 1))
    echo "    rechazada; salida en $out" >&2
    tail -n 3 "$out/run.stderr" >&2 || true
  elif ((!KEEP)); then
    rm -rf "$out"
  fi
}

# Interleaved rounds: every contender once per round, the order rotated by one each round, so
# that no contender always runs right after the same other one.
compare() {   # group title folder count size contender...
  local group=$1 title=$2 data=$3 count=$4 size=$5
  shift 5
  local contenders=("$@") n=$# r i
  echo "$title"
  warm "$data"
  for ((r = 0; r < REPEAT; r++)); do
    for ((i = 0; i < n; i++)); do
      run_one "$group" "$title" "${contenders[(i + r) % n]}" "$data" "$count" "$size"
    done
  done
}

# Where Zafrel's CPU goes, thread by thread: REPEAT more runs under perf, after the timed ones and
# not among them (perf adds its own cost), each checked like them. perf samples every millisecond
# of each thread's CPU; a thread is known by its name: "zafrel" the main thread (the engine),
# "http-servicio" and "http-almacen" the HTTP threads of the service and of the store, "Thread
# (pooled)" the pool (reads and digests). Prints ms of CPU per file, median (min–max) per name.
thread_split() {   # folder count server
  local data=$1 count=$2 server=$3 r out summary
  command -v perf >/dev/null || { echo "  CPU por hilo: no hay perf en esta máquina"; return 0; }
  for ((r = 1; r <= REPEAT; r++)); do
    RUN=$((RUN + 1))
    out="$WORK/runs/$RUN"
    mkdir -p "$out"
    cp -a "$WORK/homes/$server" "$out/home"
    zafrel_command "$out/home"
    perf record -q -F 1000 -e task-clock -o "$out/perf.data" -- "${CMD[@]}" --server "${URL[$server]}" \
      --dest "Bench/hilos$RUN/" --login demo@zafrel.test zafrel-demo --upload "$data" >"$out/stdout" 2>"$out/stderr" || true
    summary=$(grep -E '^[0-9]+ subidos, [0-9]+ ya existían, [0-9]+ errores' "$out/stdout" || true)
    if [[ $summary != "$count subidos, 0 ya existían, 0 errores,"* ]]; then
      echo "  CPU por hilo: ejecución rechazada (${summary:-sin resumen}); salida en $out" >&2
      REFUSED=$((REFUSED + 1))
      continue
    fi
    # (The wrapper `env` has a sample or none before it becomes the program.)
    perf script -F comm -i "$out/perf.data" 2>/dev/null | sed 's/^ *//; s/ *$//' | grep -vx env | sort | uniq -c |
      sed "s/^ *\([0-9]*\) /\1\t/" >"$out/threads"
    ((KEEP)) || rm -f "$out/perf.data"
  done
  cat "$WORK"/runs/*/threads 2>/dev/null | awk -F '\t' -v files="$count" '{ printf "%s\t%.6f\n", $2, $1 / files }' |
    sort -t "$(printf '\t')" -k1,1 -k2,2g | awk -F '\t' -v runs="$REPEAT" '
      function flush() {
        if (!n) return
        med = (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        line = line sprintf(" %s %.3f (%.3f–%.3f);", name, med, v[1], v[n])
      }
      $1 != name { flush(); name = $1; n = 0 }
      { v[++n] = $2 }
      END { flush(); print "  CPU por hilo, ms por archivo, mediana (mín–máx) de " runs ":" line }'
  rm -f "$WORK"/runs/*/threads
}

# --- the groups ----------------------------------------------------------------------------------
if wanted big || wanted small || wanted scale; then
  for latency in ${LATENCIES//,/ }; do
    if ((latency == 0)) || wanted small; then
      start_sink "sink$latency" "$latency"
      start_standin "ds-sink$latency" --upload-origin "${URL[sink$latency]}" --latency "$latency"
    fi
  done
  # The big and scale groups are measured without simulated distance.
  if [ -z "${URL[sink0]:-}" ]; then
    start_sink sink0 0
    start_standin ds-sink0 --upload-origin "${URL[sink0]}"
  fi
fi

# The start of a 1 TiB upload: its first SPARSE_SECONDS, for Zafrel's peak memory while it plans and
# sends parts of 105 MiB (four permits each, so two are in memory at a time). The file is sparse and
# takes no disk. Only the program is killed, so that time(1) still reports its peak; the parts it
# verified by then (in its queue file) show that it was uploading all along.
SPARSE_SECONDS=30
sparse_start() {
  local sparse="$WORK/data/sparse/DISPERSO.MXF" home="$WORK/runs/sparse/home" program parts
  mkdir -p "$(dirname "$sparse")" "$WORK/runs/sparse"
  [ -f "$sparse" ] || truncate -s 1T "$sparse"
  rm -rf "$home"
  cp -a "$WORK/homes/ds-sink0" "$home"
  zafrel_command "$home"
  /usr/bin/time -f '%M' -o "$WORK/runs/sparse/time" "${CMD[@]}" --server "${URL[ds-sink0]}" --dest "Bench/sparse-$RUN/" \
    --login demo@zafrel.test zafrel-demo --upload "$sparse" >/dev/null 2>&1 &
  local time_pid=$!
  sleep "$SPARSE_SECONDS"
  program=$(pgrep -P "$(pgrep -P "$time_pid")" || pgrep -P "$time_pid" || true)
  # Verified parts are in the queue file and in the journal beside it (as "N":"etag" and "n":N).
  parts=$(cat "$home/data/Zafrel/queue.json" "$home/data/Zafrel/queue.journal" 2>/dev/null |
    grep -oE '"[0-9]+":"|"n":[0-9]+' | grep -oE '[0-9]+' | sort -un | wc -l || true)
  if [ -z "$program" ]; then
    echo "1 TiB disperso: el programa terminó antes de $SPARSE_SECONDS s" >&2
    REFUSED=$((REFUSED + 1))
  else
    kill -KILL "$program"
  fi
  wait "$time_pid" || true
  printf '1 TiB disperso, primeros %d s: %d partes verificadas, memoria máxima %.1f MB (límite 400 MB)\n' \
    "$SPARSE_SECONDS" "$parts" "$(awk -v k="$(tail -n 1 "$WORK/runs/sparse/time")" 'BEGIN { print k / 1024 }')"
}

# The cap of --limite over the whole run (sign-in, listing and hashing included): the median rate of
# the capped runs beside the cap, and the worst run.
LIMIT=100M
LIMIT_BYTES=100000000
LIMIT_MISSED=0
limit_check() {
  awk -F '\t' '$3 == "zafrel-limit" && $6 == "ok" { printf "%.0f\n", $11 / ($7 / 1e9) }' "$RESULTS" | sort -g |
    awk -v cap="$LIMIT_BYTES" -v label="$LIMIT" '
      { rates[++n] = $1 }
      END {
        if (n == 0) { print "--limite " label ": ninguna ejecución válida"; exit 1 }
        median = (n % 2) ? rates[(n + 1) / 2] : (rates[n / 2] + rates[n / 2 + 1]) / 2
        worst = 0; for (i = 1; i <= n; i++) { d = (rates[i] - cap) / cap * 100; if (d < 0) d = -d; if (d > worst) worst = d }
        printf "--limite %s: mediana %.1f MB/s (%+.1f %% del límite; mín %.1f, máx %.1f; peor desvío %.1f %%, %d ejecuciones): %s\n",
          label, median / 1e6, (median - cap) / cap * 100, rates[1] / 1e6, rates[n] / 1e6, worst, n,
          (worst <= 5 ? "dentro del 5 %" : "FUERA del 5 %")
        exit (worst <= 5 ? 0 : 1)
      }'
}

if wanted big; then
  compare big "2 GiB en un archivo, al sumidero" "$(dataset 1 2147483648)" 1 2147483648 ref2@sink0 zafrel@ds-sink0 \
    zafrel-mhl@ds-sink0 zafrel-limit@ds-sink0 $(baseline_on ds-sink0)
  limit_check || LIMIT_MISSED=1
  thread_split "$(dataset 1 2147483648)" 1 ds-sink0
  sparse_start
fi

if wanted small; then
  for latency in ${LATENCIES//,/ }; do
    for shape in "2000 200000 200 KB" "1000 10000 10 KB"; do
      read -r count size amount unit <<<"$shape"
      compare small "$count × $amount $unit al sumidero, latencia $latency ms" "$(dataset "$count" "$size")" "$count" "$size" \
        "zafrel@ds-sink$latency" "ref2@sink$latency" "ref8@sink$latency" $(baseline_on "ds-sink$latency")
      ((latency != 0)) || thread_split "$(dataset "$count" "$size")" "$count" "ds-sink$latency"
    done
  done
fi

if wanted peers; then
  start_standin ds-direct --direct-store
  start_standin ds-front
  for shape in "500 1048576 1 MiB" "2000 200000 200 KB"; do
    read -r count size amount unit <<<"$shape"
    compare peers "$count × $amount $unit a s3rver" "$(dataset "$count" "$size")" "$count" "$size" \
      zafrel@ds-direct rclone@ds-direct aws@ds-direct zafrel-front@ds-front $(baseline_on ds-direct)
  done
fi

if wanted scale; then
  for count in ${SCALE_SIZES//,/ }; do
    compare scale "$count × 10 KB al sumidero (escala)" "$(dataset "$count" 10000)" "$count" 10000 zafrel@ds-sink0 ref2@sink0 \
      $(baseline_on ds-sink0)
  done
fi

node bench/summarize.js "$RESULTS"
((LIMIT_MISSED == 0)) || { echo "--limite $LIMIT no se mantuvo dentro del 5 %" >&2; exit 1; }
if ((REFUSED)); then
  echo "$REFUSED ejecuciones rechazadas: las cifras de arriba no las cuentan" >&2
  exit 1
fi
