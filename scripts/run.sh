#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program.
#
#   bash scripts/run.sh          the window against a local SQS service started here
#   bash scripts/run.sh --aws    the window against Amazon SQS itself
#
# The local service (tools/local-sqs) listens on 127.0.0.1 and accepts the access key "test"
# and the secret key "test" in any region; the window reaches it through the endpoint override
# AWS_ENDPOINT_URL_SQS. It stops when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for setup in scripts/setup/*.sh; do
  [ -e "$setup" ] && bash "$setup"
done
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
app=build/release/app/amazon-sqs

if [ "${1:-}" = "--aws" ]; then
  shift
  exec "$app" "$@"
fi

out=$(mktemp)
trap 'rm -f "$out"; [ -n "${service:-}" ] && kill "$service" 2>/dev/null || true' EXIT
tools/local-sqs/start.sh --http-port 0 >"$out" 2>&1 &
service=$!
for _ in $(seq 1 300); do
  grep -q '^LOCAL_SQS_READY=1' "$out" && break
  kill -0 "$service" 2>/dev/null || { cat "$out"; echo "The local SQS service did not start."; exit 1; }
  sleep 0.1
done
endpoint=$(sed -n 's/^LOCAL_SQS_HTTP=//p' "$out" | head -n 1)
[ -n "$endpoint" ] || { cat "$out"; echo "The local SQS service printed no endpoint."; exit 1; }
echo "Local SQS service at $endpoint: type the access key \"test\" and the secret key \"test\"."
AWS_ENDPOINT_URL_SQS="$endpoint" "$app" "$@"
