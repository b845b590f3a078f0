#!/usr/bin/env bash
# Measures what showing frames on the desktop board costs, on a private Xvfb server at several sizes.
#
#   bench/present_cost.sh [frames]      (default 600 frames, 10 s at 60 a second, per row)
#
# For each screen size, each way of presenting (the window surface that the board chooses
# without a GPU, and SDL's renderer, which here runs on a software rasterizer) and two frames
# (every pixel lit, the dearest; all black, the cheapest: a show lies between), it prints the
# processor time per frame of the program (measured by the probe after its warm-up frames) and
# of the X server (from /proc in clock ticks, over the whole run), the share of one core that 60 frames a second
# take, the frame rate reached, and the program's maximum resident memory (/usr/bin/time -v).
# Needs a build (scripts/bootstrap) and Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=${1:-600}
probe=build/tests/e2e/desktop_board_probe
if [ ! -x "$probe" ]; then
  echo "present_cost: build first (scripts/bootstrap): $probe is missing" >&2
  exit 1
fi
script=present_cost
source bench/xvfb_session.sh
require_tools Xvfb /usr/bin/time

printf '%-10s %-9s %-10s %13s %13s %12s %7s %9s\n' screen path frame "program ms/f" "server ms/f" "core at 60" fps "max RSS"
for size in 640x480 1024x768 1920x1080; do
  start_xvfb "$size"
  for path in images renderer; do
    for pattern in quadrants black; do
      before=$(server_ticks)
      DISPLAY=$display /usr/bin/time -v -o "$work/time" "$probe" show --path "$path" --pattern "$pattern" \
        --frames "$frames" >"$work/probe"
      after=$(server_ticks)
      read -r measured program_ms fps < <(awk '/^frames/ {print $2, $4, $6}' "$work/probe")
      rss_kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$work/time")
      awk -v size="$size" -v path="$path" -v pattern="$pattern" -v program="$program_ms" -v fps="$fps" \
        -v ticks=$((after - before)) -v hz="$ticks_per_second" -v frames="$frames" -v rss="$rss_kb" 'BEGIN {
          server = ticks * 1000 / hz / frames
          printf "%-10s %-9s %-10s %13.3f %13.3f %11.1f%% %7.1f %6.1f MB\n", size, path, pattern, program, server,
            (program + server) * 60 / 10, fps, rss / 1024
        }'
    done
  done
  stop_xvfb
done
