# A virtual X server (Xvfb) for the scripts that show the window; source it under
# `set -euo pipefail`.

# start_xvfb DIR: starts Xvfb (1280x1024, 24 bits, 96 dpi) on a display it picks itself, with
# its files in DIR; sets $xvfb_display (":N") and $xvfb_pid, which the caller stops.
start_xvfb() {
  local dir=$1
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$dir/display" \
    >"$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$dir/display" ]; then
    echo "$(basename "$0"): Xvfb did not start" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
  fi
  xvfb_display=":$(head -n1 "$dir/display")"
}
