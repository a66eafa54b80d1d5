#!/usr/bin/env python3
"""Reads a recording of queno_log (CSV or SigMF) into pandas and prints a summary per second.

    queno-sim queno_log -d 5s -o run.csv AI0:rtd AI1:pt100
    python3 recording_to_pandas.py run.csv

Samples at a limit of their range (an open sensor) are NaN and left out of the means; the gaps
are listed with their exact counts.
"""

import sys

import queno


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: recording_to_pandas.py RECORDING (run.csv, run.sigmf-meta)", file=sys.stderr)
        return 2
    recording = queno.read(sys.argv[1])
    frame = recording.to_pandas()
    print(f"{len(frame)} rows at {recording.rate:g} scans/s, channels "
          f"{', '.join(c.name + ' [' + c.unit + ']' for c in recording.channels)}"
          f"{'' if recording.complete else ' (the recording has no end: cut, or still being written)'}")
    print(frame.drop(columns="scan").resample("1s").mean().to_string(float_format=lambda v: f"{v:.4f}"))
    for gap in recording.gaps:
        print(f"gap: {gap.lost} scans lost before scan {gap.next_scan} ({gap.reason})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
