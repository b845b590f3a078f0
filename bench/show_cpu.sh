#!/usr/bin/env bash
# Measures what the real show costs on a desktop: pyrovane /s on a private Xvfb server for a while,
# then a click; prints the processor seconds it used (user + system), their share of one core,
# the X server's share, and the maximum resident memory (/usr/bin/time -v).
#
#   bench/show_cpu.sh [seconds] [screen]      (default 20 seconds on a 640x480 screen)
#
# Needs a build (scripts/bootstrap), Xvfb and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
screen=${2:-640x480}
program=$PWD/build/app/pyrovane
flare=$PWD/build/flare.3df
if [ ! -x "$program" ] || [ ! -f "$flare" ]; then
  echo "show_cpu: build first (scripts/bootstrap)" >&2
  exit 1
fi
script=show_cpu
source bench/xvfb_session.sh
require_tools Xvfb xdotool /usr/bin/time

start_xvfb "$screen"
export DISPLAY=$display

cp "$flare" "$work/"
before=$(server_ticks)
(cd "$work" && /usr/bin/time -v -o "$work/time" "$program" /s) &
show_pid=$!
sleep "$seconds"
xdotool click 1
wait "$show_pid"
after=$(server_ticks)

user=$(awk -F': ' '/User time/ {print $2}' "$work/time")
system=$(awk -F': ' '/System time/ {print $2}' "$work/time")
rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time")
awk -v u="$user" -v s="$system" -v t="$seconds" -v r="$rss" -v b="$before" -v a="$after" -v hz="$ticks_per_second" -v scr="$screen" 'BEGIN {
  printf "screen %s, %d s of show: %.2f s of processor time (user %.2f, system %.2f) = %.1f %% of one core; X server %.1f %%; max resident %.1f MB\n",
    scr, t, u + s, u, s, 100 * (u + s) / t, 100 * (a - b) / hz / t, r / 1024 }'
