#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing KELVANO need.
# Installs only what is missing, so a second run costs a fraction of a second.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-multimedia-dev libgl-dev
  libusb-1.0-0-dev libsimpleini-dev zlib1g-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  gputils avra srecord hyperfine
  xvfb xauth imagemagick fonts-dejavu-core
  ccache libcli11-dev libqt6sql6-sqlite libqt6sql6-psql postgresql
  clang-format clang-tidy desktop-file-utils appstream lintian dpkg-dev fakeroot file
  librsvg2-bin bash-completion dex icewm
)
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
