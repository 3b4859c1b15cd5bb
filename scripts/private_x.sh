# shellcheck shell=bash
# Sourced by the scripts that run Dunelo on a private X server. After sourcing, $work is a scratch
# directory and every pid appended to the array pids is killed (last first) when the script exits.
#   start_xvfb [WxH]  starts Xvfb (1280x800 unless given) on a free display, exports DISPLAY,
#                     sets $xvfb
#   wait_for_wm       returns once a window manager publishes _NET_SUPPORTING_WM_CHECK

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "${1:-1280x800}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb=$!
  pids+=($xvfb)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
}

wait_for_wm() {
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
}
