#!/bin/sh
# queno_log's live view on the simulated board 1, 16 inputs at 100,000 scans/s (1.6 M values/s):
# the logger's CPU (user + system of the whole process, the simulator's producer included), peak
# memory and lost scans, recording SigMF, without --http, with it and no viewer, with one and with four event streams read by curl,
# and with headless chromium showing the page: its frames drawn per second and its CPU; and the
# memory of the view's rings (fixed at the start, the same for a run of an hour).
# Usage: bench/view_bench.sh BUILD_DIR [SECONDS]   (default 60 s each; needs curl, and chromium,
# chromium-driver and python3-selenium for the browser's part)
set -eu
build=$(readlink -f "${1:?build directory}")
seconds=${2:-60}
bin=$build/bin
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

channels=""
for i in $(seq 0 15); do channels="$channels AI$i:voltage,Range=-100..100"; done

# label, viewers ("none" without --http, 0..n curl streams, or "browser"): runs queno_log recording
# SigMF (its cheapest output) and reports
run() {
    label=$1 viewers=$2
    http="--http 0"
    [ "$viewers" != none ] || http=""
    rm -f "$work/run.sigmf-data" "$work/run.sigmf-meta"
    # shellcheck disable=SC2086
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$bin/queno-sim" "$bin/queno_log" -q -b 1 -r 100000 \
        -d "${seconds}s" $http -o "$work/run.sigmf-data" $channels 2> "$work/err" &
    logger=$!
    if [ "$viewers" = none ]; then
        wait "$logger" || true
        report "$label"
        return
    fi
    while ! grep -q "live view at" "$work/err" 2>/dev/null; do sleep 0.1; done
    url=$(sed -n 's/.*live view at \(http[^ ]*\)/\1/p' "$work/err" | head -n 1)
    sleep 1
    if [ "$viewers" = browser ]; then
        /usr/bin/python3 "$work/browser.py" "$url" "$((seconds - 3))" > "$work/browser.out" &
    else
        i=0
        while [ "$i" -lt "$viewers" ]; do curl -s -N "${url}events?window=10" > /dev/null & i=$((i + 1)); done
    fi
    curl -s "${url}status" > "$work/status.json"
    wait "$logger" || true
    report "$label"
    wait 2>/dev/null || true
    [ "$viewers" != browser ] || sed 's/^/    /' "$work/browser.out"
}

report() {
    label=$1
    tail -n 1 "$work/time" > "$work/time1"
    read -r user sys wall kb < "$work/time1"
    lost=$(grep -o "[0-9]* scans lost in" "$work/err" | cut -d' ' -f1)
    awk -v l="$label" -v u="$user" -v s="$sys" -v k="$kb" -v d="$seconds" -v lost="${lost:-0}" 'BEGIN {
        printf "%-36s cpu %5.1f %% of a core, peak %6.1f MiB, %s scans lost\n", l, 100 * (u + s) / d, k / 1024, lost }'
}

cat > "$work/browser.py" <<'PY'
import os, sys, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

def chromium_cpu():
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)
            if "chrom" in fields[0]:
                parts = fields[1].split()
                total += int(parts[11]) + int(parts[12])
        except OSError:
            pass
    return total / os.sysconf("SC_CLK_TCK")

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,1400"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
driver.get(sys.argv[1])
time.sleep(3)
draws0, cpu0, t0 = driver.execute_script("return view.draws"), chromium_cpu(), time.monotonic()
time.sleep(float(sys.argv[2]) - 3)
draws, cpu, t = driver.execute_script("return view.draws") - draws0, chromium_cpu() - cpu0, time.monotonic() - t0
print(f"chromium: {draws / t:.1f} frames/s, {100 * cpu / t:.1f} % of a core (all its processes)")
driver.quit()
PY

run "without --http" none
run "--http, no viewer" 0
echo "    the view's rings: $(sed 's/.*"view_bytes":\([0-9]*\).*/\1/' "$work/status.json") bytes"
run "one event stream" 1
run "four event streams" 4
run "headless chromium showing the page" browser
