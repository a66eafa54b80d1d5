#!/bin/sh
# queno_log with several boards: four simulated QUENO-3200-HV boards (clocks 300 ppm apart), four
# inputs each at 100,000 scans/s (1.6 M values/s in all, the most the simulated boards give
# together), against one board with the same 16 inputs at the same rate: CPU (user + system of the
# whole process, the simulator's producer threads included), peak memory, lost scans, and how far
# apart the boards' fitted clocks put the one moment they all see.
# Usage: bench/boards_bench.sh BUILD_DIR [SECONDS]   (default 60 s each; about 1.2 GB of files
# for 60 s)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-60}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/measure.sh"

step=$((seconds / 2))
{
    echo "<QuenoSimSystem>"
    for k in 0 1 2 3; do
        echo "<Board model='QUENO-3200-HV' serial='HV-$k' clock='$((k * 100 - 150))ppm'><Acquisition bufferScans='65536'/>"
        echo "<Signals><Signal channels='AI0' kind='steps' values='0 50' every='${step}s' timebase='host'/></Signals></Board>"
    done
    echo "</QuenoSimSystem>"
} > "$work/four.xml"

one=""
four=""
for i in $(seq 0 15); do one="$one AI$i:voltage,Range=-100..100"; done
for k in 0 1 2 3; do for i in 0 1 2 3; do four="$four $k/AI$i:voltage,Range=-100..100"; done; done

# shellcheck disable=SC2086
measure "one board, 16 inputs x 100000 S/s" "$bin/queno-sim" --system "$work/four.xml" "$bin/queno_log" -q -r 100000 \
    -d "${seconds}s" -O sigmf -o "$work/one" $one
rm -f "$work"/one*
# shellcheck disable=SC2086
measure "four boards, 4 inputs each x 100000 S/s" "$bin/queno-sim" --system "$work/four.xml" "$bin/queno_log" -q -r 100000 \
    -d "${seconds}s" -O sigmf -o "$work/four" $four
for k in 0 1 2 3; do
    meta="$work/four-board$k.sigmf-meta"
    echo "    board $k: $(grep -o '"queno:clock": *{[^}]*}' "$meta"), $(grep -o '"scans":[0-9]*,"gaps":[0-9]*,"lost":[0-9]*' "$meta")"
done
# Where each board puts the step all four see at one moment of host time.
"$bin/queno_convert" --merge "$work/four.sigmf-collection" | awk -F, '
    /^time/ { for (i = 2; i <= NF; i++) if ($i ~ /AI0 /) col[i] = $i; next }
    /^#/ { next }
    { for (i in col) if (!(i in seen) && $i != "" && $i + 0 > 25) { seen[i] = NR; when[i] = $1 } }
    END { for (i in col) printf "    %s reaches the step in merged row %d (%s)\n", col[i], seen[i], when[i] }'
