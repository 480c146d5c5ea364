#!/usr/bin/env bash
# Send / receive / delete cycles against a server that costs nothing (nginx answering every
# SQS action from a canned answer, bench/sqs_canned_nginx.conf, with nginx's JavaScript module,
# Debian libnginx-mod-http-js, for boto3's forms): our library (bench_sqs_cycles)
# beside boto3 (Debian python3-boto3, run with /usr/bin/python3), in one run, each for the same
# number of cycles on one keep-alive connection over plain HTTP. Every cycle sends the same
# 256-byte body, which the canned answers carry back with its MD5, so both clients' integrity
# checks run and pass.
#
# Reported: cycles per second, the client process's CPU time (user + system, getrusage) per
# request, and the ratios. Not part of the test suite.
#
#   bench/sqs_canned_cycles.sh [CYCLES]
#
# BUILD names a build folder holding bench/bench_sqs_cycles (built with -DBRV_BUILD_BENCH=ON);
# without it, Release binaries are built in build-sqs-bench/. CORE=N runs nginx and both
# clients on processor N alone: each answer then reaches a client on the core that is already
# awake. Spread over the cores of an otherwise idle virtual machine, every answer has to wake
# the client's sleeping core, and that wake-up shows up as system time of the client, for our
# library about as much again as its own work.
set -euo pipefail
cd "$(dirname "$0")/.."
cycles=${1:-5000}
if [ -n "${CORE:-}" ]; then
  taskset -p -c "$CORE" $$ >/dev/null  # what the script starts from here on inherits it
fi

[ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import boto3' ||
  { echo "missing python3-boto3" >&2; exit 1; }

if [ -z "${BUILD:-}" ]; then
  BUILD=build-sqs-bench
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_BENCH=ON -DBRV_BUILD_TESTS=OFF \
    -DBRV_BUILD_APP=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target bench_sqs_cycles >/dev/null
fi

. bench/lib.sh

# The one message body: 256 bytes of text that needs no escaping in a URL's unreserved set
# beyond spaces, nor in XML or JSON.
body=$(/usr/bin/python3 -c '
text = "benchmark message "
while len(text) < 256: text += "abcdefghijklmnopqrstuvwxyz0123456789 "
print(text[:256], end="")')
body_md5=$(printf '%s' "$body" | md5sum | cut -d' ' -f1)

. bench/sqs_canned_server.sh
start_canned_sqs "$work" "$body" "$body_md5"
server_pid=$nginx_pid

export AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test AWS_DEFAULT_REGION=us-east-1
unset AWS_ENDPOINT_URL AWS_ENDPOINT_URL_SQS AWS_CA_BUNDLE AWS_PROFILE

echo "== $cycles send/receive/delete cycles against canned answers (nginx $nginx_version, plain HTTP, one connection${CORE:+, all on core $CORE})"
ours_json="$work/ours.json"
SQS_BENCH_ENDPOINT="$endpoint" SQS_BENCH_BODY="$body" SQS_BENCH_CYCLES="$cycles" \
  "$BUILD/bench/bench_sqs_cycles" --benchmark_format=json >"$ours_json" 2>"$work/ours.err" ||
  { cat "$work/ours.err" >&2; exit 1; }
/usr/bin/python3 - "$ours_json" "$endpoint" "$cycles" "$body" <<'PY'
import json, resource, sys, time

import boto3

with open(sys.argv[1]) as f:
    ours = json.load(f)["benchmarks"][0]
if ours.get("error_occurred"):
    sys.exit("ours failed: " + ours.get("error_message", ""))
endpoint, cycles, body = sys.argv[2], int(sys.argv[3]), sys.argv[4]

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

client = boto3.client("sqs", endpoint_url=endpoint, region_name="us-east-1",
                      aws_access_key_id="test", aws_secret_access_key="test")
url = client.create_queue(QueueName="bench-canned")["QueueUrl"]
requests = 0
cpu_before, start = cpu(), time.perf_counter()
for i in range(cycles):
    client.send_message(QueueUrl=url, MessageBody=body)
    messages = client.receive_message(QueueUrl=url, MaxNumberOfMessages=1).get("Messages", [])
    if len(messages) != 1 or messages[0]["Body"] != body:
        sys.exit("boto3: the canned receive did not carry the body")
    client.delete_message(QueueUrl=url, ReceiptHandle=messages[0]["ReceiptHandle"])
    requests += 3
wall, used = time.perf_counter() - start, cpu() - cpu_before

ours_rate = ours["cycles_per_s"]
ours_cpu = ours["process_cpu_us_per_request"]
boto_rate = cycles / wall
boto_cpu = used / requests * 1e6
print(f"{'':7} {'cycles/s':>9} {'requests':>9} {'cpu/request':>12}")
print(f"{'ours':7} {ours_rate:9.0f} {int(ours['requests']):9d} {ours_cpu:10.1f}us")
print(f"{'boto3':7} {boto_rate:9.0f} {requests:9d} {boto_cpu:10.1f}us")
print(f"ours/boto3: {ours_rate / boto_rate:.1f}x the cycle rate, "
      f"{boto_cpu / ours_cpu:.1f}x less CPU per request")
PY
