#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# each for the given number of seconds, one after the other, at low priority.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET=60] [TARGET...]   (default: every fuzz/fuzz_*.cpp)
# Corpora and logs stay in fuzz-build/ (FUZZ_BUILD_DIR); a finding leaves its input there
# as crash-* / leak-* / timeout-* and makes the script exit 1.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
build=${FUZZ_BUILD_DIR:-fuzz-build}
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVANO_FUZZ=ON -DKELVANO_TESTS=OFF -DKELVANO_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# Seeds: the fixtures of the test suite behind each selector byte (card type and slot).
seed() {  # target, file...
  local dir="$build/corpus/$1"; shift
  mkdir -p "$dir"
  local f sel
  for f in "$@"; do
    [ -f "$f" ] || continue
    for sel in 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14; do
      { printf "\\x$(printf %02x "$sel")"; cat "$f"; } >"$dir/$(basename "$f").$sel"
    done
  done
}
seed fuzz_hex tests/data/*.hex
seed fuzz_bin tests/data/*.bin
seed fuzz_obj tests/data/*.obj
seed fuzz_srec tests/data/*.s19 tests/data/*.s28 tests/data/*.s37 tests/data/*.txt tests/data/*.tek \
  tests/data/*.mos
seed fuzz_elf tests/data/*.elf
mkdir -p "$build/corpus/fuzz_crd"
printf '\x0e/ dump\r\n01 02 FF 00 00 12 00 40 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n' \
  >"$build/corpus/fuzz_crd/layout1"
printf '\x0ec1 ff 00 10 02 ab cd\n01 02 23 01 00 05 AA BB CC DD\n' >"$build/corpus/fuzz_crd/layout6"
printf '\x8eAA BB HI LO\r\nC1 FF NB HI LO\r\n\x00AA BB 12 34 01 02\r\n' >"$build/corpus/fuzz_crd/layoutfile"
# The job files, transcripts and image stores of the test suite and the examples as they are.
plain() {  # target, file...
  local dir="$build/corpus/$1"; shift
  mkdir -p "$dir"
  local f
  for f in "$@"; do [ -f "$f" ] && cp "$f" "$dir/$(basename "$(dirname "$f")")-$(basename "$f")"; done
  return 0
}
plain fuzz_job packaging/examples/*.ini
printf '[Job]\nName=n\nCard=22\n[Images]\nSlot1=a.hex\nSlot2=b.bin\n[Serial]\nMemory=data\nAddress=4\nSize=4\nForm=bcd\nList=s.txt\n' \
  >"$build/corpus/fuzz_job/neighbours.ini"
printf '[Job]\nName=p\nCard=10\n[Memories]\nConfig=0\n[Serial]\nMemory=flash\nAddress=0x10\nSize=2\nForm=hex\nStart=0xAB\nStep=3\nLast=0xFFFF\n' \
  >"$build/corpus/fuzz_job/pic-flash.ini"
plain fuzz_transcript tests/transcripts/*/*.txt
printf '# kelvano-transcript 1\n0 usb-open 0 ok\n0 usb-pipes ok 00 00 02\n0 usb-string 2 1 ok 0A\n0 usb-out 1 ok 02 02 E0 20\n0 usb-in 0 32 2 AA BB\n0 usb-in 0 256 fail\n0 usb-close\n' \
  >"$build/corpus/fuzz_transcript/usb.txt"
plain fuzz_store "$build/images/images.store"

status=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  echo "== $t for ${seconds}s"
  if ! nice -n 10 "$build/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=60 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$t/" "$build/corpus/$t" \
      >"$build/$t.log" 2>&1; then
    echo "!! $t found a fault: see $build/$t.log and $build/findings/$t/"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$build/$t.log" || true
done
exit $status
