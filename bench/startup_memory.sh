#!/usr/bin/env bash
# How long Dunelo takes from its start to its tray icon, and its resident memory with the panel
# open, on a private Xvfb with openbox and an XEmbed tray (trayer). The first start is cold (files
# not cached yet); the later ones are warm, as a start at login after the first is. Each start
# waits for the icon by looking at the window tree every few milliseconds, so the times are a
# few milliseconds long at most. Build first (ninja -C build).
#   bench/startup_memory.sh [build-dir] [starts]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
starts=${2:-5}
source scripts/private_x.sh

start_xvfb
openbox >/dev/null 2>&1 &
pids+=($!)
wait_for_wm
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
  >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/dunelo"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
echo '{"isActive": false}' >"$XDG_CONFIG_HOME/dunelo/defaults.json"

now_ms() { date +%s%3N; }
icon_at() { xwininfo -root -tree | grep '("dunelo" "Dunelo")  22x22' | grep -o '+[0-9]*+[0-9]*$' || true; }

times=()
for ((i = 0; i < starts; i++)); do
  t0=$(now_ms)
  "$build/src/app/dunelo" 2>/dev/null &
  dunelo=$!
  pids+=($dunelo)
  icon=""
  for _ in $(seq 2000); do
    icon=$(icon_at)
    [ -n "$icon" ] && break
    sleep 0.002
  done
  t1=$(now_ms)
  [ -n "$icon" ] || { echo "no tray icon appeared" >&2; exit 1; }
  times+=($((t1 - t0)))
  if ((i == starts - 1)); then
    sleep 1
    rssBefore=$(awk '/VmRSS/ {print $2}' "/proc/$dunelo/status")
    x=$(($(echo "$icon" | cut -d+ -f2) + 11))
    y=$(($(echo "$icon" | cut -d+ -f3) + 11))
    xdotool mousemove "$x" "$y" click 1
    for _ in $(seq 100); do
      xwininfo -root -tree | grep '("dunelo" "Dunelo")' | grep -vq ' 22x22+' && break
      sleep 0.05
    done
    sleep 1  # the panel's first paint
    rssPanel=$(awk '/VmRSS/ {print $2}' "/proc/$dunelo/status")
  fi
  kill -TERM "$dunelo"
  wait "$dunelo" 2>/dev/null || true
done

printf 'start to tray icon (ms): cold %s, warm %s\n' "${times[0]}" "${times[*]:1}"
printf 'resident memory: %s MB with the tray icon only, %s MB with the panel open\n' \
  "$(awk -v k="$rssBefore" 'BEGIN { printf "%.1f", k / 1024 }')" \
  "$(awk -v k="$rssPanel" 'BEGIN { printf "%.1f", k / 1024 }')"
