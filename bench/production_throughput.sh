#!/bin/sh
# Cards per minute of a production run on kelvano-boxsim terminals at 115200 baud: CARDS cards
# on BOXES boxes from one kelvano-cli command. Usage:
#   bench/production_throughput.sh BUILD_DIR JOB BOXES CARDS
# The boxes swap their cards themselves (--feed); the log is a new file in a temporary folder.
set -eu
build=$1 job=$2 boxes=$3 cards=$4
work=$(mktemp -d)
trap 'kill $pids 2>/dev/null; rm -rf "$work"' EXIT
pids= ports=
i=1
while [ "$i" -le "$boxes" ]; do
    "$build/kelvano-boxsim" --feed --baud 115200 > "$work/sim$i" 2>&1 &
    pids="$pids $!"
    i=$((i + 1))
done
sleep 1
i=1
while [ "$i" -le "$boxes" ]; do
    ports="$ports --port $(head -1 "$work/sim$i")"
    i=$((i + 1))
done
start=$(date +%s.%N)
"$build/kelvano-cli" job run "$job" $ports --count "$cards" --log "$work/log.db" > "$work/out" || {
    tail -5 "$work/out"
    exit 1
}
end=$(date +%s.%N)
tail -1 "$work/out"
echo "$boxes box(es), $cards cards: $(echo "$end - $start" | bc) s, $(echo "scale=1; $cards * 60 / ($end - $start)" | bc) cards per minute"
