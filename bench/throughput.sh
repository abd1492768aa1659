#!/usr/bin/env bash
# Upload throughput of Zafrel's real program on loopback, beside the machine's limit and beside
# rclone and the aws command. See bench/README.md.
#
#   bench/throughput.sh [--repeat N] [--keep] [--big-only]
#
# First, a fast store: bench_s3_sink (discards bodies, answers MD5 ETags) behind the local stand-in
#   (devserver --upload-origin), so the figures are the client's own cost. The reference uploader
#   (read + MD5 + PUT of 32 MiB parts on 2 threads, no service calls) gives the machine's limit.
# Then s3rver: the stand-in's real store; Zafrel, rclone and `aws s3 cp` upload the same files.
# Data sets: one 2 GiB file, and 2,000 files of 200 KB. Last, the start of a 1 TiB sparse file's
# upload to the fast store, for its peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

REPEAT=1
KEEP=0
BIG_ONLY=0
while (($#)); do
  case "$1" in
    --repeat) REPEAT=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    --big-only) BIG_ONLY=1; shift ;;
    *) echo "uso: $0 [--repeat N] [--keep] [--big-only]" >&2; exit 2 ;;
  esac
done

scripts/setup
missing=()
tools=(time bc)
((BIG_ONLY)) || tools+=(rclone awscli)
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The Debian package's aws (version 2), not whatever else is first on the PATH.
AWS=/usr/bin/aws
((BIG_ONLY)) || "$AWS" --version 2>&1 | grep -q '^aws-cli/2\.' || { echo "se necesita aws-cli 2 en $AWS" >&2; exit 1; }
RCLONE=/usr/bin/rclone

BUILD=${ZAFREL_BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZAFREL_TESTS=OFF -DZAFREL_BENCH=ON >/dev/null
cmake --build "$BUILD" --target zafrel bench_s3_sink bench_reference_uploader -j"$(nproc)" >/dev/null
ZAFREL="$ROOT/$BUILD/zafrel"
SINK_BIN="$ROOT/$BUILD/bench/bench_s3_sink"
REFERENCE="$ROOT/$BUILD/bench/bench_reference_uploader"

WORK=${ZAFREL_BENCH_DIR:-$(mktemp -d /tmp/zafrel-bench-XXXXXX)}
mkdir -p "$WORK"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  ((KEEP)) || rm -rf "$WORK"
}
trap cleanup EXIT

# --- data ----------------------------------------------------------------------------------------
BIG_DIR="$WORK/data/grande"
SMALL_DIR="$WORK/data/pequenos"
BIG="$BIG_DIR/BIG.MXF"
BIG_BYTES=2147483648
SMALL_COUNT=2000
SMALL_SIZE=200000
if [ ! -f "$BIG" ]; then
  mkdir -p "$BIG_DIR"
  head -c "$BIG_BYTES" /dev/urandom >"$BIG"
fi
if ((!BIG_ONLY)) && [ ! -f "$SMALL_DIR/C0000.MXF" ]; then
  mkdir -p "$SMALL_DIR"
  (cd "$SMALL_DIR" && head -c $((SMALL_COUNT * SMALL_SIZE)) /dev/urandom | split -b "$SMALL_SIZE" -d -a 4 - C && \
    for f in C*; do mv "$f" "$f.MXF"; done)
fi
# 1 TiB that takes no disk: every read gives zeros. The stand-in plans it in 105 MiB parts.
SPARSE="$WORK/data/disperso/DISPERSO.MXF"
mkdir -p "$(dirname "$SPARSE")"
[ -f "$SPARSE" ] || truncate -s 1T "$SPARSE"
SMALL_BYTES=$((SMALL_COUNT * SMALL_SIZE))
warm() { cat "$@" >/dev/null; }

# --- servers -------------------------------------------------------------------------------------
wait_line() {   # file prefix -> the first line starting with prefix (30 s at most)
  for _ in $(seq 1 300); do
    line=$(grep -m1 "^$2" "$1" 2>/dev/null || true)
    [ -n "$line" ] && { echo "$line"; return 0; }
    sleep 0.1
  done
  echo "no arrancó: $1" >&2; return 1
}
json_field() { sed -n "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/p" <<<"$1"; }

"$SINK_BIN" >"$WORK/sink.out" 2>&1 &
PIDS+=($!)
SINK=$(json_field "$(wait_line "$WORK/sink.out" S3_SINK)" url)

node devserver/server.js --port 0 --store-port 0 --data "$WORK/ds-sink" --upload-origin "$SINK" \
  >"$WORK/ds-sink.out" 2>"$WORK/ds-sink.err" &
PIDS+=($!)
SERVICE_SINK=$(json_field "$(wait_line "$WORK/ds-sink.out" ZAFREL_DEVSERVER)" service)

if ((!BIG_ONLY)); then
  node devserver/server.js --port 0 --store-port 0 --data "$WORK/ds-s3rver" \
    >"$WORK/ds-s3rver.out" 2>"$WORK/ds-s3rver.err" &
  PIDS+=($!)
  LINE=$(wait_line "$WORK/ds-s3rver.out" ZAFREL_DEVSERVER)
  SERVICE_S3RVER=$(json_field "$LINE" service)
  S3RVER=$(json_field "$LINE" s3rver)
  BUCKET=$(json_field "$LINE" bucket)
fi

# --- measuring -----------------------------------------------------------------------------------
# Each measured command runs under /usr/bin/time; a row is: label, bytes, files, seconds, CPU s, peak RSS KB.
RESULTS="$WORK/results.tsv"
: >"$RESULTS"
RUN=0
measure() {   # label bytes files command...
  local label=$1 bytes=$2 files=$3 best="" line
  shift 3
  for _ in $(seq 1 "$REPEAT"); do
    RUN=$((RUN + 1))
    # Through bash so that the helpers below can be timed; time(1) counts the whole process tree.
    if ! RUN=$RUN /usr/bin/time -f '%e %U %S %M' -o "$WORK/time.txt" bash -c '"$@"' _ "$@" >"$WORK/out.$RUN.txt" 2>&1; then
      echo "falló: $label (ver $WORK/out.$RUN.txt)" >&2
      tail -n 5 "$WORK/out.$RUN.txt" >&2
    fi
    read -r elapsed user sys rss <"$WORK/time.txt"
    line="$label	$bytes	$files	$elapsed	$(echo "$user + $sys" | bc -l)	$rss"
    if [ -z "$best" ] || (($(echo "$elapsed < $(cut -f4 <<<"$best")" | bc -l))); then best=$line; fi
  done
  echo "$best" >>"$RESULTS"
  echo "  $label: $(cut -f4 <<<"$best") s"
}

# One home per stand-in (settings, session cookie, queue), signed in once before anything is timed,
# as a crew member's machine is: the timed runs measure uploading, not the password check.
zafrel() {   # service dest paths...
  local service=$1 dest=$2
  shift 2
  local home="$WORK/home-${service##*:}"
  mkdir -p "$home/data" "$home/config"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" HOME="$home" \
    ZAFREL_S3_DIRECT_SUFFIX=localhost:1 ZAFREL_S3_ACCEL_SUFFIX=localhost:1 ZAFREL_S3_PROBE_SCHEME=http \
    "$ZAFREL" --server "$service" --dest "$dest" --login demo@zafrel.test zafrel-demo --upload "$@"
}
zafrel "$SERVICE_SINK" "" >/dev/null
((BIG_ONLY)) || zafrel "$SERVICE_S3RVER" "" >/dev/null

export AWS_ACCESS_KEY_ID=S3RVER AWS_SECRET_ACCESS_KEY=S3RVER AWS_DEFAULT_REGION=us-east-1
export AWS_CONFIG_FILE="$WORK/aws.config"
cat >"$AWS_CONFIG_FILE" <<CONFIG
[default]
s3 =
  addressing_style = path
  multipart_threshold = 32MB
  multipart_chunksize = 32MB
  max_concurrent_requests = 8
CONFIG
awscp() { "$AWS" --endpoint-url "$S3RVER" s3 cp --only-show-errors "$@"; }
rclonecp() {
  env -u AWS_CA_BUNDLE RCLONE_CONFIG_S3R_TYPE=s3 RCLONE_CONFIG_S3R_PROVIDER=Other \
    RCLONE_CONFIG_S3R_ACCESS_KEY_ID=S3RVER RCLONE_CONFIG_S3R_SECRET_ACCESS_KEY=S3RVER \
    RCLONE_CONFIG_S3R_ENDPOINT="$S3RVER" RCLONE_CONFIG_S3R_FORCE_PATH_STYLE=true \
    "$RCLONE" copy --s3-no-check-bucket --s3-upload-cutoff 32M --s3-chunk-size 32M \
    --s3-upload-concurrency 8 --transfers 2 --checkers 8 --config /dev/null "$@"
}

export WORK ZAFREL AWS RCLONE S3RVER
export -f zafrel awscp rclonecp

echo "Tienda rápida ($SINK):"
warm "$BIG"
measure "referencia 2 GiB (sumidero)" "$BIG_BYTES" 1 "$REFERENCE" "$SINK" "$BIG"
measure "Zafrel 2 GiB (sumidero)" "$BIG_BYTES" 1 zafrel "$SERVICE_SINK" "Bench/sink-big-$RANDOM/" "$BIG"

# The start of a 1 TiB upload: the first SPARSE_SECONDS of it, for its peak memory. Parts of
# 105 MiB take four permits each, so two are in memory at a time. Only the program is killed, so
# that time(1), through the shell that waits for it, still sees its peak; the parts it verified by
# then (in its queue file) show that it was uploading all along.
SPARSE_SECONDS=30
/usr/bin/time -f '%M' -o "$WORK/sparse.txt" \
  bash -c 'zafrel "$@"' _ "$SERVICE_SINK" "Bench/sparse-$RANDOM/" "$SPARSE" >/dev/null 2>&1 &
TIME_PID=$!
sleep "$SPARSE_SECONDS"
SHELL_PID=$(pgrep -P "$TIME_PID")
PROGRAM_PID=$(pgrep -P "$SHELL_PID" || echo "$SHELL_PID")   # the shell may have exec'd it
SPARSE_PARTS=$(grep -o '"[0-9]*":"' "$WORK/home-${SERVICE_SINK##*:}/data/Zafrel/queue.json" | wc -l)
kill -KILL "$PROGRAM_PID"
wait "$TIME_PID" || true
SPARSE_RSS_MB=$(echo "$(tail -n 1 "$WORK/sparse.txt") / 1024" | bc -l)
echo "  Zafrel 1 TiB disperso, primeros $SPARSE_SECONDS s: $SPARSE_PARTS partes verificadas," \
  "$(printf '%.1f' "$SPARSE_RSS_MB") MB de memoria máxima"

if ((!BIG_ONLY)); then
warm "$SMALL_DIR"/*
measure "referencia 2000 × 200 KB (sumidero)" "$SMALL_BYTES" "$SMALL_COUNT" "$REFERENCE" "$SINK" "$SMALL_DIR"/*
measure "Zafrel 2000 × 200 KB (sumidero)" "$SMALL_BYTES" "$SMALL_COUNT" zafrel "$SERVICE_SINK" "Bench/sink-small-$RANDOM/" "$SMALL_DIR"

echo "s3rver ($S3RVER):"
warm "$BIG"
measure "Zafrel 2 GiB (s3rver)" "$BIG_BYTES" 1 zafrel "$SERVICE_S3RVER" "Bench/zafrel-big-$RANDOM/" "$BIG"
measure "rclone 2 GiB (s3rver)" "$BIG_BYTES" 1 rclonecp "$BIG" "s3r:$BUCKET/bench/rclone-big-$RANDOM/"
measure "aws s3 cp 2 GiB (s3rver)" "$BIG_BYTES" 1 awscp "$BIG" "s3://$BUCKET/bench/aws-big-$RANDOM/BIG.MXF"
warm "$SMALL_DIR"/*
measure "Zafrel 2000 × 200 KB (s3rver)" "$SMALL_BYTES" "$SMALL_COUNT" zafrel "$SERVICE_S3RVER" "Bench/zafrel-small-$RANDOM/" "$SMALL_DIR"
measure "rclone 2000 × 200 KB (s3rver)" "$SMALL_BYTES" "$SMALL_COUNT" rclonecp "$SMALL_DIR" "s3r:$BUCKET/bench/rclone-small-$RANDOM/"
measure "aws s3 cp 2000 × 200 KB (s3rver)" "$SMALL_BYTES" "$SMALL_COUNT" awscp --recursive "$SMALL_DIR" "s3://$BUCKET/bench/aws-small-$RANDOM/"
fi

# --- report --------------------------------------------------------------------------------------
echo
printf '%-38s %9s %9s %10s %12s %12s\n' "" "MB/s" "files/s" "seconds" "CPU s/GB" "peak RSS MB"
while IFS=$'\t' read -r label bytes files elapsed cpu rss; do
  printf '%-38s %9.1f %9.1f %10.2f %12.2f %12.1f\n' "$label" \
    "$(echo "$bytes / $elapsed / 1000000" | bc -l)" "$(echo "$files / $elapsed" | bc -l)" "$elapsed" \
    "$(echo "$cpu / ($bytes / 1000000000)" | bc -l)" "$(echo "$rss / 1024" | bc -l)"
done <"$RESULTS"

rate() { awk -F'\t' -v l="$1" '$1 == l { printf "%.3f", $2 / $4 }' "$RESULTS"; }
RATIO=$(echo "$(rate 'Zafrel 2 GiB (sumidero)') / $(rate 'referencia 2 GiB (sumidero)')" | bc -l)
RSS_MB=$(awk -F'\t' '$1 == "Zafrel 2 GiB (sumidero)" { printf "%.1f", $6 / 1024 }' "$RESULTS")
echo
printf 'Zafrel / referencia, 2 GiB: %.2f (objetivo ≥ 0.85)\n' "$RATIO"
printf 'Memoria máxima de Zafrel, 2 GiB: %s MB (límite 8 partes + 128 MiB = %d MB)\n' "$RSS_MB" $(((8 * 33554432 + 134217728) / 1000000))
printf 'Memoria máxima de Zafrel, arranque de 1 TiB disperso: %.1f MB (límite 400 MB)\n' "$SPARSE_RSS_MB"
((KEEP)) && echo "Datos y registros en $WORK"
exit 0
