#!/usr/bin/env bash
# What mouse movement costs Dunelo: the CPU time of dunelo (and of the X server) while XTEST
# moves the pointer at 1000 events a second for ten seconds, on a private Xvfb with openbox,
# with Dunelo off (the shake detector listens all the time). Build first (ninja -C build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rate=1000
seconds=10
source scripts/private_x.sh

start_xvfb
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
export XDG_CONFIG_HOME="$work/config"
"$build/src/app/dunelo" &
dunelo=$!
pids+=($dunelo)
sleep 2

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
d0=$(ticks "$dunelo"); x0=$(ticks "$xvfb")
sent=$("$build/bench/motion_load" "$rate" "$seconds")
d1=$(ticks "$dunelo"); x1=$(ticks "$xvfb")
awk -v d=$((d1 - d0)) -v x=$((x1 - x0)) -v hz="$hz" -v s="$seconds" -v n="$sent" 'BEGIN {
  printf "motion events sent: %d in %d s\n", n, s
  printf "dunelo CPU:     %.2f %% of a core (%.1f us per event)\n", 100 * d / hz / s, 1e6 * d / hz / n
  printf "X server CPU:   %.2f %% of a core\n", 100 * x / hz / s
}'
