#!/usr/bin/env bash
# Cold start to first answer against a server that costs nothing: `sqs list-queues` beside
# `/usr/bin/aws sqs list-queues` (Debian awscli), each run a new process, interleaved, over
# plain HTTP and over HTTPS, against nginx answering ListQueues from a canned answer
# (bench/sqs_canned_nginx.conf). Over HTTPS the server presents an RSA-2048 certificate signed
# by a throw-away CA and resumes no session, so every run pays a full handshake; both clients
# verify the certificate against that CA (--ca-bundle). Every run must exit 0 and list the
# canned queue.
#
# Reported (bench/cold_start.py): medians of wall time and of the process's CPU time (user +
# system), the ratios, and the load average before and after. Not part of the test suite.
#
#   bench/sqs_canned_cold_start.sh [RUNS_OURS] [RUNS_AWS]
#
# BUILD names a build folder holding cli/sqs; without it, Release binaries are built in
# build-sqs-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
runs_ours=${1:-50}
runs_aws=${2:-10}

[ -x /usr/bin/aws ] || { echo "missing /usr/bin/aws (apt-get install awscli)" >&2; exit 1; }
command -v openssl >/dev/null || { echo "missing openssl" >&2; exit 1; }

if [ -z "${BUILD:-}" ]; then
  BUILD=build-sqs-bench
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_BENCH=ON -DBRV_BUILD_TESTS=OFF \
    -DBRV_BUILD_APP=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target sqs >/dev/null
fi
sqs=$(realpath "$BUILD/cli/sqs")

. bench/lib.sh

# The canned receive is not used here; its body is any text that needs no escaping.
. bench/sqs_canned_server.sh
start_canned_sqs "$work" "unused" "$(printf unused | md5sum | cut -d' ' -f1)"
server_pid=$nginx_pid

export AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test AWS_DEFAULT_REGION=us-east-1
export AWS_PAGER="" AWS_CLI_AUTO_PROMPT=off
unset AWS_ENDPOINT_URL AWS_ENDPOINT_URL_SQS AWS_CA_BUNDLE AWS_PROFILE

echo "== cold start of list-queues against canned answers (nginx $nginx_version, a new process each run)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores"
/usr/bin/aws --version
echo "before:$(uptime)"
/usr/bin/python3 bench/cold_start.py "$runs_ours" "$runs_aws" "$sqs" \
  /000000000000/bench-canned "$endpoint" "$https_endpoint" "$ca"
echo "after: $(uptime)"
