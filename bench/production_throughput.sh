#!/bin/sh
# Cards per minute of a production run on kelvano-boxsim terminals at 115200 baud, one
# kelvano-cli command per box count, each box doing CARDS cards. Usage:
#   bench/production_throughput.sh [BUILD_DIR [JOB [BOX_COUNTS [CARDS]]]]
# Defaults: build, packaging/examples/badge-job.ini, "1 4 8", 10. The boxes hold the job's
# card type and swap their cards themselves (--feed); the log is a new file in a temporary
# folder each time. Prints the load average beside each figure: the boxes, the workers and
# whatever else runs share the machine's cores.
set -eu
here=$(dirname "$0")
build=${1:-build} job=${2:-$here/../packaging/examples/badge-job.ini}
counts=${3:-1 4 8} cards=${4:-10}
card=$("$build/kelvano-cli" job check "$job" | sed -n 's/.*: card type \([0-9]*\) .*/\1/p')
[ -n "$card" ] || { echo "$job: no card type" >&2; exit 1; }
# A box has a processor of its own: the simulated ones are served ahead of the compilers and
# tests that may share the machine, at the lowest real-time priority where the user may set
# it (the kernel still keeps a share of each second for everything else), else at a raised
# nice level. Under load a box served at an ordinary or raised nice level was seen to hold a
# command's answer for 20 to 130 ms after the command had reached it: late for the 30 ms the
# program waits for a read's reply, so that cards failed for the box's lack of time.
ahead=
if chrt -f 1 true 2>/dev/null; then
    ahead="chrt -f 1"
elif nice -n -5 true 2>/dev/null; then
    ahead="nice -n -5"
fi
echo "simulated boxes served with: ${ahead:-no priority}"
work=$(mktemp -d)
pids=
trap 'kill $pids 2>/dev/null || true; rm -rf "$work"' EXIT

# One run on $1 boxes; prints its line and leaves the cards per minute in $rate.
run() {
    boxes=$1 total=$(($1 * cards)) ports= pids=
    rm -f "$work"/log.db* "$work"/sim*
    i=1
    while [ "$i" -le "$boxes" ]; do
        $ahead "$build/kelvano-boxsim" --feed --card "$card" --baud 115200 > "$work/sim$i" 2>&1 &
        pids="$pids $!"
        i=$((i + 1))
    done
    i=1
    while [ "$i" -le "$boxes" ]; do
        while [ ! -s "$work/sim$i" ]; do sleep 0.1; done
        ports="$ports --port $(head -1 "$work/sim$i")"
        i=$((i + 1))
    done
    start=$(date +%s.%N)
    # Status 1: some card failed. The run still ends at its count of passed cards, so the
    # figure holds; the failures are printed with it.
    status=0
    "$build/kelvano-cli" job run "$job" $ports --count "$total" --log "$work/log.db" \
        > "$work/out" 2>&1 || status=$?
    end=$(date +%s.%N)
    summary=$(grep '^Summary: ' "$work/out" || true)
    if [ "$status" -gt 1 ] || ! echo "$summary" | grep -q "^Summary: $total passed"; then
        tail -5 "$work/out" >&2
        exit 1
    fi
    kill $pids 2>/dev/null || true
    wait 2>/dev/null || true
    pids=
    rate=$(echo "scale=1; $total * 60 / ($end - $start)" | bc)
    failed=$(echo "$summary" | sed -n 's/.* \([0-9]*\) failed.*/\1/p')
    printf '%2d box(es), %4d cards passed (%s failed): %6.1f s, %6.1f per minute (load %s)' \
        "$boxes" "$total" "$failed" "$(echo "$end - $start" | bc)" "$rate" \
        "$(cut -d' ' -f1-3 /proc/loadavg)"
}

one=
for n in $counts; do
    run "$n"
    [ -n "$one" ] || one=$rate
    echo ", $(echo "scale=2; $rate / $one" | bc) times one box"
done
