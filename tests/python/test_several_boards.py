"""Several boards on one time base. Two simulated boards whose clocks run 500 ppm fast and slow see
one step at one moment of host time; queno_log records each into a SigMF pair of its own and a
collection. The step stands within a scan period on both boards in the files, in queno_convert
--merge and in queno.read's to_pandas(), where the boards' own clocks put it 20 scans apart.
Names of boards that cannot be recorded together are refused before any board is touched.
QUENO_BIN names the folder of the built programs; runs under queno-sim."""

import csv
import hashlib
import json
import os
import subprocess

import numpy as np
import pytest

from conftest import BIN

STEP_AT_S = 20
TWO_BOARDS = f"""<QuenoSimSystem>
<Board model='QUENO-1600-UNIV' serial='A1' clock='+500ppm'><Acquisition bufferScans='65536'/>
<Signals><Signal channels='AI0' kind='steps' values='0 5' every='{STEP_AT_S}s' timebase='host'/></Signals></Board>
<Board model='QUENO-1600-UNIV' serial='B2' clock='-500ppm'><Acquisition bufferScans='65536'/>
<Signals><Signal channels='AI3' kind='steps' values='0 5' every='{STEP_AT_S}s' timebase='host'/></Signals></Board>
</QuenoSimSystem>"""


def queno_log(tmp_path, *args, faults=""):
    (tmp_path / "system.xml").write_text(TWO_BOARDS)
    env = dict(os.environ, QUENO_SIM_SYSTEM=str(tmp_path / "system.xml"), QUENO_SIM_TRACE=str(tmp_path / "trace"),
               QUENO_SIM_FAULTS=faults)
    return subprocess.run([os.path.join(BIN, "queno_log"), *args], env=env, capture_output=True, text=True, timeout=120)


def test_two_drifting_boards_see_one_step_at_one_time(tmp_path):
    queno = pytest.importorskip("queno")
    base = tmp_path / "survey"
    run = queno_log(tmp_path, "-r", "1000", "-d", f"{STEP_AT_S + 4}s", "-O", "sigmf", "-o", str(base), "0/AI0:voltage",
                    "serial:B2/AI3:voltage", "serial:B2/AI1:voltage")
    assert run.returncode == 0, run.stderr
    collection = json.loads((tmp_path / "survey.sigmf-collection").read_text())["collection"]
    streams = collection["core:streams"]
    assert [s["name"] for s in streams] == ["survey-board0", "survey-board1"]
    for stream in streams:
        assert stream["hash"] == hashlib.sha512((tmp_path / (stream["name"] + ".sigmf-meta")).read_bytes()).hexdigest()

    boards = queno.read(str(tmp_path / "survey.sigmf-collection"))
    assert [r.board for r in boards] == [0, 1] and [c.name for c in boards[1].channels] == ["AI1", "AI3"]
    bounds = []
    for recording, ppm in zip(boards, (500, -500)):
        meta = json.loads(open(recording.path).read())
        clock, end = meta["global"]["queno:clock"], meta["global"]["queno:end"]
        assert clock["fitted_rate"] == pytest.approx(1000 * (1 + ppm * 1e-6), abs=0.1), clock  # within 100 ppm of the truth
        assert end["scans"] + end["lost"] == 1000 * (STEP_AT_S + 4)  # every scan its clock made, accounted
        bounds.append(clock["error_bound_us"])
    # The boards' own clocks put the step 20 scans apart; the fitted ones at one time. Each board
    # sees the step between two of its scans, a scan period apart: the moment lies in both boards'
    # intervals when their times agree, so the distance between the intervals is the error.
    intervals, scans = [], []
    for recording, column in ((boards[0], 0), (boards[1], 1)):
        first = int(np.argmax(recording.values[:, column] > 2.5))
        times = recording.times.astype("datetime64[us]").astype(np.int64)
        intervals.append((int(times[first - 1]), int(times[first])))
        scans.append(int(recording.scans[first]))
    assert scans[0] - scans[1] >= 15
    apart_us = max(0, max(i[0] for i in intervals) - min(i[1] for i in intervals))
    assert apart_us <= 1000 and apart_us <= max(bounds), (intervals, bounds)

    frame = boards.to_pandas()
    assert list(frame.columns) == ["0/AI0 [V]", "1/AI1 [V]", "1/AI3 [V]"]
    rows = [int(np.argmax(frame[c].to_numpy() > 2.5)) for c in ("0/AI0 [V]", "1/AI3 [V]")]
    assert abs(rows[0] - rows[1]) <= 1

    merged = subprocess.run([os.path.join(BIN, "queno_convert"), "--merge", str(tmp_path / "survey.sigmf-collection")],
                            capture_output=True, text=True, timeout=120)
    assert merged.returncode == 0, merged.stderr
    table = [row for row in csv.reader(line for line in merged.stdout.splitlines() if not line.startswith("#"))]
    assert table[0] == ["time", "0/AI0 [V]", "1/AI1 [V]", "1/AI3 [V]"]
    column = {name: i for i, name in enumerate(table[0])}
    at_step = [next(i for i, row in enumerate(table[1:]) if row[column[c]] and float(row[column[c]]) > 2.5) for c in ("0/AI0 [V]", "1/AI3 [V]")]
    assert abs(at_step[0] - at_step[1]) <= 1
    assert [row[0] for row in table[1:]] == [str(t)[:26] + "Z" for t in boards[0].times.astype("datetime64[us]")]


@pytest.mark.parametrize("channels,status,said", [
    (["0/AI0:voltage", "serial:A1/AI1:voltage"], 2, "queno_log: board 0 is named twice: as 0 and as serial:A1; name each board once\n"),
    (["0/AI0:voltage", "7/AI1:voltage"], 2, "queno_log: no board 7: the driver reports 2 boards\n"),
    (["0/AI0:voltage", "serial:Z9/AI1:voltage"], 2, "queno_log: no board with serial Z9 (the driver's boards have: A1, B2)\n"),
    (["x/AI0:voltage", "1/AI1:voltage"], 2, "queno_log: 'x/AI0:voltage': the board before '/' must be its id (such as 1) or serial:<number>\n"
                                           "Try 'queno_log --help' for the options.\n"),
    (["0/AI0:voltage", "1/AI0:voltage", "--http", "0"], 2, "queno_log: --http shows the channels of one board; record several boards "
                                                           "without it\nTry 'queno_log --help' for the options.\n"),
])
def test_boards_that_cannot_be_recorded_together_are_refused_before_any_is_touched(tmp_path, channels, status, said):
    run = queno_log(tmp_path, "-d", "1s", "-o", str(tmp_path / "x"), *channels)
    assert (run.returncode, run.stderr) == (status, said)
    trace = (tmp_path / "trace").read_text() if (tmp_path / "trace").exists() else ""
    assert "SetParam" not in trace and not list(tmp_path.glob("x*"))


def test_a_board_that_does_not_open_ends_the_run_and_releases_the_others(tmp_path):
    run = queno_log(tmp_path, "-d", "1s", "-o", str(tmp_path / "x"), "0/AI0:voltage", "1/AI0:voltage", faults="cmd:1#2=1002")
    assert run.returncode == 1 and "BoardID1: opening the board" in run.stderr
    trace = (tmp_path / "trace").read_text()
    assert trace.index("KiVoSetParam_i32(1, 1, 0) = 1002") < trace.index("KiVoSetParam_i32(0, 2, 0) = 0")  # board 0 closed again
    assert not list(tmp_path.glob("x*"))


@pytest.mark.parametrize("text", [
    "not json",
    json.dumps({"collection": {"core:streams": [{"name": "a"}]}}),  # one board is no merge
    json.dumps({"collection": {"core:streams": [{"name": "../../etc/passwd"}, {"name": "b"}]}}),  # a path, not a name
    json.dumps({"collection": {"core:streams": "a,b"}}),
    json.dumps({"collection": {"core:streams": [{"name": "x.sigmf-collection"}, {"name": "x.sigmf-collection"}]}}),  # itself
    "fifo",
])
def test_a_collection_that_names_no_boards_of_queno_log_is_refused_by_both_readers(tmp_path, text):
    queno = pytest.importorskip("queno")
    path = tmp_path / "x.sigmf-collection"
    os.mkfifo(path) if text == "fifo" else path.write_text(text)
    run = subprocess.run([os.path.join(BIN, "queno_convert"), "--merge", str(path)], capture_output=True, text=True, timeout=60)
    assert run.returncode == 1 and run.stderr.startswith("queno_convert: ") and not run.stdout
    with pytest.raises((ValueError, OSError)):
        queno.read(str(path))
