#!/usr/bin/env bash
# Start-up benchmark of the window: the time from program start to the window's first paint,
# the resident memory after one List Queues click, and the time from opening the queue browser
# to its first paint, under a virtual X server (Xvfb).
#
#   bench/app_startup.sh [--https] [RUNS] [PROGRAM]
#
# RUNS defaults to 10; PROGRAM to build/release/app/amazon-sqs (built first when missing).
# The click goes to a local SQS service (tools/local-sqs) started here on a free port, through
# the endpoint override AWS_ENDPOINT_URL_SQS, with the service's keys; with --https over TLS,
# verified against the service's test CA (AWS_CA_BUNDLE), so that OpenSSL is loaded as it is
# against AWS. Goals: first paint within 60 ms, at most 44 MB resident, the browser painted
# within 150 ms.
#
# The start time is a CLOCK_MONOTONIC stamp taken immediately before exec of the program; the
# program prints the same clock once its first paint has been handled (AMAZON_SQS_BENCH), and
# the user + system CPU time it has used by then (less noisy than wall time on a loaded machine:
# the launcher's own CPU time at exec is subtracted).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
https=0
if [ "${1:-}" = "--https" ]; then
  https=1
  shift
fi
runs=${1:-10}
program=${2:-build/release/app/amazon-sqs}

if [ ! -x "$program" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_TESTS=OFF >/dev/null
  cmake --build build/release --target amazon-sqs -j"$(nproc)"
  program=build/release/app/amazon-sqs
fi
program=$(realpath "$program")

tmp=$(mktemp -d)
xvfb_pid=""
sqs_pid=""
cleanup() {
  [ -n "$sqs_pid" ] && kill "$sqs_pid" 2>/dev/null && wait "$sqs_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

. scripts/xvfb.sh
start_xvfb "$tmp"
export DISPLAY=$xvfb_display QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$tmp

# The local SQS service, on a port the OS picks.
certs=()
[ "$https" = 1 ] && certs=(--certs "$root/build/local-sqs-certs")
"$root/tools/local-sqs/start.sh" "${certs[@]}" >"$tmp/sqs.out" 2>"$tmp/sqs.err" &
sqs_pid=$!
for _ in $(seq 600); do
  grep -q '^LOCAL_SQS_READY=1' "$tmp/sqs.out" && break
  kill -0 "$sqs_pid" 2>/dev/null || break
  sleep 0.1
done
if [ "$https" = 1 ]; then
  endpoint=$(sed -n 's/^LOCAL_SQS_HTTPS=//p' "$tmp/sqs.out")
  export AWS_CA_BUNDLE=$(sed -n 's/^LOCAL_SQS_CA=//p' "$tmp/sqs.out")
else
  endpoint=$(sed -n 's/^LOCAL_SQS_HTTP=//p' "$tmp/sqs.out")
fi
[ -n "$endpoint" ] || { echo "bench: the local SQS service did not start" >&2; cat "$tmp/sqs.err" >&2; exit 1; }
export AWS_ENDPOINT_URL_SQS=$endpoint AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test

echo "program:  $program"
echo "service:  $endpoint"
paint=()
cpu=()
rss=()
browser=()
browser_cpu=()
browser_rss=()
for i in $(seq "$runs"); do
  out=$(AMAZON_SQS_BENCH=1 python3 -c '
import os, sys, time
os.environ["AMAZON_SQS_T0_CPU_NS"] = str(time.process_time_ns())
os.environ["AMAZON_SQS_T0_NS"] = str(time.monotonic_ns())
os.execv(sys.argv[1], sys.argv[1:])' "$program" 2>"$tmp/run.err") || {
    echo "bench: run $i failed" >&2; cat "$tmp/run.err" >&2; exit 1; }
  p=$(sed -n 's/^first_paint_ms=//p' <<<"$out")
  c=$(sed -n 's/^first_paint_cpu_ms=//p' <<<"$out")
  r=$(sed -n 's/^rss_kb=//p' <<<"$out")
  b=$(sed -n 's/^browser_paint_ms=//p' <<<"$out")
  bc=$(sed -n 's/^browser_paint_cpu_ms=//p' <<<"$out")
  br=$(sed -n 's/^rss_kb_browser=//p' <<<"$out")
  paint+=("$p")
  cpu+=("$c")
  browser+=("$b")
  browser_cpu+=("$bc")
  browser_rss+=("$br")
  rss+=("$r")
  if [ "$i" -eq 1 ]; then
    sed -n 's/^log: /  log after the click: /p' <<<"$out"
    sed 's/^/  stderr: /' "$tmp/run.err" | grep -v 'XDG_RUNTIME_DIR' || true
  fi
  printf 'run %2d: first paint %6.1f ms (CPU %5.1f ms), resident after List Queues %5.1f MB,' \
    "$i" "$p" "$c" "$(awk -v kb="$r" 'BEGIN {print kb / 1024}')"
  printf ' browser painted in %6.1f ms (CPU %5.1f ms)\n' "$b" "$bc"
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
mp=$(median "${paint[@]}")
mc=$(median "${cpu[@]}")
mr=$(median "${rss[@]}")
printf 'median first paint: %.1f ms, CPU to first paint %.1f ms (goal 60 ms)\n' "$mp" "$mc"
printf 'median resident after List Queues: %.1f MB (goal 44 MB)\n' \
  "$(awk -v kb="$mr" 'BEGIN {print kb / 1024}')"
printf 'median queue browser first paint: %.1f ms, CPU %.1f ms (goal 150 ms)\n' \
  "$(median "${browser[@]}")" "$(median "${browser_cpu[@]}")"
printf 'median resident once the browser has listed: %.1f MB\n' \
  "$(awk -v kb="$(median "${browser_rss[@]}")" 'BEGIN {print kb / 1024}')"
