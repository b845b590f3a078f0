#!/usr/bin/env bash
# Measures what pyrovane-idle costs while it waits: its own processor time over a while, on a
# private Xvfb server (with the user idle, then with the pointer moving ten times a second) and as
# a client of a private headless sway, when sway is installed. The period is an hour, so no show
# starts. The time is the kernel's count of nanoseconds on a processor (/proc/PID/schedstat).
# Then how promptly it acts, on Xvfb from a staged install with a period of 2 s: the time from the
# last input to the show's start, and from a pointer motion to the show's end.
#
#   bench/idle_cpu.sh [seconds]      (default 30 seconds each)
#
# Needs a build (scripts/bootstrap; PYROVANE_BUILD_DIR names another build folder), Xvfb and
# xdotool; sway for the Wayland row.
set -euo pipefail
cd "$(dirname "$0")/.."
unset WAYLAND_DISPLAY WAYLAND_SOCKET DBUS_SESSION_BUS_ADDRESS

seconds=${1:-30}
build=$PWD/${PYROVANE_BUILD_DIR:-build}
watcher=$build/idle/pyrovane-idle
if [ ! -x "$watcher" ]; then
  echo "idle_cpu: build first (scripts/bootstrap)" >&2
  exit 1
fi
source bench/xvfb_session.sh
require_tools Xvfb xdotool
trap 'stop_watcher; cleanup' EXIT

watcher_pid=
stop_watcher() {
  if [ -n "$watcher_pid" ]; then kill "$watcher_pid" 2>/dev/null || true; wait "$watcher_pid" 2>/dev/null || true; fi
  watcher_pid=
}
# The watcher's processor time so far, in nanoseconds.
watcher_nanoseconds() { awk '{print $1}' "/proc/$watcher_pid/schedstat"; }
# Prints one row: what was measured, the watcher's time over the while and its share of a core,
# and for comparison its time to start (connecting, subscribing).
report() {
  awk -v what="$1" -v ns="$2" -v start="$3" -v s="$seconds" 'BEGIN {
    printf "%-42s %8.3f ms in %d s, %.5f %% of one core (starting: %.2f ms)\n", what, ns / 1e6, s, 100 * ns / 1e9 / s,
      start / 1e6 }'
}
# Starts the watcher (period one hour), lets it settle, then measures it for `seconds` while the
# given command runs (or nothing), and prints the row.
measure() {
  local what=$1
  shift
  "$watcher" --after 3600 &
  watcher_pid=$!
  sleep 1
  local before
  before=$(watcher_nanoseconds)
  if (($# > 0)); then "$@"; else sleep "$seconds"; fi
  report "$what" $(($(watcher_nanoseconds) - before)) "$before"
  stop_watcher
}
move_pointer() {
  local step
  for step in $(seq $((seconds * 10))); do
    xdotool mousemove $((step % 2 * 100 + 10)) 10
    sleep 0.1
  done
}

# Milliseconds since the epoch.
now_ms() { date +%s%3N; }
# The process id of the show that the watcher runs, once there is one.
show_of_watcher() { pgrep -P "$watcher_pid" -x pyrovane || true; }
# From a staged install: the last input, then the show's start after the period of 2 s; a pointer
# motion, then the show's end. Each as milliseconds, five times.
promptness() {
  DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
  local round show input started moved
  "$work/stage/usr/bin/pyrovane-idle" --after 2 &
  watcher_pid=$!
  for round in 1 2 3 4 5; do
    xdotool mousemove $((round * 20)) 10
    input=$(now_ms)
    show=
    while [ -z "$show" ]; do sleep 0.01; show=$(show_of_watcher); done
    started=$(now_ms)
    sleep 1
    moved=$(now_ms)
    xdotool mousemove $((round * 20 + 10)) 20
    while [ "$(show_of_watcher)" = "$show" ]; do sleep 0.01; done
    printf '%-42s start %5d ms after the last input (period 2000 ms), end %4d ms after a motion\n' \
      "X11 (Xvfb), show $round" $((started - input)) $(($(now_ms) - moved))
  done
  stop_watcher
}

start_xvfb 640x480
measure "X11 (Xvfb), the user idle"
measure "X11 (Xvfb), the pointer moving 10 times/s" move_pointer
promptness
stop_xvfb
unset DISPLAY

if command -v sway >/dev/null; then
  source bench/sway_session.sh
  trap 'stop_watcher; stop_sway; cleanup' EXIT
  start_sway 640x480
  WAYLAND_DISPLAY=$wayland_display measure "Wayland (sway 1.7), the user idle"
  stop_sway
fi
