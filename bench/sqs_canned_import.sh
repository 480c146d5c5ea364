#!/usr/bin/env bash
# Bulk import against a server that costs little: `sqs import --concurrency N` beside boto3
# (Debian python3-boto3, run with /usr/bin/python3) sending batches of ten from N threads, each
# with its own client, in one run, the same file of varied messages for both. Every
# SendMessageBatch is answered with each entry's own MD5s, so our client's integrity checks run
# and pass. Not part of the test suite.
#
#   [SERVER=nginx|responder] bench/sqs_canned_import.sh [MESSAGES] [CONNECTIONS] [SQS_PROGRAM]
#
# SERVER=nginx (the default) is nginx with bench/sqs_canned_nginx.conf, whose JavaScript module
# (Debian libnginx-mod-http-js) computes the batch answers: about 80 us of its CPU per message
# of 1 KiB, more than the client spends, so on two cores it bounds the rate. SERVER=responder
# is bench/sqs_canned_responder.cpp (built here with g++ and GnuTLS), which computes the same
# answers for a fraction of that.
#
# MESSAGES (default 100000) lines in the export format: bodies of 900 to 1100 bytes, some with
# non-ASCII text and characters XML escapes, each with a String attribute, every third with a
# Number and every fifth with a Binary one. CONNECTIONS defaults to 4. SQS_PROGRAM defaults to
# build/dev/cli/sqs (build it first). Reported: messages per second, the client process's CPU
# time (user + system) per message, and the ratios; both clients read and parse the file
# within their time.
set -euo pipefail
cd "$(dirname "$0")/.."
messages=${1:-100000}
connections=${2:-4}
sqs=$(realpath "${3:-build/dev/cli/sqs}")
[ -x "$sqs" ] || { echo "missing $sqs: build the sqs target first" >&2; exit 1; }
[ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import boto3' ||
  { echo "missing python3-boto3" >&2; exit 1; }

. bench/lib.sh

case "${SERVER:-nginx}" in
  nginx)
    # The canned receive is not used here; its body is any text that needs no escaping.
    . bench/sqs_canned_server.sh
    start_canned_sqs "$work" "unused" "$(printf unused | md5sum | cut -d' ' -f1)"
    server_pid=$nginx_pid
    server="nginx $nginx_version with njs"
    ;;
  responder)
    g++ -O2 -std=c++20 bench/sqs_canned_responder.cpp -o "$work/responder" -lgnutls -pthread
    mkfifo "$work/port"
    "$work/responder" >"$work/port" &
    server_pid=$!
    read -r port <"$work/port"
    endpoint="http://127.0.0.1:$port"
    server="bench/sqs_canned_responder.cpp"
    ;;
  *) echo "SERVER is nginx or responder" >&2; exit 1 ;;
esac

export AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test AWS_DEFAULT_REGION=us-east-1
unset AWS_ENDPOINT_URL AWS_ENDPOINT_URL_SQS AWS_CA_BUNDLE AWS_PROFILE

echo "== import of $messages messages over $connections connections against computed answers ($server, plain HTTP; load: $(cut -d' ' -f1-3 /proc/loadavg))"
/usr/bin/python3 - "$messages" "$connections" "$sqs" "$endpoint" "$work" <<'PY'
import base64, json, os, random, resource, subprocess, sys, threading, time

import boto3

count, connections, sqs, endpoint, work = (int(sys.argv[1]), int(sys.argv[2]), sys.argv[3],
                                           sys.argv[4], sys.argv[5])

# The import file: varied bodies, some non-ASCII, some with & and <, three attribute types.
rng = random.Random(20)
words = ["order", "shipped", "état", "größe", "注文", "&amp", "<tag>", "café", "ok", "✓",
         "line", "42", "invoice", "naïve", "δ", "queue"]
lines = f"{work}/messages.jsonl"
with open(lines, "w", encoding="utf-8") as out:
    for i in range(count):
        size = rng.randint(900, 1100)
        body = f"{i:08d} "
        while len(body.encode()) < size:
            body += rng.choice(words) + " "
        attributes = {"n": {"DataType": "String", "StringValue": str(i)}}
        if i % 3 == 0:
            attributes["size"] = {"DataType": "Number", "StringValue": str(size)}
        if i % 5 == 0:
            attributes["blob"] = {"DataType": "Binary",
                                  "BinaryValue": base64.b64encode(rng.randbytes(24)).decode()}
        out.write(json.dumps({"MessageId": f"m{i}", "Body": body,
                              "MessageAttributes": attributes}, ensure_ascii=False) + "\n")

# Ours: one process; its CPU time from its own resource usage.
start = time.perf_counter()
with open(lines, "rb") as source:
    process = subprocess.Popen([sqs, "--endpoint-url", endpoint, "--output", "json", "import",
                                "--queue-name", "bench-canned", "--concurrency",
                                str(connections)], stdin=source, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    out, err = process.communicate()
ours_wall = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
ours_cpu = usage.ru_utime + usage.ru_stime
result = json.loads(out or b"{}")
if process.returncode != 0 or result.get("Sent") != count or result.get("Failed") != 0:
    sys.exit(f"sqs import failed (status {process.returncode}): {out!r} {err[:2000]!r}")

# boto3: the same file, batches of ten from `connections` threads, each with its own client.
def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime

lock = threading.Lock()
sent = [0]
failures = []

def attributes_of(message):
    out = {}
    for name, value in message.get("MessageAttributes", {}).items():
        if "BinaryValue" in value:
            out[name] = {"DataType": value["DataType"],
                         "BinaryValue": base64.b64decode(value["BinaryValue"])}
        else:
            out[name] = {"DataType": value["DataType"], "StringValue": value["StringValue"]}
    return out

clients = [boto3.client("sqs", endpoint_url=endpoint, region_name="us-east-1")
           for _ in range(connections)]
cpu_before, start = cpu(), time.perf_counter()
with open(lines, encoding="utf-8") as source:
    batches = []
    batch = []
    for number, line in enumerate(source, 1):
        message = json.loads(line)
        batch.append({"Id": f"l{number}", "MessageBody": message["Body"],
                      "MessageAttributes": attributes_of(message)})
        if len(batch) == 10:
            batches.append(batch)
            batch = []
    if batch:
        batches.append(batch)
queue = clients[0].get_queue_url(QueueName="bench-canned")["QueueUrl"]
work_items = iter(batches)

def worker(client):
    done = 0
    while True:
        with lock:
            batch = next(work_items, None)
        if batch is None:
            break
        answer = client.send_message_batch(QueueUrl=queue, Entries=batch)
        done += len(answer.get("Successful", []))
        if answer.get("Failed"):
            with lock:
                failures.extend(answer["Failed"])
    with lock:
        sent[0] += done

threads = [threading.Thread(target=worker, args=(c,)) for c in clients]
for t in threads:
    t.start()
for t in threads:
    t.join()
boto_wall, boto_cpu = time.perf_counter() - start, cpu() - cpu_before
if sent[0] != count or failures:
    sys.exit(f"boto3 sent {sent[0]} of {count}, {len(failures)} failed")

ours_rate, boto_rate = count / ours_wall, count / boto_wall
ours_us, boto_us = ours_cpu / count * 1e6, boto_cpu / count * 1e6
print(f"{'':7} {'messages/s':>11} {'seconds':>8} {'cpu/message':>12}")
print(f"{'ours':7} {ours_rate:11.0f} {ours_wall:8.2f} {ours_us:10.1f}us")
print(f"{'boto3':7} {boto_rate:11.0f} {boto_wall:8.2f} {boto_us:10.1f}us")
print(f"ours/boto3: {ours_rate / boto_rate:.1f}x the message rate, "
      f"{boto_us / ours_us:.1f}x less CPU per message")
PY
