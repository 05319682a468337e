#!/usr/bin/env bash
# Installs the Debian packages that KELVANO needs, and only those that are missing, so a second
# run costs a fraction of a second.
#
#   scripts/deps.sh run    what building and running the programs needs
#   scripts/deps.sh test   that, and what the test suite, the code checks, the package and the
#                          benchmarks need (the default)
set -euo pipefail
mode="${1:-test}"
# Building and running: the compiler, the libraries, and the Qt plugins the programs load.
run_packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-serialport-dev qt6-multimedia-dev libgl-dev qt6-qpa-plugins
  libusb-1.0-0-dev libsimpleini-dev libcli11-dev qt6-charts-dev libqt6opengl6-dev libsrecord-dev libboost-dev libelf-dev zlib1g-dev libpq-dev
  libqt6sql6-sqlite libqt6sql6-psql
)
# Testing: the test frameworks, the sanitizer runtime, the real tools whose files the tests
# read, a PostgreSQL server the production tests start themselves, the screen for the window
# tests and screenshots, the code checks, and the tools that build and check the package.
test_packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  gputils avra srecord hyperfine
  xvfb xauth x11-utils imagemagick fonts-dejavu-core icewm
  postgresql
  clang-format clang-tidy desktop-file-utils appstream lintian dpkg-dev fakeroot file
  librsvg2-bin bash-completion dex man-db groff-base
)
case "$mode" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/deps.sh [run|test]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
