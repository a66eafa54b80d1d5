#!/bin/sh
# queno_log --service against queno_log without it, at the example's settings (board 0, AI0:rtd,
# 1000 scans/s): CPU (user + system of the whole process, the simulator's producer included) and
# peak memory, the service with a notify socket that a reader empties and a watchdog of 10 s, so
# that every notification it sends is made and taken. Both runs one after the other, twice, so the
# noise shows.
# Usage: bench/service_bench.sh BUILD_DIR [SECONDS]   (default 60 s each)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-60}
bin=$build/bin
work=$(mktemp -d)
trap 'kill "$reader" 2> /dev/null || true; rm -rf "$work"' EXIT

. "$(dirname "$0")/measure.sh"

/usr/bin/python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
n = 0
while True:
    n += 1
    s.recv(65536)
' "$work/notify" &
reader=$!
sleep 0.5
for round in 1 2; do
    measure "round $round: without --service" "$bin/queno-sim" "$bin/queno_log" -q -d "${seconds}s" -o "$work/plain-$round.csv" AI0:rtd
    NOTIFY_SOCKET=$work/notify WATCHDOG_USEC=10000000 \
        measure "round $round: --service (notify, watchdog 10 s)" "$bin/queno-sim" "$bin/queno_log" --service -d "${seconds}s" \
        -o "$work/service-$round.csv" AI0:rtd
done
