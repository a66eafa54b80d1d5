#!/usr/bin/env python3
"""Records some inputs of a board into a numpy file: values, raw counts, times and scan numbers.

    queno-sim python3 record_to_numpy.py run.npz --seconds 10 AI0:rtd AI1:pt100

Every scan is kept; a gap (scans lost because this loop or the driver fell behind) is said on
standard error with its exact count and leaves its mark in the scan numbers.
"""

import argparse
import sys

import numpy as np

import queno


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the .npz file to write")
    parser.add_argument("channels", nargs="+", help="queno_log's CHANNEL syntax, e.g. AI0:rtd")
    parser.add_argument("--board", default="0", help="board id, or serial:<number>")
    parser.add_argument("--rate", type=float, default=1000, help="scans per second (default 1000)")
    parser.add_argument("--seconds", type=float, default=10, help="how long to record (default 10)")
    args = parser.parse_args()

    board_id = int(args.board) if args.board.isdigit() else args.board
    try:
        with queno.open(board_id) as board, board.scan(args.channels, rate=args.rate) as scan:
            block = scan.read(int(args.seconds * scan.rate))
    except queno.Error as error:
        print(f"record_to_numpy: {error}", file=sys.stderr)
        return 1
    for gap in block.gaps:
        print(f"record_to_numpy: {gap.lost} scans lost before scan {gap.next_scan} ({gap.reason})", file=sys.stderr)
    np.savez(args.output, values=block.values, raw=block.raw, times=block.times, scans=block.scans,
             channels=[c.name for c in scan.channels], units=[c.unit for c in scan.channels])
    print(f"{len(block)} scans of {', '.join(c.name for c in scan.channels)} in {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
