#!/bin/sh
# queno_log on the simulated boards: CPU (user + system of the whole process, the simulator's
# producer thread included), peak memory and lost scans, for
#   1. the example's settings: board 0, one RTD channel, 1000 scans/s
#   2. board 1, all 16 channels at 100,000 scans/s (1.6 M values/s), beside a plain fprintf loop
#      that writes the same number of values
#   3. the same with a writer that stalls for 2 s: standard output into a pipe whose reader stops
#      reading after 20 MB for 2 s
#   4. the same recorded as SigMF (-O sigmf), its data file's size, and queno_convert of it to CSV;
#      the same with an alarm on every input; the example's settings as SigMF
# Usage: bench/logger_bench.sh BUILD_DIR [SECONDS]   (default 60 s each; files go to a temporary
# folder, about 1.2 GB for 60 s at 1.6 M values/s)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-60}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {  # label, then the command; prints CPU per second of run and peak memory
    label=$1; shift
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" || status=$?
    tail -n 1 "$work/time" > "$work/time1"  # after "Command exited with ..." when it did
    read -r user sys wall kb < "$work/time1"
    awk -v l="$label" -v u="$user" -v s="$sys" -v w="$wall" -v k="$kb" -v d="$seconds" 'BEGIN {
        printf "%-40s cpu %6.2f s (%5.1f %% of a core over %s s), wall %6.1f s, peak %7.1f MiB\n",
               l, u + s, 100 * (u + s) / d, d, w, k / 1024 }'
}

lost() { grep "^# end" "$1" | sed 's/.*: //'; }

channels=""
for i in $(seq 0 15); do channels="$channels AI$i:voltage,Range=-100..100"; done

measure "board 0, AI0:rtd, 1000 S/s" "$bin/queno-sim" "$bin/queno_log" -q -d "${seconds}s" -o "$work/rtd.csv" AI0:rtd
echo "    $(lost "$work/rtd.csv")"

# shellcheck disable=SC2086
measure "board 1, 16 x 100000 S/s" "$bin/queno-sim" "$bin/queno_log" -q -b 1 -r 100000 -d "${seconds}s" \
    -o "$work/hv.csv" $channels
echo "    $(lost "$work/hv.csv"), $(du -m "$work/hv.csv" | cut -f1) MB"
rm -f "$work/hv.csv"
measure "fprintf(\"%.5f\") of the same values" "$bin/fprintf_baseline" $((seconds * 100000)) 16 "$work/plain.csv"
rm -f "$work/plain.csv"

# shellcheck disable=SC2086
measure "board 1, 16 x 100000 S/s, -O sigmf" "$bin/queno-sim" "$bin/queno_log" -q -b 1 -r 100000 -d "${seconds}s" \
    -o "$work/hv.sigmf-data" $channels
bytes=$(stat -c %s "$work/hv.sigmf-data")
echo "    $(( bytes / 1048576 )) MiB of data, $(( bytes / (seconds * 100000 * 16) )) bytes a value"
if [ -x "$bin/queno_convert" ]; then
    measure "queno_convert of it to CSV" "$bin/queno_convert" -o "$work/converted.csv" "$work/hv"
    rm -f "$work/converted.csv"
fi
rm -f "$work/hv.sigmf-data" "$work/hv.sigmf-meta"
alarms=""
for i in $(seq 0 15); do alarms="$alarms --alarm AI$i:lo=-50,hi=50,deadband=1,delay=10ms"; done
# shellcheck disable=SC2086
measure "the same with an alarm on every input" "$bin/queno-sim" "$bin/queno_log" -q -b 1 -r 100000 -d "${seconds}s" \
    -o "$work/hv.sigmf-data" $alarms $channels
echo "    lost: $(grep -o '"lost":[0-9]*' "$work/hv.sigmf-meta" | tail -n 1)"
rm -f "$work/hv.sigmf-data" "$work/hv.sigmf-meta"
measure "board 0, AI0:rtd, 1000 S/s, -O sigmf" "$bin/queno-sim" "$bin/queno_log" -q -d "${seconds}s" -o "$work/rtd.sigmf-meta" AI0:rtd

# shellcheck disable=SC2086
"$bin/queno-sim" "$bin/queno_log" -q -b 1 -r 100000 -d "${seconds}s" -o - $channels 2> "$work/stall.err" |
    { head -c 20000000 > /dev/null; sleep 2; cat; } | tail -n 1 > "$work/stall.end"
echo "writer stalled 2 s at 16 x 100000 S/s:    $(sed 's/.*: //' "$work/stall.end")"
