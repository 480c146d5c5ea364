#!/usr/bin/env bash
# Starts the local SQS service with its signature-checking front.
#
#   tools/local-sqs/start.sh [--certs DIR] [front options...]
#
# Installs the pinned packages first when needed (npm ci, output on standard
# error). With --certs DIR it makes, once, a test CA and a server certificate
# for 127.0.0.1, ::1 and localhost in DIR (ca.pem, server.pem, server-key.pem)
# and serves TLS with them as well. Then it becomes the front (exec), which
# prints LOCAL_SQS_HTTP=..., LOCAL_SQS_HTTPS=..., LOCAL_SQS_CA=... and
# LOCAL_SQS_READY=1 on standard output and serves until SIGTERM.
# `start.sh --help` lists the front's options.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
certs=""
args=()
while (($#)); do
  case "$1" in
    --certs)
      [[ $# -ge 2 ]] || { echo "local-sqs: --certs needs a directory" >&2; exit 2; }
      certs="$2"
      shift 2
      ;;
    --certs=*)
      certs="${1#--certs=}"
      shift
      ;;
    *)
      args+=("$1")
      shift
      ;;
  esac
done

# True when node_modules holds exactly what package-lock.json pins (npm's own
# record of the install, node_modules/.package-lock.json, lists the same packages).
installed() {
  node -e '
    const fs = require("fs"), path = require("path"), dir = process.argv[1];
    const canon = (v) => v && typeof v === "object" && !Array.isArray(v)
      ? "{" + Object.keys(v).sort().map((k) => JSON.stringify(k) + ":" + canon(v[k])).join(",") + "}"
      : Array.isArray(v) ? "[" + v.map(canon).join(",") + "]" : JSON.stringify(v);
    const read = (f) => JSON.parse(fs.readFileSync(path.join(dir, f), "utf8")).packages;
    const want = read("package-lock.json");
    delete want[""];
    const present = Object.keys(want).every((p) => fs.existsSync(path.join(dir, p, "package.json")));
    process.exit(present && canon(want) === canon(read("node_modules/.package-lock.json")) ? 0 : 1);
  ' "$here" 2>/dev/null
}

# Installs when needed; several starts at once wait for each other.
install_if_needed() {
  installed && return
  exec 9<"$here/package-lock.json"
  flock 9
  installed || (cd "$here" && npm ci --no-audit --no-fund --loglevel=error) 1>&2
  exec 9<&-
}

install_if_needed
if [[ -n $certs ]]; then
  "$here/make-certs.sh" "$certs"
  certs="$(cd "$certs" && pwd)"
  args+=(--cert "$certs/server.pem" --key "$certs/server-key.pem" --ca "$certs/ca.pem")
fi
exec node "$here/front.js" "${args[@]}"
