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

# A test CA and a server certificate signed by it, made once per directory.
make_certs() {
  local dir="$1"
  mkdir -p "$dir"
  exec 8<"$dir"
  flock 8
  if [[ -s $dir/ca.pem && -s $dir/server.pem && -s $dir/server-key.pem ]] &&
    openssl x509 -checkend 86400 -noout -in "$dir/server.pem" >/dev/null 2>&1; then
    exec 8<&-
    return
  fi
  local tmp
  tmp="$(mktemp -d "$dir/.new.XXXXXX")"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -keyout "$tmp/ca-key.pem" -out "$tmp/ca.pem" -subj "/CN=local-sqs test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -sha256 \
    -keyout "$tmp/server-key.pem" -out "$tmp/server.csr" -subj "/CN=127.0.0.1" 2>/dev/null
  cat >"$tmp/server.ext" <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid,issuer
EOF
  openssl x509 -req -sha256 -days 825 -in "$tmp/server.csr" \
    -CA "$tmp/ca.pem" -CAkey "$tmp/ca-key.pem" -set_serial "0x$(openssl rand -hex 16)" \
    -extfile "$tmp/server.ext" -out "$tmp/server.pem" 2>/dev/null
  chmod 600 "$tmp/ca-key.pem" "$tmp/server-key.pem"
  for f in ca-key.pem server-key.pem ca.pem server.pem; do mv -f "$tmp/$f" "$dir/$f"; done
  rm -rf "$tmp"
  exec 8<&-
}

install_if_needed
if [[ -n $certs ]]; then
  make_certs "$certs"
  certs="$(cd "$certs" && pwd)"
  args+=(--cert "$certs/server.pem" --key "$certs/server-key.pem" --ca "$certs/ca.pem")
fi
exec node "$here/front.js" "${args[@]}"
