#!/usr/bin/env bash
# What Dunelo costs the X server while it is not shown: a 1920x1080 xterm scrolling text on a
# private Xvfb with openbox, measured with Dunelo not running, running and off, and on. Switched
# off, Dunelo holds no Composite redirection, damage objects or pixmaps, so the first two must
# match; the third shows what the overlay costs. Reports the X server's CPU (% of one core) over
# each span and its resident memory at the end of it; a small xterm in front has the focus. Build first (ninja -C build).
#   bench/redirection_cost.sh [build-dir] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-20}
source scripts/private_x.sh

start_xvfb 1920x1080
openbox >/dev/null 2>&1 &
pids+=($!)
wait_for_wm
# The default font is 6x13: 320x83 cells fill the screen. About 200 lines a second, the same in
# every span.
xterm -geometry 320x83+0+0 -title scroller \
  -e sh -c 'while :; do seq -w 1 4000 | paste -sd " " | fold -w 300 | head -n 20; sleep 0.1; done' &
pids+=($!)
# The focused window is a small one in front (a focused window that fills the screen hides the
# overlay): switched on, Dunelo blurs the scrolling xterm behind it.
xdotool search --sync --name '^scroller$' >/dev/null
xterm -geometry 60x10+700+400 -title focused &
pids+=($!)
xdotool windowactivate --sync "$(xdotool search --sync --name '^focused$' | head -n1)"

export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/dunelo" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
# Prints "<X server CPU %> <X server RSS in MiB>" over $seconds.
measure() {
  local x0 x1
  x0=$(ticks "$xvfb")
  sleep "$seconds"
  x1=$(ticks "$xvfb")
  awk -v x=$((x1 - x0)) -v hz="$hz" -v s="$seconds" \
    -v rss="$(awk '/VmRSS/ {print $2}' "/proc/$xvfb/status")" \
    'BEGIN { printf "%.2f %.1f\n", 100 * x / hz / s, rss / 1024 }'
}
shake() {
  xdotool mousemove 960 540
  for _ in 1 2 3 4 5 6; do
    xdotool mousemove_relative -- 80 0
    sleep 0.04
    xdotool mousemove_relative -- -80 0
    sleep 0.04
  done
}

sleep 2
read -r absentX absentM < <(measure)
echo '{"isActive": false}' >"$XDG_CONFIG_HOME/dunelo/defaults.json"
"$build/src/app/dunelo" 2>/dev/null &
dunelo=$!
pids+=($dunelo)
sleep 3
read -r offX offM < <(measure)
shake
sleep 3  # switched on, the fade in has ended
overlays=$(xwininfo -root -tree | grep -c '"Dunelo overlay"' || true)
read -r onX onM < <(measure)
kill -TERM "$dunelo"
wait "$dunelo" 2>/dev/null || true

printf 'X server over %s s each, a 1920x1080 xterm scrolling text (%s overlay window(s) while on):\n' \
  "$seconds" "$overlays"
printf '                        CPU (%% of a core)   resident memory\n'
printf 'Dunelo not running      %8.2f %%          %7.1f MiB\n' "$absentX" "$absentM"
printf 'Dunelo running, off     %8.2f %%          %7.1f MiB\n' "$offX" "$offM"
printf 'Dunelo on               %8.2f %%          %7.1f MiB\n' "$onX" "$onM"
