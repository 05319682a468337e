#!/usr/bin/env bash
# Makes the user guide's pictures (docs/images/*.png) again: the program on the simulated box
# ("SIM") on a virtual screen, put into each state the guide shows, the screen captured from
# the X server. No window manager is needed: the windows are captured without frames.
#
#   scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/deps.sh test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kelvano-screenshots
display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1300x920x24 -nolisten tcp &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
# A home of its own, so no settings of the user's are read or written.
home=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$home"' EXIT
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share QT_QPA_PLATFORM=xcb \
  DISPLAY=$display "$build/kelvano-screenshots" docs/images .
echo "docs/images: $(ls docs/images | wc -l) pictures"
