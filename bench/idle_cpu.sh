#!/usr/bin/env bash
# What Dunelo costs while it is on and nothing changes: the CPU time of dunelo, of the X server and
# of the window manager over 20 seconds, and how often dunelo woke up (its context switches, all
# threads, from /proc), on a private Xvfb with openbox, five ordinary windows and the overlay below
# the active one. For comparison the same span is measured first with Dunelo off. Build first
# (ninja -C build).
#   bench/idle_cpu.sh [build-dir] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-20}
source scripts/private_x.sh

start_xvfb
openbox >/dev/null 2>&1 &
wm=$!
pids+=($wm)
wait_for_wm
xterm -geometry 80x24+40+40 &
pids+=($!)
xterm -geometry 60x10+560+560 &
pids+=($!)
xlogo -geometry 220x220+700+60 &
pids+=($!)
xeyes -geometry 260x170+820+320 &
pids+=($!)
xlogo -geometry 200x200+300+480 &
pids+=($!)
for class in XTerm XLogo XEyes; do xdotool search --sync --class "$class" >/dev/null; done
xdotool windowactivate --sync "$(xdotool search --class XTerm | head -n1)"

export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/dunelo"
echo '{"isActive": false}' >"$XDG_CONFIG_HOME/dunelo/defaults.json"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Voluntary and involuntary context switches of every thread of the process.
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { n += $2 } END { print n + 0 }'
}
hz=$(getconf CLK_TCK)
# Prints "dunelo xserver wm" CPU in % of a core over $seconds, then dunelo's wake-ups a second.
measure() {
  local d0 x0 w0 c0 d1 x1 w1 c1
  d0=$(ticks "$1"); x0=$(ticks "$xvfb"); w0=$(ticks "$wm"); c0=$(switches "$1")
  sleep "$seconds"
  d1=$(ticks "$1"); x1=$(ticks "$xvfb"); w1=$(ticks "$wm"); c1=$(switches "$1")
  awk -v d=$((d1 - d0)) -v x=$((x1 - x0)) -v w=$((w1 - w0)) -v c=$((c1 - c0)) -v hz="$hz" \
    -v s="$seconds" 'BEGIN { printf "%.3f %.3f %.3f %.2f\n", 100 * d / hz / s, 100 * x / hz / s,
                             100 * w / hz / s, c / s }'
}

"$build/src/app/dunelo" &
dunelo=$!
pids+=($dunelo)
sleep 2
read -r offD offX offW offC < <(measure "$dunelo")
kill -TERM "$dunelo"
wait "$dunelo" 2>/dev/null || true

echo '{"isActive": true}' >"$XDG_CONFIG_HOME/dunelo/defaults.json"
"$build/src/app/dunelo" &
dunelo=$!
pids+=($dunelo)
sleep 3  # the fade in ends, the ordering loop runs
overlays=$(xwininfo -root -children | grep -c '"Dunelo overlay"' || true)
read -r onD onX onW onC < <(measure "$dunelo")

kill -TERM "$dunelo"
wait "$dunelo" 2>/dev/null || true

printf 'over %s s, %s overlay window(s) shown while on (%% of one core; clock tick %s ms):\n' \
  "$seconds" "$overlays" "$((1000 / hz))"
printf '                 dunelo    X server   openbox   dunelo wake-ups/s\n'
printf 'Dunelo off     %7.3f %%  %7.3f %%  %7.3f %%  %8.2f\n' "$offD" "$offX" "$offW" "$offC"
printf 'Dunelo on      %7.3f %%  %7.3f %%  %7.3f %%  %8.2f\n' "$onD" "$onX" "$onW" "$onC"
