#!/usr/bin/env bash
# Builds and runs Dunelo.
#
# On a desktop (DISPLAY is set) it runs dunelo there until you quit it (Ctrl+C).
# Without a display it shows what Dunelo does on a private X server: Xvfb with openbox and a few
# ordinary windows, Dunelo switched on by a mouse shake and then off and on again by its hot key
# (Ctrl+Alt+D), all through real X input (XTEST), then the same under xfwm4's compositor when
# xfwm4 is installed. Screenshots and a report land in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target dunelo -j "$(nproc)"
dunelo="$root/build/src/app/dunelo"

if [ -n "${DISPLAY:-}" ]; then
  exec "$dunelo"
fi

out="$root/out"
rm -rf "$out"
mkdir -p "$out"
source scripts/private_x.sh

report="$out/report.txt"
say() { printf '%s  %s\n' "$(date -u +%H:%M:%S)" "$*" | tee -a "$report"; }
shot() { import -window root "$out/$1.png" && say "screenshot out/$1.png: $2"; }
isActive() { grep -o '"isActive": *[a-z]*' "$XDG_CONFIG_HOME/dunelo/defaults.json" 2>/dev/null |
             sed 's/.*: *//' || echo unknown; }

echo "Dunelo demo on a private X server, $(date -u '+%Y-%m-%d %H:%M UTC')" >"$report"

# A private X server on a free display number, with a window manager and a few windows.
start_xvfb
say "Xvfb started on display $DISPLAY (1280x800)"

# Dunelo's settings: the hot key Ctrl+Option+D, stored as Dunelo stores it on every platform
# (key code 2 is the D key; 0x40000 control + 0x80000 option = 786432).
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/dunelo"
cat >"$XDG_CONFIG_HOME/dunelo/defaults.json" <<'JSON'
{"globalShortcutKeyCode": 2, "globalShortcutModifiers": 786432, "isActive": false}
JSON
say "settings: hot key Ctrl+Alt+D, isActive=false ($XDG_CONFIG_HOME/dunelo/defaults.json)"

# The desktop's file manager, as its package would install it: the stored "com.apple.finder"
# exclusion stands for it.
export XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_DATA_HOME/applications"
cat >"$XDG_DATA_HOME/applications/org.gnome.Nautilus.desktop" <<'ENTRY'
[Desktop Entry]
Type=Application
Name=Files
Name[de]=Dateien
Icon=/usr/share/icons/Adwaita/48x48/legacy/system-file-manager.png
Exec=true
ENTRY
# The single-instance socket of this session.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

# A tray at the top right (trayer, an XEmbed tray) for Dunelo's icon.
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
  >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 0.5

log=/tmp/dunelo_debug.log
logStart=$( (wc -l <"$log") 2>/dev/null || echo 0)
"$dunelo" 2>"$work/dunelo.stderr" &
dunelo_pid=$!
pids+=($dunelo_pid)
icon=""
for _ in $(seq 100); do
  icon=$(xwininfo -root -tree | grep '("dunelo" "Dunelo")  22x22' | grep -o '+[0-9]*+[0-9]*$' || true)
  [ -n "$icon" ] && break
  sleep 0.1
done
say "dunelo started (pid $dunelo_pid) without a window manager; tray icon at $icon"
iconX=$(( $(echo "$icon" | cut -d+ -f2) + 11 ))
iconY=$(( $(echo "$icon" | cut -d+ -f3) + 11 ))
xdotool mousemove "$iconX" "$iconY" click 1
sleep 1.5
say "clicked the tray icon"
# The keyboard reaches every control: the exclusion pill, the power button, then the one Grant.
xdotool key Tab Tab Tab space
sleep 0.5
say "pressed Tab three times and Space: Accessibility's Grant"
shot 00-panel-permissions "the panel: no window manager publishes the active window, so Accessibility is missing; Grant says what to do"

openbox >"$work/openbox.log" 2>&1 &
openbox_pid=$!
pids+=($openbox_pid)
wait_for_wm
say "openbox manages the screen"
sleep 2
xdotool mousemove "$iconX" "$iconY" click 1
sleep 1.5
say "clicked the tray icon again (the window manager took the focus, which closed the panel)"
shot 00-panel-main "the panel's main screen: the permission poll found both permissions granted"
xdotool key Tab Tab Tab space
sleep 0.5
say "pressed Tab three times and Space: the shake sensitivity menu"
shot 00-panel-sensitivity-menu "the sensitivity menu, opened from the keyboard"
xdotool key Escape
sleep 0.3
xdotool mousemove 640 700 click 1
sleep 0.5
say "clicked the desktop: the panel closes as it loses the focus"

xsetroot -solid '#35618f'
xterm -geometry 90x28+40+40 -bg '#fdf6e3' -fg '#073642' -title 'first xterm' \
  -e sh -c 'echo "This window has the focus and stays sharp."; exec sleep 100000' &
pids+=($!)
xterm -geometry 60x10+560+620 -bg '#eee8d5' -fg '#073642' -title 'second xterm' \
  -e sh -c 'echo "Activated later: the overlay moves below this window."; exec sleep 100000' &
pids+=($!)
xclock -geometry 220x220+760+60 -update 1 &
pids+=($!)
xeyes -geometry 260x170+820+420 &
pids+=($!)
xlogo -geometry 220x220+300+520 &
pids+=($!)
for class in XTerm XClock XEyes XLogo; do xdotool search --sync --class "$class" >/dev/null; done
first=$(xdotool search --sync --name '^first xterm$' | head -n1)
second=$(xdotool search --sync --name '^second xterm$' | head -n1)
xdotool windowactivate --sync "$first"
say "windows open: xterm (active), a second xterm, xclock, xeyes, xlogo"

say "isActive=$(isActive)"
shot 01-started "Dunelo running, off"

xdotool mousemove 640 400
for _ in 1 2 3 4 5; do
  xdotool mousemove_relative -- 80 0
  sleep 0.05
  xdotool mousemove_relative -- -80 0
  sleep 0.05
done
sleep 1.5
say "shook the mouse (XTEST relative motion, 10 strokes of 80 px); isActive=$(isActive)"
shot 02-shake-on "after the shake: overlay below the focused xterm ($(xdotool getactivewindow getwindowname))"

xdotool key ctrl+alt+d
sleep 1
say "pressed Ctrl+Alt+D; isActive=$(isActive)"
shot 03-hotkey-off "after the hot key: off"

xdotool key ctrl+alt+d
sleep 1.5
say "pressed Ctrl+Alt+D again; isActive=$(isActive)"
shot 04-hotkey-on "after the hot key again: on"

xdotool windowactivate --sync "$second"
sleep 1
say "activated the second xterm (active window: $(xdotool getactivewindow getwindowname))"
shot 05-other-window "the overlay follows: now directly below the second xterm"

# The same under a compositing window manager: xfwm4 with its compositor on (Xfce's default)
# replaces openbox (the test desktops: scripts/install-deps.sh --test).
if command -v xfwm4 >/dev/null && command -v dbus-daemon >/dev/null; then
  xdotool key ctrl+alt+d
  sleep 1
  say "pressed Ctrl+Alt+D: off; isActive=$(isActive)"
  oldCheck=$(xprop -root _NET_SUPPORTING_WM_CHECK)
  kill "$openbox_pid"
  # A session bus of its own, stopped with the demo (dbus-run-session would leave its bus behind
  # when it is killed); no accessibility bus.
  dbus-daemon --session --nofork --print-address=5 5>"$work/bus" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus") NO_AT_BRIDGE=1 \
    xfwm4 --compositor=on >"$work/xfwm4.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null || true)
    [ "$check" != "$oldCheck" ] && echo "$check" | grep -q 'window id' && break
    sleep 0.1
  done
  sleep 3
  say "xfwm4 with its compositor on replaced openbox"
  xdotool windowactivate --sync "$first"
  xdotool key ctrl+alt+d
  sleep 2
  say "activated the first xterm, pressed Ctrl+Alt+D; isActive=$(isActive); active window: $(xdotool getactivewindow getwindowname)"
  shot 06-xfwm4-compositor "xfwm4's compositor paints the screen: the overlay still directly below the focused xterm"
else
  say "xfwm4 is not installed (scripts/install-deps.sh --test): no compositing screenshot"
fi

kill -TERM "$dunelo_pid"
status=0
wait "$dunelo_pid" || status=$?
say "sent SIGTERM to dunelo; it exited with status $status"

{
  echo
  echo "Debug log ($log) written during the demo:"
  tail -n +"$((logStart + 1))" "$log" 2>/dev/null | sed 's/^/  /'
  if [ -s "$work/dunelo.stderr" ]; then
    echo
    echo "dunelo's standard error:"
    sed 's/^/  /' "$work/dunelo.stderr"
  fi
} >>"$report"
echo
echo "Report: $report"
echo "Screenshots: $(ls "$out"/*.png | tr '\n' ' ')"
