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
# A home of its own, so no settings of the user's are read or written, at a neutral place: the
# pictures show the files in ~/firmware, and the path the labels show is /home/user/firmware.
# A private mount namespace puts an empty /home there for this run only (unshare; without root
# in a user namespace of its own). Where that is refused, a temporary home is used and the
# pictures show its path: say so.
shots=(env XDG_CONFIG_HOME=/home/user/.config XDG_DATA_HOME=/home/user/.local/share
       HOME=/home/user QT_QPA_PLATFORM=xcb DISPLAY="$display"
       "$(realpath "$build")/kelvano-screenshots" "$PWD/docs/images" "$PWD")
in_namespace='mount -t tmpfs -o mode=755 tmpfs /home && mkdir /home/user && "$@"'
namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
if "${namespace[@]}" true 2>/dev/null; then
  "${namespace[@]}" sh -c "$in_namespace" sh "${shots[@]}"
else
  echo "screenshots: no private mount namespace here: the pictures show a temporary home" >&2
  home=$(mktemp -d)
  trap 'kill $xvfb 2>/dev/null || true; rm -rf "$home"' EXIT
  "${shots[@]/\/home\/user/$home}"
fi
echo "docs/images: $(ls docs/images | wc -l) pictures"
