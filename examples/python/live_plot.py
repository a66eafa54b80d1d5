#!/usr/bin/env python3
"""A live plot of some inputs with matplotlib: the last ten seconds, redrawn ten times a second.

    queno-sim python3 live_plot.py AI0:rtd AI1:pt100

Close the window or press Ctrl-C to end; the board is closed either way.
"""

import sys

import numpy as np

import queno

try:
    import matplotlib.pyplot as plt
    from matplotlib.animation import FuncAnimation
except ImportError:
    sys.exit("live_plot: needs matplotlib (apt-get install python3-matplotlib)")

WINDOW_SECONDS = 10


def main() -> int:
    channels = sys.argv[1:] or ["AI0:rtd"]
    with queno.open(0) as board, board.scan(channels, rate=100) as scan:
        keep = int(WINDOW_SECONDS * scan.rate)
        times = np.zeros(0, dtype="datetime64[us]")
        values = np.zeros((0, len(scan.channels)))
        figure, axes = plt.subplots()
        lines = [axes.plot([], [], label=f"{c.name} [{c.unit}]")[0] for c in scan.channels]
        axes.legend(loc="upper left")

        def update(_frame):
            nonlocal times, values
            block = scan.read_available()  # never waits: the window stays responsive
            times = np.concatenate([times, block.times])[-keep:]
            values = np.concatenate([values, block.values])[-keep:]
            seconds = (times - times[-1]) / np.timedelta64(1, "s") if len(times) else times
            for c, line in enumerate(lines):
                line.set_data(seconds, values[:, c])
            axes.relim()
            axes.autoscale_view()
            return lines

        animation = FuncAnimation(figure, update, interval=100, cache_frame_data=False)
        axes.set_xlabel("seconds before now")
        try:
            plt.show()
        except KeyboardInterrupt:
            pass
        del animation
    return 0


if __name__ == "__main__":
    sys.exit(main())
