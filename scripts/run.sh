#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program.
#
#   bash scripts/run.sh          the window against a local SQS service started here (HTTP)
#   bash scripts/run.sh --https  the same over HTTPS, the service's test CA in AWS_CA_BUNDLE
#   bash scripts/run.sh --aws    the window against Amazon SQS itself
#
# The local service (tools/local-sqs) listens on 127.0.0.1 and accepts the access key "test"
# and the secret key "test" for the region us-east-1 (the window's default); the window reaches
# it through the endpoint override AWS_ENDPOINT_URL_SQS. It stops when the window closes.
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
  unset AWS_ENDPOINT_URL_SQS AWS_ENDPOINT_URL
  exec "$app" "$@"
fi
scheme=HTTP
service_args=(--http-port 0)
if [ "${1:-}" = "--https" ]; then
  shift
  scheme=HTTPS
  service_args=(--no-http --https-port 0 --certs build/local-sqs-certs)
fi

out=$(mktemp)
trap 'rm -f "$out"; [ -n "${service:-}" ] && kill "$service" 2>/dev/null || true' EXIT
tools/local-sqs/start.sh "${service_args[@]}" >"$out" 2>&1 &
service=$!
for _ in $(seq 1 300); do
  grep -q '^LOCAL_SQS_READY=1' "$out" && break
  kill -0 "$service" 2>/dev/null || { cat "$out"; echo "The local SQS service did not start."; exit 1; }
  sleep 0.1
done
endpoint=$(sed -n "s/^LOCAL_SQS_${scheme}=//p" "$out" | head -n 1)
if [ "$scheme" = HTTPS ]; then
  export AWS_CA_BUNDLE
  AWS_CA_BUNDLE=$(sed -n 's/^LOCAL_SQS_CA=//p' "$out" | head -n 1)
fi
[ -n "$endpoint" ] || { cat "$out"; echo "The local SQS service printed no endpoint."; exit 1; }
echo "Local SQS service at $endpoint: type the access key \"test\" and the secret key \"test\"."
AWS_ENDPOINT_URL_SQS="$endpoint" "$app" "$@"
