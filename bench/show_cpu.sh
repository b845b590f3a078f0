#!/usr/bin/env bash
# Measures what the real show costs on a desktop: pyrovane /s on a private Xvfb server for a while
# at 640x480, 1920x1080 and 3840x2160, and fireworkx (xscreensaver-data-extra) on the same server
# for as long when it is installed. For each it prints the processor time of the program and of
# the X server, as shares of one core, and their sum; then the ratio of the two sums and the
# show's maximum resident memory (/usr/bin/time -v). Then the same show as a Wayland client of a
# private headless sway (pixman renderer) with one output of each size, when sway is installed:
# the show's processor time and the compositor's.
#
#   bench/show_cpu.sh [seconds] [screen...]      (default 20 seconds at each of the three sizes)
#
# Needs a build (scripts/bootstrap; PYROVANE_BUILD_DIR names another build folder), Xvfb and
# xdotool; sway for the Wayland rows.
set -euo pipefail
cd "$(dirname "$0")/.."
# The X11 rows must not reach the desktop's own compositor: a Wayland session goes first.
unset WAYLAND_DISPLAY WAYLAND_SOCKET

seconds=${1:-20}
shift || true
screens=("$@")
if ((${#screens[@]} == 0)); then screens=(640x480 1920x1080 3840x2160); fi
build=$PWD/${PYROVANE_BUILD_DIR:-build}
program=$build/app/pyrovane
flare=$build/flare.3df
fireworkx=/usr/libexec/xscreensaver/fireworkx
if [ ! -x "$program" ] || [ ! -f "$flare" ]; then
  echo "show_cpu: build first (scripts/bootstrap)" >&2
  exit 1
fi
source bench/xvfb_session.sh
require_tools Xvfb xdotool /usr/bin/time
cp "$flare" "$work/"

ticks_per_second=$(getconf CLK_TCK)
# The processor time of a process so far, in clock ticks.
process_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
share() { awk -v t="$1" -v hz="$ticks_per_second" -v s="$seconds" 'BEGIN {printf "%.1f", 100 * t / hz / s}'; }

for screen in "${screens[@]}"; do
  start_xvfb "$screen"

  # The show, ended by a click; time -v tells its processor time and memory.
  before=$(server_ticks)
  (cd "$work" && /usr/bin/time -v -o "$work/time" "$program" /s) &
  show_pid=$!
  sleep "$seconds"
  xdotool click 1
  wait "$show_pid"
  server=$(($(server_ticks) - before))
  own=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {printf "%d", (u + s) * '"$ticks_per_second"' + 0.5}' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$work/time")
  line="screen $screen: pyrovane $(share "$own") % + X $(share "$server") % = $(share $((own + server))) % of one core, ${rss} MB"

  if [ -x "$fireworkx" ]; then
    before=$(server_ticks)
    "$fireworkx" -root &
    other_pid=$!
    sleep "$seconds"
    other=$(process_ticks "$other_pid")
    kill "$other_pid"
    wait "$other_pid" 2>/dev/null || true
    other_server=$(($(server_ticks) - before))
    ratio=$(awk -v a=$((own + server)) -v b=$((other + other_server)) 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')
    line+="; fireworkx $(share "$other") % + X $(share "$other_server") % = $(share $((other + other_server))) %; ratio $ratio"
  fi
  echo "$line"
  stop_xvfb
done

# The show on Wayland: the compositor scales the frame, so the show's own time should hardly grow
# with the screen. Pixman scales on the processor, in the compositor's time; a compositor with a
# GPU does that for next to nothing.
if ! command -v sway >/dev/null; then
  echo "show_cpu: sway is not installed: no Wayland rows" >&2
  exit 0
fi
source bench/sway_session.sh
for screen in "${screens[@]}"; do
  start_sway "$screen"
  before=$(sway_ticks)
  (cd "$work" && exec env -u DISPLAY WAYLAND_DISPLAY="$wayland_display" "$program" /s) &
  show_pid=$!
  sleep "$seconds"
  own=$(process_ticks "$show_pid")
  compositor=$(($(sway_ticks) - before))
  rss=$(awk '/VmHWM/ {printf "%.1f", $2 / 1024}' "/proc/$show_pid/status")
  kill "$show_pid"
  wait "$show_pid" 2>/dev/null || true
  echo "wayland $screen: pyrovane $(share "$own") % + sway $(share "$compositor") % = $(share $((own + compositor))) % of one core, ${rss} MB"
  stop_sway
done
