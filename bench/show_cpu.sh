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
for tool in Xvfb xdotool /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "show_cpu: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

: >"$work/display"
Xvfb -displayfd 3 -screen 0 "${screen}x24" -noreset -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
ticks_per_second=$(getconf CLK_TCK)
server_ticks() { awk '{print $14 + $15}' "/proc/$xvfb_pid/stat"; }

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
