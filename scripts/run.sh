#!/usr/bin/env bash
# Installs what is missing, builds KELVANO and starts it. Extra arguments go to the program
# (for example --port SIM).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kelvano
exec ./build/kelvano "$@"
