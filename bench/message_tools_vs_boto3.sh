#!/usr/bin/env bash
# Messages per second imported and moved against one local SQS service (not part of the test
# suite; the figures go into the issue note): `sqs import` and `sqs move` beside the same work
# done by boto3 (Debian python3-boto3, run with /usr/bin/python3) as a plain loop of batched
# calls: send_message_batch of ten for the import; receive ten, send_message_batch,
# delete_message_batch for the move.
#
#   bench/message_tools_vs_boto3.sh [MESSAGES] [SQS_PROGRAM]
#
# SQS_PROGRAM defaults to build/dev/cli/sqs (build it first). Every message is 1 KiB with one
# String attribute. The service answers a receive only on its next 10 ms poll, which bounds
# the move rate of every client alike.
set -euo pipefail
cd "$(dirname "$0")/.."
messages=${1:-2000}
sqs=$(realpath "${2:-build/dev/cli/sqs}")
[ -x "$sqs" ] || { echo "missing $sqs: build the sqs target first" >&2; exit 1; }
/usr/bin/python3 -c 'import boto3' || { echo "missing python3-boto3" >&2; exit 1; }

. bench/lib.sh
start_local_sqs

export AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test AWS_DEFAULT_REGION=us-east-1
unset AWS_ENDPOINT_URL AWS_ENDPOINT_URL_SQS AWS_CA_BUNDLE AWS_PROFILE

/usr/bin/python3 - "$messages" "$sqs" "$http" "$work" <<'PY'
import json, subprocess, sys, time
import boto3

count, sqs, http, work = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
client = boto3.client("sqs", endpoint_url=http, region_name="us-east-1")

def run(*args, stdin=None):
    source = open(stdin, "rb") if stdin else subprocess.DEVNULL
    try:
        subprocess.run([sqs, "--endpoint-url", http, *args], stdin=source, check=True,
                       stdout=subprocess.DEVNULL)
    finally:
        if stdin:
            source.close()

def url(name):
    return client.create_queue(QueueName=name)["QueueUrl"]

def visible(queue):
    # The service counts a new message on its next turn: read until the count settles.
    for _ in range(40):
        attributes = client.get_queue_attributes(QueueUrl=queue,
                                                 AttributeNames=["All"])["Attributes"]
        if int(attributes["ApproximateNumberOfMessages"]) == count:
            break
        time.sleep(0.05)
    return int(attributes["ApproximateNumberOfMessages"])

lines = f"{work}/messages.jsonl"
with open(lines, "w") as out:
    for i in range(count):
        out.write(json.dumps({"MessageId": str(i), "Body": f"{i:06d}" + "x" * 1018,
                              "MessageAttributes": {"n": {"DataType": "String",
                                                          "StringValue": str(i)}}}) + "\n")

def rate(what, seconds):
    print(f"{what:<34} {count / seconds:8.0f} messages/s  ({seconds:.2f} s for {count})")

# import
for concurrency in (1, 4):
    name = f"ours-import-{concurrency}"
    queue = url(name)
    start = time.perf_counter()
    run("import", "--queue-name", name, "--concurrency", str(concurrency), stdin=lines)
    rate(f"sqs import --concurrency {concurrency}", time.perf_counter() - start)
    assert visible(queue) == count

boto_source = url("boto-import")
start = time.perf_counter()
batch = []
with open(lines) as source:
    for number, line in enumerate(source):
        message = json.loads(line)
        batch.append({"Id": str(number), "MessageBody": message["Body"],
                      "MessageAttributes": message["MessageAttributes"]})
        if len(batch) == 10:
            client.send_message_batch(QueueUrl=boto_source, Entries=batch)
            batch = []
if batch:
    client.send_message_batch(QueueUrl=boto_source, Entries=batch)
rate("boto3 send_message_batch loop", time.perf_counter() - start)
assert visible(boto_source) == count

# move
url("ours-moved")
start = time.perf_counter()
run("move", "--from", "ours-import-1", "--to", "ours-moved")
rate("sqs move", time.perf_counter() - start)
assert visible(url("ours-moved")) == count

boto_target = url("boto-moved")
start = time.perf_counter()
while True:
    received = client.receive_message(QueueUrl=boto_source, MaxNumberOfMessages=10,
                                      VisibilityTimeout=60, MessageAttributeNames=["All"],
                                      AttributeNames=["All"]).get("Messages", [])
    if not received:
        break
    sent = client.send_message_batch(QueueUrl=boto_target, Entries=[
        {"Id": str(i), "MessageBody": m["Body"], "MessageAttributes": m.get("MessageAttributes", {})}
        for i, m in enumerate(received)])
    done = {entry["Id"] for entry in sent.get("Successful", [])}
    client.delete_message_batch(QueueUrl=boto_source, Entries=[
        {"Id": str(i), "ReceiptHandle": m["ReceiptHandle"]}
        for i, m in enumerate(received) if str(i) in done])
rate("boto3 receive/send/delete loop", time.perf_counter() - start)
assert visible(boto_target) == count
PY
