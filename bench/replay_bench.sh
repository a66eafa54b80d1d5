#!/bin/sh
# A 24-hour recording at 10 scans/s of 8 RTD inputs (made here in queno_log's format, values that
# a 24-bit converter can give), replayed by the simulator at speed 100 and logged at 1000 scans/s:
# each logged scan is then the recorded scan of the same number. Prints how long the replay took
# and whether every value came back as recorded.
# Usage: bench/replay_bench.sh BUILD_DIR [SECONDS]   (default 864 s: the whole day at speed 100)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-864}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# pt100 settles on -200..850 degC: scale 525 / 8388607 per count, offset -325.
awk 'BEGIN {
    scale = 525 / 8388607; offset = -325
    print "# queno_log 1.2.0"
    print "# board 0: QUENO-1600-UNIV, serial 16U-20417, 24 bits"
    print "# rate 10 S/s, first scan 2026-12-07T00:00:00.000000Z (system clock when the start returned)"
    printf "time,scan"; for (c = 0; c < 8; ++c) printf ",AI%d [degC]", c; print ""
    for (s = 0; s < 864000; ++s) {
        printf "2026-12-07T00:00:00.000000Z,%d", s
        for (c = 0; c < 8; ++c) {
            raw = int(-5000000 + 400000 * sin(s / 5000 + c) + (s * 7919 + c * 104729) % 2001)
            printf ",%.5f", raw * scale - offset
        }
        print ""
    }
}' > "$work/day.csv"

{
  echo '<QuenoSimSystem><Board model="QUENO-1600-UNIV" serial="R"><Acquisition bufferScans="8192"/><Signals>'
  for c in 0 1 2 3 4 5 6 7; do
    echo "<Signal channels=\"AI$c\" kind=\"replay\" file=\"day.csv\" column=\"AI$c\" speed=\"100\"/>"
  done
  echo '</Signals><ChannelGroup kind="AI" count="8"><Mode Mode="RTD-Temperature"><Range>'
  echo '<ID0>-200.000000..850.000000 degC</ID0></Range><LinearisationTable><ID0>PT100</ID0></LinearisationTable>'
  echo '<Excitation><ID0>1.000000 mA</ID0></Excitation><SensorRes0 Min="10" Max="10000" Unit="Ohm"/></Mode>'
  echo '</ChannelGroup><BoardProperties><AcquisitionProperties><AcqProp>'
  echo '<SampleRate ProgMin="1" ProgMax="20000" Default="1000"/><ResolutionAI><ID0>24</ID0></ResolutionAI></AcqProp>'
  echo '</AcquisitionProperties></BoardProperties>'
  echo '</Board></QuenoSimSystem>'
} > "$work/replay.xml"

start=$(date +%s.%N)
/usr/bin/time -f "%U %S %M" -o "$work/time" "$bin/queno-sim" --system "$work/replay.xml" "$bin/queno_log" -q \
    -r 1000 -d "${seconds}s" -o "$work/logged.csv" AI0:pt100 AI1:pt100 AI2:pt100 AI3:pt100 AI4:pt100 AI5:pt100 \
    AI6:pt100 AI7:pt100
end=$(date +%s.%N)
tail -n 1 "$work/time" > "$work/time1"
read -r user sys kb < "$work/time1"

rows=$((seconds * 1000))
grep -v '^#' "$work/day.csv" | cut -d, -f2- | head -n $((rows + 1)) > "$work/expected"
grep -v '^#' "$work/logged.csv" | cut -d, -f2- > "$work/actual"
if cmp -s "$work/expected" "$work/actual"; then verdict="exact"; else verdict="DIFFERS"; fi
awk -v s="$seconds" -v b="$start" -v e="$end" -v u="$user" -v y="$sys" -v k="$kb" -v r="$rows" -v v="$verdict" 'BEGIN {
    printf "replayed %.1f h of recording (%d scans x 8 inputs) at speed 100 in %.1f s, cpu %.2f s, peak %.1f MiB: %s\n",
           s * 100 / 3600, r, e - b, u + y, k / 1024, v }'
