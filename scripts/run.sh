#!/usr/bin/env bash
# Installs what running needs, builds KELVANO and starts it. Extra arguments go to the program
# (for example --port SIM).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
# The test suite is configured only where its frameworks are installed (scripts/deps.sh test).
tests=OFF
dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed" && tests=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANO_TESTS=$tests >/dev/null
cmake --build build --target kelvano
exec ./build/kelvano "$@"
