#!/bin/sh
# The Python package on the simulated boards: CPU (user + system of the whole process, the
# simulator's producer thread included), peak memory and lost scans, for
#   1. a Python loop that takes every block of board 1's 16 inputs at 100,000 scans/s and computes
#      each block's mean, beside queno_log recording the same as SigMF in the same run
#   2. the example's settings (board 0, AI0:rtd, 1000 scans/s) read in blocks
#   3. queno.read of the SigMF recording (memory-mapped) and of a CSV recording of the same
# Usage: bench/python_bench.sh BUILD_DIR [SECONDS]   (default 60 s each; files go to a temporary
# folder, about 0.4 GB SigMF and 1 GB CSV for 60 s at 1.6 M values/s)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-60}
bin=$build/bin
python=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PYTHONPATH="$build/python"

measure() {  # label, then the command; prints CPU per second of run and peak memory
    label=$1; shift
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" || status=$?
    tail -n 1 "$work/time" > "$work/time1"
    read -r user sys wall kb < "$work/time1"
    awk -v l="$label" -v u="$user" -v s="$sys" -v w="$wall" -v k="$kb" -v d="$seconds" 'BEGIN {
        printf "%-44s cpu %6.2f s (%5.1f %% of a core over %s s), wall %6.1f s, peak %7.1f MiB\n",
               l, u + s, 100 * (u + s) / d, d, w, k / 1024 }'
}

cat > "$work/loop.py" <<'PY'
import sys, time
import numpy as np
import queno
board_id, rate, seconds = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
channels = sys.argv[4:]
scans = blocks = 0
with queno.open(board_id) as board, board.scan(channels, rate=rate) as scan:
    end = time.monotonic() + seconds
    for block in scan.blocks():
        block.values.mean(axis=0)
        scans += len(block)
        blocks += 1
        if time.monotonic() >= end:
            break
    print(f"    {scans} scans in {blocks} blocks, {scan.gap_count} gaps, {scan.lost} scans lost")
PY

channels=""
for i in $(seq 0 15); do channels="$channels AI$i:voltage,Range=-100..100"; done

# shellcheck disable=SC2086
measure "Python: board 1, 16 x 100000 S/s, block means" "$bin/queno-sim" $python "$work/loop.py" 1 100000 "$seconds" $channels
# shellcheck disable=SC2086
measure "queno_log: the same, -O sigmf" "$bin/queno-sim" "$bin/queno_log" -q -b 1 -r 100000 -d "${seconds}s" \
    -o "$work/hv.sigmf-data" $channels
grep -o '"queno:lost": *[0-9]*' "$work/hv.sigmf-meta" | sed 's/^/    /' || true
measure "Python: board 0, AI0:rtd, 1000 S/s" "$bin/queno-sim" $python "$work/loop.py" 0 1000 "$seconds" AI0:rtd

cat > "$work/read.py" <<'PY'
import sys, time
import queno
started = time.perf_counter()
rec = queno.read(sys.argv[1])
print(f"    {len(rec.scans)} scans x {len(rec.channels)} channels in {time.perf_counter() - started:.2f} s")
PY
measure "queno.read of the SigMF recording" $python "$work/read.py" "$work/hv.sigmf-meta"
"$bin/queno_convert" -o "$work/hv.csv" "$work/hv" 2>/dev/null
measure "queno.read of the same as CSV ($(du -m "$work/hv.csv" | cut -f1) MB)" $python "$work/read.py" "$work/hv.csv"
