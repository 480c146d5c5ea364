# Set-up shared by the side-by-side benchmark scripts; source it from the repository root
# under `set -euo pipefail`. It makes a scratch folder $work and, on exit, stops what it
# started there (the local service, and the server whose pid the script puts in $server_pid)
# and removes the folder.
work=$(mktemp -d)
local_sqs_pid=""
server_pid=""
bench_cleanup() {
  if [ -n "$local_sqs_pid" ]; then
    kill -TERM -- "-$local_sqs_pid" 2>/dev/null || true
    wait "$local_sqs_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap bench_cleanup EXIT

# start_local_sqs [START_OPTIONS...]: starts tools/local-sqs on ports the OS picks, in a process
# group of its own, and sets $http (and, when it serves HTTPS, $https and $ca) once it is ready.
start_local_sqs() {
  mkfifo "$work/lines"
  setsid tools/local-sqs/start.sh "$@" >"$work/lines" &
  local_sqs_pid=$!
  local line
  http="" https="" ca=""
  while IFS= read -r line; do
    case "$line" in
      LOCAL_SQS_HTTP=*) http=${line#LOCAL_SQS_HTTP=} ;;
      LOCAL_SQS_HTTPS=*) https=${line#LOCAL_SQS_HTTPS=} ;;
      LOCAL_SQS_CA=*) ca=${line#LOCAL_SQS_CA=} ;;
      LOCAL_SQS_READY=1) break ;;
    esac
  done <"$work/lines"
  [ -n "$http$https" ] || { echo "bench: the local SQS service did not start" >&2; exit 1; }
  exec 9<"$work/lines"  # keep the pipe open for the service's lifetime
}
