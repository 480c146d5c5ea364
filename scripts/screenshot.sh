#!/usr/bin/env bash
# Starts the window under a virtual X server (Xvfb) and saves a picture of it to
# docs/screenshot.png (or to the file given as the first argument).
#
#   scripts/screenshot.sh [OUTPUT.png] [PROGRAM]
#
# PROGRAM defaults to build/release/app/amazon-sqs, which is built first when missing. The
# picture is the X server's own pixels under the window, taken by the program itself once it
# has painted (AMAZON_SQS_SCREENSHOT); the program then quits.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshot.png}")
program=${2:-build/release/app/amazon-sqs}

if [ ! -x "$program" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_TESTS=OFF >/dev/null
  cmake --build build/release --target amazon-sqs -j"$(nproc)"
  program=build/release/app/amazon-sqs
fi
command -v Xvfb >/dev/null || { echo "screenshot: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

tmp=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

. scripts/xvfb.sh
start_xvfb "$tmp"
display=$xvfb_display

mkdir -p "$(dirname "$out")"
DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$tmp AMAZON_SQS_SCREENSHOT=$out \
  timeout 60 "$program"
echo "screenshot: $out"
