#!/usr/bin/env bash
# Installs the local SQS service (Node) used by the end-to-end tests and the demo.
set -euo pipefail
cd "$(dirname "$0")/../../tools/local-sqs"
if [ ! -d node_modules ] || ! npm ls --omit=dev >/dev/null 2>&1; then
  npm ci --no-audit --no-fund
fi
