# Sourced by the benchmarks that run against the canned SQS server (bench/sqs_canned_nginx.conf):
#
#   start_canned_sqs WORK BODY BODY_MD5
#
# starts nginx in the folder WORK on two free loopback ports, with BODY and BODY_MD5 as the one
# message body of the canned receive, and sets nginx_pid, endpoint (http://127.0.0.1:PORT),
# https_endpoint (https://127.0.0.1:PORT) and ca (the PEM file of the throw-away CA that signed
# the server's certificate, made here at each start). The caller stops it (kill -TERM
# "$nginx_pid") when it ends. Needs nginx, Debian libnginx-mod-http-js, openssl and
# /usr/bin/python3.
# shellcheck shell=bash disable=SC2034  # the variables it sets are for the caller

start_canned_sqs() {
  local work=$1 body=$2 body_md5=$3 nginx ports port https_port
  command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || { echo "missing nginx" >&2; return 1; }
  nginx=$(command -v nginx || echo /usr/sbin/nginx)
  tools/local-sqs/make-certs.sh "$work/certs"
  ca="$work/certs/ca.pem"
  nginx_pid=""
  # nginx cannot listen on port 0: take two free ports and retry when another process won the
  # race for either.
  for _ in 1 2 3 4 5; do
    ports=$(/usr/bin/python3 -c '
import socket
a, b = socket.socket(), socket.socket()
a.bind(("127.0.0.1", 0)); b.bind(("127.0.0.1", 0))
print(a.getsockname()[1], b.getsockname()[1])')
    read -r port https_port <<<"$ports"
    sed -e "s|@PREFIX@|$work|g" -e "s|@BENCH@|$(pwd)/bench|g" -e "s|@PORT@|$port|g" \
      -e "s|@HTTPS_PORT@|$https_port|g" -e "s|@BODY_MD5@|$body_md5|g" -e "s|@BODY@|$body|g" \
      bench/sqs_canned_nginx.conf >"$work/nginx.conf"
    "$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/error.log" </dev/null 2>>"$work/stderr" &
    nginx_pid=$!
    for _ in $(seq 100); do
      if ! kill -0 "$nginx_pid" 2>/dev/null; then nginx_pid=""; break; fi
      /usr/bin/python3 -c "import socket
for port in ($port, $https_port): socket.create_connection(('127.0.0.1', port), 0.1).close()" \
        2>/dev/null && break 2
      sleep 0.05
    done
    [ -n "$nginx_pid" ] && { kill -TERM "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true; nginx_pid=""; }
  done
  [ -n "$nginx_pid" ] || { cat "$work/stderr" "$work/error.log" >&2 2>/dev/null; return 1; }
  nginx_version=$("$nginx" -v 2>&1 | sed 's|.*/||')
  endpoint="http://127.0.0.1:$port"
  https_endpoint="https://127.0.0.1:$https_port"
}
