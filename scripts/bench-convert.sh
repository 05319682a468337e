#!/usr/bin/env bash
# Times "kelvano-cli --card 26 convert" of a 64 KiB Intel HEX file (4,096 records) to binary
# as a whole process, beside srec_cat doing the same conversion, and checks both outputs agree.
# Usage: scripts/bench-convert.sh [BUILD_DIR=build] [RUNS=50]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-50}
cli="$build/kelvano-cli"
[ -x "$cli" ] || { echo "no $cli: build the kelvano-cli target first (a Release build)" >&2; exit 1; }
command -v srec_cat >/dev/null || { echo "srec_cat is not installed (scripts/deps.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
srec_cat -generate 0 0x10000 -repeat-string "KELVANO 64 KiB benchmark image " \
  -o "$work/in.hex" -intel -output_block_size=16
echo "input: $(grep -c '^:10' "$work/in.hex") data records"

ours=("$cli" --card 26 convert --load "3=$work/in.hex" --save "3=$work/ours.bin")
theirs=(srec_cat "$work/in.hex" -intel -o "$work/srec.bin" -binary)
"${ours[@]}"
"${theirs[@]}"
cmp "$work/ours.bin" "$work/srec.bin"

if command -v hyperfine >/dev/null; then
  hyperfine -N --warmup 5 --runs "$runs" -n kelvano-cli "${ours[*]}" -n srec_cat "${theirs[*]}"
else
  time_ms() {  # mean wall time of "$@" over $runs runs, in milliseconds
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    awk -v s="$start" -v e="$end" -v n="$runs" 'BEGIN { printf "%.2f", (e - s) / n / 1000000 }'
  }
  echo "kelvano-cli: $(time_ms "${ours[@]}") ms per conversion (mean of $runs)"
  echo "srec_cat:    $(time_ms "${theirs[@]}") ms per conversion (mean of $runs)"
fi
