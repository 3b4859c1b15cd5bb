#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running Dunelo need; with --test also the
# desktops the test suite runs Dunelo on (window managers, compositors, a panel).
# Runs apt-get directly as root, through sudo otherwise. Does nothing when all are present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # settings store
  nlohmann-json3-dev
  # X11 backend
  libxcb1-dev libxcb-randr0-dev libxcb-xfixes0-dev libxcb-shape0-dev libxcb-composite0-dev
  libxcb-render0-dev libxcb-render-util0-dev libxcb-damage0-dev libxcb-xinput-dev
  libxcb-res0-dev libxcb-keysyms1-dev libxcb-xtest0-dev libxcb-ewmh-dev libxcb-icccm4-dev
  libxcb-xkb-dev libxcb-xrm-dev
  # X11 tests and the demo: a private X server, a window manager, tools and screenshots
  xvfb openbox x11-utils x11-xserver-utils xdotool imagemagick
  # the compositor the overlay renderer's benchmark measures itself against
  picom
  # the demo's ordinary windows
  x11-apps xterm
  # the session-bus tests (a private bus and a client), the manual page check
  dbus-daemon dbus-bin groff-base
  # the tray item and its panel (Qt Quick on the software scene graph), and its tray test host
  qt6-base-dev qt6-declarative-dev qt6-svg-dev qt6-qpa-plugins libqt6svg6
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-window qml6-module-qtquick-layouts qml6-module-qtqml-workerscript trayer
  # packaging
  dpkg-dev file
  # GNOME on Wayland: key names for the backend (build); for its tests a headless GNOME Shell with
  # Xwayland, and a Wayland terminal to blur (test only)
  libxkbcommon-dev gnome-shell xwayland foot
)

# The test desktops: one package list, only for the tests (scripts/test.sh).
test_desktops=(
  xfwm4 xfconf dbus dbus-x11 kwin-x11 mutter metacity marco mate-settings-daemon-common i3-wm
  fluxbox tint2
)
[ "${1:-}" = "--test" ] && packages+=("${test_desktops[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
