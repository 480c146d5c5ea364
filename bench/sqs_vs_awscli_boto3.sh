#!/usr/bin/env bash
# Our SQS road beside AWS's own tools, in one run against one local SQS service (not part of
# the test suite; the figures go into the issue note):
#
#   1. cold start to first answer: `sqs list-queues` against `/usr/bin/aws sqs list-queues`
#      (Debian awscli), each a new process, over plain HTTP and over HTTPS;
#   2. 1000 send / receive / delete cycles in one process: our library (bench_sqs_cycles)
#      against boto3 (Debian python3-boto3, run with /usr/bin/python3);
#   3. the same cycles against canned answers (bench/sqs_canned_cycles.sh).
#
# Reported: wall-clock time and the client process's CPU time (user + system), per run or per
# request. The service answers a receive only on its next 10 ms poll, which bounds the cycle
# rate of every client; CPU time per request is what the client itself costs.
#
#   bench/sqs_vs_awscli_boto3.sh [RUNS_OURS] [RUNS_AWSCLI] [CYCLES]
#
# Builds Release binaries in build-sqs-bench/ (-DBRV_BUILD_BENCH=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs_ours=${1:-50}
runs_aws=${2:-10}
cycles=${3:-1000}

for tool in /usr/bin/aws /usr/bin/python3; do
  [ -x "$tool" ] || { echo "missing $tool (apt-get install awscli python3-boto3)" >&2; exit 1; }
done
/usr/bin/python3 -c 'import boto3' || { echo "missing python3-boto3" >&2; exit 1; }

build="build-sqs-bench"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_BENCH=ON -DBRV_BUILD_TESTS=OFF \
  -DBRV_BUILD_APP=OFF >/dev/null
cmake --build "$build" -j2 --target sqs bench_sqs_cycles >/dev/null

. bench/lib.sh
start_local_sqs --certs "$build/local-sqs-certs"

export AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test AWS_DEFAULT_REGION=us-east-1
export AWS_PAGER="" AWS_CLI_AUTO_PROMPT=off
unset AWS_ENDPOINT_URL AWS_ENDPOINT_URL_SQS AWS_CA_BUNDLE AWS_PROFILE
# Something to list.
"$build/cli/sqs" --endpoint-url "$http" create-queue --queue-name bench-listed >/dev/null

echo "== environment"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores"
/usr/bin/aws --version
/usr/bin/python3 -c 'import boto3, botocore; print("boto3", boto3.__version__, "botocore", botocore.__version__)'
echo

echo "== cold start to first answer (list-queues, a new process each run)"
/usr/bin/python3 bench/cold_start.py "$runs_ours" "$runs_aws" "$root/$build/cli/sqs" bench-listed \
  "$http" "$https" "$ca"
echo

echo "== $cycles send/receive/delete cycles in one process (plain HTTP, one connection)"
ours_json="$work/ours.json"
SQS_BENCH_ENDPOINT="$http" "$build/bench/bench_sqs_cycles" --benchmark_format=json \
  >"$ours_json" 2>/dev/null
/usr/bin/python3 - "$ours_json" "$http" "$cycles" <<'PY'
import json, os, resource, sys, time

import boto3

with open(sys.argv[1]) as f:
    ours = json.load(f)["benchmarks"][0]
if ours.get("error_occurred"):
    sys.exit("ours failed: " + ours.get("error_message", ""))
endpoint, cycles = sys.argv[2], int(sys.argv[3])

def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

client = boto3.client("sqs", endpoint_url=endpoint, region_name="us-east-1",
                      aws_access_key_id="test", aws_secret_access_key="test")
url = client.create_queue(QueueName=f"bench-boto3-{os.getpid()}")["QueueUrl"]
requests = receives = 0
sending = receiving = deleting = 0.0
cpu_before, start = cpu(), time.perf_counter()
for i in range(cycles):
    t = time.perf_counter()
    client.send_message(QueueUrl=url, MessageBody=f"benchmark message {i}")
    sending += time.perf_counter() - t
    requests += 1
    messages = []
    while not messages:
        t = time.perf_counter()
        messages = client.receive_message(QueueUrl=url, MaxNumberOfMessages=1).get("Messages", [])
        receiving += time.perf_counter() - t
        requests += 1
        receives += 1
    t = time.perf_counter()
    client.delete_message(QueueUrl=url, ReceiptHandle=messages[0]["ReceiptHandle"])
    deleting += time.perf_counter() - t
    requests += 1
wall, used = time.perf_counter() - start, cpu() - cpu_before
client.delete_queue(QueueUrl=url)

ours_rate = ours["cycles_per_s"]
ours_cpu = ours["process_cpu_us_per_request"]
boto_rate = cycles / wall
boto_cpu = used / requests * 1e6
print(f"{'':7} {'cycles/s':>9} {'requests':>9} {'cpu/request':>12}"
      f" {'send':>8} {'receive':>8} {'delete':>8}  (mean wall per call)")
print(f"{'ours':7} {ours_rate:9.1f} {int(ours['requests']):9d} {ours_cpu:10.1f}us"
      f" {ours['send_ms']:6.2f}ms {ours['receive_ms']:6.2f}ms {ours['delete_ms']:6.2f}ms")
print(f"{'boto3':7} {boto_rate:9.1f} {requests:9d} {boto_cpu:10.1f}us"
      f" {sending / cycles * 1e3:6.2f}ms {receiving / receives * 1e3:6.2f}ms"
      f" {deleting / cycles * 1e3:6.2f}ms")
print(f"ours/boto3: {ours_rate / boto_rate:.2f}x the cycle rate, "
      f"{boto_cpu / ours_cpu:.1f}x less CPU per request")
PY
echo

# The same cycles against a server that costs nothing, where the client's own cost shows.
BUILD="$build" bench/sqs_canned_cycles.sh "$cycles"
