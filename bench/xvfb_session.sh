# Shared by the measuring scripts (sourced, not run): a work directory, a private Xvfb server and
# its processor time.
# shellcheck shell=bash

# Ends the script with a message, named after the script that sourced this, unless every named
# program is installed.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$(basename "$0" .sh): $tool is not installed" >&2; exit 1; }
  done
}

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT

# Starts Xvfb with one screen of the given size (such as 640x480) and points DISPLAY at it. Xvfb
# picks a free display and writes its number to descriptor 3 once it is ready.
start_xvfb() {
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 "${1}x24" -noreset -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
}

stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  xvfb_pid=
}

# The X server's processor time so far, in clock ticks.
server_ticks() { awk '{print $14 + $15}' "/proc/$xvfb_pid/stat"; }
