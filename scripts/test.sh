#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite twice:
# once in an optimised build, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler results are shared between build folders and clones of this tree.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(cd .. && pwd)}"
# ...also between clones in other folders (the debug information then names the folder the
# object was first compiled in).
export CCACHE_NOHASHDIR=1
bash scripts/deps.sh test
# The code keeps its own layout: a file that deviates from .clang-format fails the run.
bash scripts/format-check.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANO_WERROR=ON -DKELVANO_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600
# The checks of .clang-tidy: a finding fails the run.
TIDY_JOBS="$jobs" bash scripts/tidy.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANO_SANITIZE=ON -DKELVANO_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900 -LE nosan
