# Shared by the measuring scripts (sourced, not run, after xvfb_session.sh): a private headless sway
# (pixman renderer, no GPU) with one output, and its processor time. Sway refuses to run as root;
# run by root it runs as the user nobody, in a runtime folder that user owns.
# shellcheck shell=bash
: "${work:?bench/xvfb_session.sh must be sourced first: it makes the work directory}"

sway_pid=
# Starts sway with one output of the given size (such as 640x480) and sets `wayland_display` to
# the absolute path of its socket.
start_sway() {
  local runtime=$work/sway-runtime
  rm -rf "$runtime"
  mkdir -m 700 "$runtime"
  printf 'xwayland disable\noutput HEADLESS-1 resolution %s\n' "$1" >"$work/sway.config"
  local as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody: "$runtime"
    chmod a+rx "$work"
    chmod a+r "$work/sway.config"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  env XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_HEADLESS_OUTPUTS=1 "${as_user[@]}" sway -c "$work/sway.config" 2>"$work/sway.log" &
  sway_pid=$!
  wayland_display=
  for _ in $(seq 100); do
    for socket in "$runtime"/wayland-*; do [ -S "$socket" ] && wayland_display=$socket; done
    [ -n "$wayland_display" ] && break
    sleep 0.1
  done
}

stop_sway() {
  if [ -n "$sway_pid" ]; then kill "$sway_pid" 2>/dev/null || true; wait "$sway_pid" 2>/dev/null || true; fi
  sway_pid=
}

# Sway's processor time so far, in clock ticks (env executes sway in the same process).
sway_ticks() { awk '{print $14 + $15}' "/proc/$sway_pid/stat"; }

trap 'stop_sway; cleanup' EXIT
