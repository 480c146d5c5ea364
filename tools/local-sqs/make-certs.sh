#!/usr/bin/env bash
# Makes a test CA and an RSA-2048 server certificate signed by it, for 127.0.0.1, ::1 and
# localhost, in DIR (ca.pem, server.pem, server-key.pem), unless DIR already holds ones valid
# for another day. Several makers of one DIR at once wait for each other.
#
#   tools/local-sqs/make-certs.sh DIR
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: make-certs.sh DIR" >&2; exit 2; }
dir="$1"
mkdir -p "$dir"
exec 8<"$dir"
flock 8
if [[ -s $dir/ca.pem && -s $dir/server.pem && -s $dir/server-key.pem ]] &&
  openssl x509 -checkend 86400 -noout -in "$dir/server.pem" >/dev/null 2>&1; then
  exit 0
fi
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
