"""queno's boards and scans on the simulated driver, in this process (the driver is loaded at the
first open and unloaded at the last close, so each test's QUENO_SIM_* settings take effect):
scripted scans give the numbers, scans and gaps queno_log's CSV gives; a scenario's signal and
open input land at the right scans and times; refusals and missing boards are exceptions; Ctrl-C
ends a wait and a forgotten scan is stopped at exit. Runs under queno-sim."""

import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import queno
from conftest import BIN, RAMP_WITH_OPEN_INPUT as SCENARIO

pytest.importorskip("queno._queno", reason="queno was built without its board module")


@pytest.fixture
def sim(monkeypatch, tmp_path):
    """Sets the simulator's variables for the next load of the driver."""
    def configure(**variables):
        for name in ("QUENO_SIM_SCRIPT", "QUENO_SIM_SYSTEM", "QUENO_SIM_TRACE", "QUENO_SIM_FAULTS"):
            monkeypatch.delenv(name, raising=False)
        for name, value in variables.items():
            monkeypatch.setenv("QUENO_SIM_" + name, str(value))
    configure()
    return configure


def test_boards_are_the_inventory(sim):
    boards = queno.boards()
    assert [(b.id, b.model, b.serial) for b in boards][:2] == [(0, "QUENO-1600-UNIV", "16U-20417"), (1, "QUENO-3200-HV", "32H-00781")]
    first = boards[0]
    assert first.rates == (1, 20000) and 24 in first.resolutions
    assert [i.name for i in first.inputs] == [f"AI{k}" for k in range(8)]
    modes = {m.name: m for m in first.inputs[0].modes}
    assert "RTD-Temperature" in modes and "Range" in modes["Voltage"].lists
    resistance = modes["RTD-Temperature"].settings["SensorRes0"]
    assert (resistance.min, resistance.max, resistance.unit) == (10, 10000, "Ohm")


def test_scripted_scans_are_what_queno_log_writes(sim, tmp_path):
    script, channels = "10,5,overflow,7", ["AI0:rtd", "AI5:voltage"]
    env = dict(os.environ, QUENO_SIM_SCRIPT=script)
    subprocess.run([os.path.join(BIN, "queno-sim"), os.path.join(BIN, "queno_log"), "-q", "-r", "1", "-n", "40", "--raw",
                    "-o", str(tmp_path / "run.csv")] + channels, env=env, check=False, timeout=60)
    csv = queno.read(tmp_path / "run.csv")
    sim(SCRIPT=script)
    with queno.open(0) as board, board.scan(channels, rate=1) as scan:
        assert [c.unit for c in scan.channels] == ["degC", "V"] and scan.rate == 1
        blocks = []  # queno_log -n 40 ends before scan 40
        for block in scan.blocks(max_scans=5):
            blocks.append(block)
            if block.scans[-1] >= 39:
                break
    last = blocks[-1]
    blocks[-1] = queno.Block(scan, last.raw[last.scans < 40], last.scans[last.scans < 40], last.gaps)
    scans = np.concatenate([b.scans for b in blocks])
    np.testing.assert_array_equal(scans, csv.scans)
    np.testing.assert_array_equal(np.concatenate([b.raw for b in blocks]), csv.raw)
    np.testing.assert_allclose(np.concatenate([b.values for b in blocks]), csv.values, atol=1e-5)
    gaps = [g for b in blocks for g in b.gaps]
    assert [(g.next_scan, g.lost) for g in gaps] == [(g.next_scan, g.lost) for g in csv.gaps] == [(12, 1), (24, 1), (36, 1)]
    assert all(b.gap is None or b.scan0 == b.gap.next_scan for b in blocks)
    assert all(np.all(np.diff(b.scans) == 1) for b in blocks)  # a block never spans a gap


def test_read_and_read_into_take_exact_counts_across_gaps(sim):
    sim(SCRIPT="10,5,overflow,7")
    with queno.open(0) as board, board.scan("AI0:rtd", rate=1) as scan:
        first = scan.read(25)
        out = np.zeros((15, 1), dtype=np.int32)
        second = scan.read_into(out)
        with pytest.raises(TypeError):
            scan.read_into(np.zeros((3, 1), dtype=np.float64))
        with pytest.raises(ValueError):
            scan.read_into(np.zeros((3, 2), dtype=np.int32))
    assert len(first) == 25 and second.raw is not None and np.shares_memory(second.raw, out)
    assert list(first.scans[10:13]) == [10, 12, 13] and [g.next_scan for g in first.gaps] == [12, 24]
    assert second.scan0 == 27 and [g.next_scan for g in second.gaps] == [36]
    assert (first.times[1:] - first.times[:-1] >= np.timedelta64(1, "s")).all()


def test_overflow_raises_when_asked(sim):
    sim(SCRIPT="10,5,overflow")
    with queno.open(0) as board, board.scan("AI0:rtd", rate=1, on_overflow="raise") as scan:
        assert len(scan.read(11)) == 11
        with pytest.raises(queno.BufferOverflow) as raised:
            scan.read(1)
    assert raised.value.gap.next_scan == 12 and raised.value.gap.lost == 1 and raised.value.code == 1794
    assert isinstance(raised.value, queno.Error)


def test_a_scenario_lands_at_its_scans_and_times(sim, tmp_path):
    (tmp_path / "system.xml").write_text(SCENARIO)
    sim(SYSTEM=tmp_path / "system.xml")
    with queno.open("serial:S1") as board, board.scan(["AI0:voltage", "AI1:voltage"], rate=1000) as scan:
        block = scan.read(500)
        delay = scan._core.delay_scans
        start = scan.start
    assert not block.gaps and list(block.scans) == list(range(500))
    expected = start + ((delay + block.scans) * 1000).astype("timedelta64[us]")
    np.testing.assert_array_equal(block.times, expected)
    values = block.values[:, 0]
    assert np.isnan(values[200:300]).all() and not np.isnan(values[:200]).any() and not np.isnan(values[300:]).any()
    ramp = -5 + 10 * (delay + block.scans) / 1000.0  # the signal at each scan's time
    np.testing.assert_allclose(values[:200], ramp[:200], atol=0.011)
    assert block.raw[250, 0] == 8388607  # the raw count keeps the limit


def test_several_modes_and_their_settled_ranges(sim):
    with queno.open(0) as board:
        with board.scan(["AI0:rtd", "AI1:pt100", "AI2:voltage,Range=-1..1 V"], rate=100) as scan:
            block = scan.read(20)
        assert [(c.name, c.unit, c.low, c.high) for c in scan.channels][2] == ("AI2", "V", -1.0, 1.0)
        assert abs(np.nanmean(block.values[:, 0]) - 22.5) < 1 and np.all(np.abs(block.values[:, 2]) <= 1)
        with board.scan("AI3:voltage", rate=50) as again:  # the same board, scanned anew
            assert again.read(5).raw.shape == (5, 1)


@pytest.mark.parametrize("channels, rate, exception, words", [
    (["AI0:rtd,LinearisationTable=XYZ"], 100, queno.SettingRefused, 'the mode offers "PTX", "PT100"'),
    (["AI0,Mode=Nonsense"], 100, queno.SettingRefused, "the input offers the modes"),
    (["AI0:rtd,IIRFilter_VAL=5000"], 100, queno.SettingRefused, "the mode takes IIRFilter_VAL from 0 to 1000"),
    (["AI0:rtd"], 1e9, queno.SettingRefused, "the board takes 1 to 20000 scans/s"),
    (["AI99:rtd"], 100, queno.SettingRefused, "has no AI99"),
    (["AX0"], 100, ValueError, "AX0"),
    (["AI0:rtd", "AI0:pt100"], 100, ValueError, "named twice"),
    (["AI0:rtd"], -1, ValueError, "rate"),
])
def test_refused_settings_are_exceptions_and_the_board_goes_on(sim, channels, rate, exception, words):
    with queno.open(0) as board:
        with pytest.raises(exception) as raised:
            board.scan(channels, rate=rate)
        assert words in str(raised.value)
        with board.scan("AI0:rtd", rate=100) as scan:
            assert len(scan.read(3)) == 3


def test_no_board_and_no_driver(sim):
    for which in (7, "serial:nope"):
        with pytest.raises(queno.BoardNotFound):
            queno.open(which)
    with queno.open(0):
        with pytest.raises(queno.Error, match="open already"):
            queno.open(0)
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    result = subprocess.run([sys.executable, "-c", "import queno\ntry:\n queno.open(0)\nexcept queno.DriverNotFound as e:\n"
                             " print('not found:', e.text)"], env=env, capture_output=True, text=True, timeout=60)
    assert result.stdout.startswith("not found: the QUENO driver could not be loaded") and result.stderr == ""


def test_a_failing_driver_is_an_exception_and_nothing_is_printed(tmp_path):
    script = """import queno, threading
board = queno.open(0)
try:
    board.scan("AI0:rtd")
except queno.Error as e:
    print(type(e).__name__, e.code, e.text)
scan = board.scan("AI1:rtd")
reader = threading.Thread(target=lambda: scan.read(10**9))
reader.start()
import time; time.sleep(0.3)
try:
    scan.read(1)
except RuntimeError as e:
    print(e)
board.close()
reader.join()
try:
    board.scan("AI0:rtd")
except queno.Error as e:
    print(e)
"""
    env = dict(os.environ, QUENO_SIM_FAULTS="cmd:4#1=1003")  # the first start fails
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    lines = result.stdout.splitlines()
    assert lines[0].startswith("Error 1003 BoardID0: the acquisition did not start: ") and result.stderr == ""
    assert lines[1:] == ["another thread is reading this scan", "the board is closed"]


def test_ctrl_c_ends_a_wait_and_the_board_is_closed(sim, tmp_path):
    sim(TRACE=tmp_path / "trace")
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    with pytest.raises(KeyboardInterrupt):
        with queno.open(0) as board, board.scan("AI0:rtd", rate=10) as scan:
            timer.start()
            scan.read(10**6)
    calls = (tmp_path / "trace").read_text().splitlines()
    assert "KiVoSetParam_i32(0, 2, 0) = 0" in calls[-3:] and calls[-1] == "KiVoDriverDeInit() = 0"


def test_a_scan_never_stopped_is_stopped_at_exit(sim, tmp_path):
    script = "import queno\nboard = queno.open(0)\nscan = board.scan('AI0:rtd', rate=100)\nscan.read(2)\nprint('read')\n"
    env = dict(os.environ, QUENO_SIM_TRACE=str(tmp_path / "trace"))
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert (result.returncode, result.stdout, result.stderr) == (0, "read\n", "")
    calls = (tmp_path / "trace").read_text().splitlines()
    assert calls[-3:] == ["KiVoSetParam_i32(0, 5, 0) = 0", "KiVoSetParam_i32(0, 2, 0) = 0", "KiVoDriverDeInit() = 0"]


def test_the_examples_record_and_summarise(sim, tmp_path):
    pytest.importorskip("pandas")
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python")
    run = lambda *args: subprocess.run([sys.executable, os.path.join(examples, args[0])] + list(args[1:]), cwd=tmp_path,
                                       capture_output=True, text=True, timeout=60)
    recorded = run("record_to_numpy.py", "run.npz", "--seconds", "0.5", "AI0:rtd", "AI1:pt100")
    assert recorded.stdout == "500 scans of AI0, AI1 in run.npz\n" and recorded.returncode == 0
    assert np.load(tmp_path / "run.npz")["values"].shape == (500, 2)
    refused = run("record_to_numpy.py", "x.npz", "AI0:rtd,LinearisationTable=XYZ")
    assert refused.returncode == 1 and "the mode offers" in refused.stderr
    subprocess.run([os.path.join(BIN, "queno_log"), "-q", "-n", "2000", "-o", "run.csv", "AI0:rtd"], cwd=tmp_path, timeout=60)
    summary = run("recording_to_pandas.py", "run.csv")
    assert summary.returncode == 0 and summary.stdout.startswith("2000 rows at 1000 scans/s, channels AI0 [degC]\n")


def test_stop_keeps_what_was_delivered_and_numbers_ignore_the_locale(tmp_path):
    """A stop reads what the driver delivered before it; a script's locale with a decimal comma
    changes nothing that goes to the driver or comes back."""
    locales = tmp_path / "locales"
    locales.mkdir()
    made = subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", str(locales / "de_DE.UTF-8")], capture_output=True)
    if made.returncode not in (0, 1) or not (locales / "de_DE.UTF-8").exists():
        pytest.skip("no de_DE locale can be made here")
    script = """import locale, queno
locale.setlocale(locale.LC_ALL, "de_DE.UTF-8")
assert locale.localeconv()["decimal_point"] == ","
with queno.open(0) as board:
    scan = board.scan(["AI2:voltage,Range=-1..1 V"], rate=333.5)
    scan.stop()
    block = scan.read(1000)
    print(len(block), scan.rate, scan.channels[0].range)
"""
    env = dict(os.environ, LOCPATH=str(locales), QUENO_SIM_SCRIPT="250")
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert (result.stdout, result.stderr) == ("250 333.5 -1.000000..1.000000 V\n", "")


def test_a_forked_child_leaves_its_parents_board_alone(tmp_path):
    """A child forked after open() neither stops nor closes its parent's board, at close() or at its
    exit, and does not hang there; the parent's scan goes on."""
    script = """import os, queno
board = queno.open(0)
scan = board.scan("AI0:rtd", rate=100)
scan.read(2)
pid = os.fork()
if pid == 0:
    board.close()
    raise SystemExit(0)
print("child", os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
print(len(scan.read(5)))
board.close()
"""
    env = dict(os.environ, QUENO_SIM_TRACE=str(tmp_path / "trace"))
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert (result.stdout, result.stderr) == ("child 0\n5\n", "")
    calls = (tmp_path / "trace").read_text().splitlines()
    assert calls.count("KiVoSetParam_i32(0, 2, 0) = 0") == 1 and calls.count("KiVoDriverDeInit() = 0") == 1
