#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy on every source file under src/, using the
# compile commands of a build folder (default: build, configured here when it has none).
# Prints each finding once and fails when there is any.
#   scripts/tidy.sh [BUILD_DIR] [FILE_REGEX]    e.g. scripts/tidy.sh build 'src/app/'
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
filter=${2:-src/}
tidy_runner=${RUN_CLANG_TIDY:-run-clang-tidy}
command -v "$tidy_runner" >/dev/null || { echo "tidy: $tidy_runner not found (scripts/deps.sh installs clang-tidy)" >&2; exit 2; }
if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Only the tree's own sources: the build folder's generated files (moc) are no one's to mend.
status=0
"$tidy_runner" -j "${TIDY_JOBS:-2}" -p "$build" -quiet "^$root/$filter" >"$out" 2>&1 || status=$?

# A header included by several files is reported by each of them: keep one line per finding.
# run-clang-tidy colours its output even into a file: take the colour codes out first.
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$out" | grep -E '^/.*:[0-9]+:[0-9]+: (warning|error): ' |
  sed "s#^$root/##" | sort -u || true)
if [ -n "$findings" ]; then
  echo "$findings"
  echo "tidy: $(echo "$findings" | wc -l) finding(s)" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  cat "$out" >&2
  echo "tidy: clang-tidy failed (status $status)" >&2
  exit 1
fi
echo "tidy: no findings in $filter"
