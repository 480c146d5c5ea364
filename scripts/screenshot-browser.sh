#!/usr/bin/env bash
# Redraws docs/screenshot-browser.png: the queue browser under Xvfb, over a local SQS service
# (tools/local-sqs) holding a few sample queues made with boto3.
#
#   scripts/screenshot-browser.sh [OUTPUT.png] [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshot-browser.png}")
program=${2:-build/release/app/amazon-sqs}

log=$(mktemp)
trap 'rm -f "$log"; [ -n "${service:-}" ] && kill "$service" 2>/dev/null || true' EXIT
tools/local-sqs/start.sh --http-port 0 >"$log" 2>&1 &
service=$!
for _ in $(seq 1 300); do
  grep -q '^LOCAL_SQS_READY=1' "$log" && break
  kill -0 "$service" 2>/dev/null || { cat "$log"; echo "The local SQS service did not start." >&2; exit 1; }
  sleep 0.1
done
endpoint=$(sed -n 's/^LOCAL_SQS_HTTP=//p' "$log" | head -n 1)

export AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test AWS_DEFAULT_REGION=us-east-1
ENDPOINT=$endpoint python3 - <<'PY'
import json, os
import boto3
sqs = boto3.client("sqs", endpoint_url=os.environ["ENDPOINT"])
dlq = sqs.create_queue(QueueName="orders-dlq")["QueueUrl"]
arn = sqs.get_queue_attributes(QueueUrl=dlq, AttributeNames=["QueueArn"])["Attributes"]["QueueArn"]
policy = json.dumps({"deadLetterTargetArn": arn, "maxReceiveCount": "5"})
orders = sqs.create_queue(QueueName="orders", Attributes={"RedrivePolicy": policy})["QueueUrl"]
sqs.create_queue(QueueName="invoices.fifo", Attributes={"FifoQueue": "true"})
sqs.create_queue(QueueName="notifications")
for i in range(12):
    sqs.send_message(QueueUrl=orders, MessageBody=json.dumps({"order": i}))
sqs.send_message(QueueUrl=orders, MessageBody="later", DelaySeconds=600)
for i in range(3):
    sqs.send_message(QueueUrl=dlq, MessageBody=json.dumps({"order": 100 + i}))
PY

AMAZON_SQS_SCREENSHOT_WINDOW=browser AWS_ENDPOINT_URL_SQS=$endpoint \
  bash scripts/screenshot.sh "$out" "$program"
