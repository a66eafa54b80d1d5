#!/bin/sh
# queno_log publishing to a local mosquitto (started here on 127.0.0.1, stopped at the end):
#   1. rows per second sustained at QoS 1 with 16 channels (board 1 at 100,000 scans/s, means of
#      100, 10 and 1 scans), with the CPU of the whole process
#   2. the CPU at 1 row/s (board 0, one RTD input, 1000 scans/s, means of 1000)
#   3. rows lost across a 5 s and a 60 s outage of the broker at 1000 rows/s, with the default spool
# Usage: bench/mqtt_bench.sh BUILD_DIR [SECONDS]   (default 30 s a run)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-30}
bin=$build/bin
work=$(mktemp -d)
port=18838
broker_pid=
cleanup() { [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser root\npersistence true\npersistence_location %s/\nmax_queued_messages 0\n' \
    "$port" "$work" > "$work/broker.conf"
start_broker() { mosquitto -c "$work/broker.conf" > /dev/null 2>&1 & broker_pid=$!; sleep 0.5; }
stop_broker() { kill "$broker_pid"; wait "$broker_pid" 2>/dev/null || true; broker_pid=; }
start_broker

channels=""
for i in $(seq 0 15); do channels="$channels AI$i:voltage,Range=-100..100"; done

measure() {  # label, rows, then the queno_log arguments
    label=$1 rows=$2; shift 2
    /usr/bin/time -f "%U %S %e" -o "$work/time" "$bin/queno-sim" "$bin/queno_log" -q -o none \
        --mqtt "mqtt://127.0.0.1:$port" --topic bench "$@" 2> "$work/err" || true
    # A status other than 0 puts a line of its own before the numbers.
    tail -n 1 "$work/time" > "$work/time1"
    read -r user sys wall < "$work/time1"
    dropped=$(sed -n 's/.* \([0-9]*\) rows\{0,1\} dropped.*/\1/p' "$work/err" | tail -n 1)
    awk -v l="$label" -v r="$rows" -v u="$user" -v s="$sys" -v w="$wall" -v d="${dropped:-0}" -v t="$seconds" 'BEGIN {
        printf "%-44s %8.0f rows/s offered, cpu %5.1f %% of a core, wall %5.1f s, dropped %s\n",
               l, r / t, 100 * (u + s) / t, w, d }'
}

# shellcheck disable=SC2086
measure "16 channels, means of 100 (1000 rows/s)" $((seconds * 1000)) -b 1 -r 100000 -d "${seconds}s" --average 100 $channels
# shellcheck disable=SC2086
measure "16 channels, means of 10 (10000 rows/s)" $((seconds * 10000)) -b 1 -r 100000 -d "${seconds}s" --average 10 $channels
# shellcheck disable=SC2086
measure "16 channels, every scan (100000 rows/s)" $((seconds * 100000)) -b 1 -r 100000 -d "${seconds}s" --average 1 $channels
measure "1 channel, 1 row/s" "$seconds" -d "${seconds}s" --average 1000 AI0:rtd

outage() {  # seconds the broker is away, in a run of 20 s more
    away=$1
    mosquitto_sub -p "$port" -t bench -q 1 -c -i bench-subscriber -E
    # mosquitto_sub gives up when its broker stays away: start it again until the end.
    : > "$work/received"
    (while :; do stdbuf -oL mosquitto_sub -p "$port" -t bench -q 1 -c -i bench-subscriber >> "$work/received" 2> /dev/null
                sleep 0.2; done) &
    sub=$!
    sleep 0.5
    "$bin/queno-sim" "$bin/queno_log" -q -o none --mqtt "mqtt://127.0.0.1:$port" --topic bench -r 10000 \
        --average 10 -d "$((away + 20))s" AI0:rtd 2> "$work/err" &
    logger=$!
    sleep 5; stop_broker; sleep "$away"; start_broker
    wait "$logger" || true
    sleep 2; kill "$sub"; pkill -f "bench-subscriber" || true
    rows=$(( (away + 20) * 1000 ))
    got=$(sed -n 's/.*"scan":\([0-9]*\).*/\1/p' "$work/received" | sort -un | wc -l)
    echo "broker away ${away} s at 1000 rows/s: $((rows - got)) of $rows rows lost ($(grep -c . "$work/received") messages received; the logger: $(tail -n 1 "$work/err"))"
}
outage 5
outage 60
