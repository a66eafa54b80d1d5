"""queno.read against recordings queno_log writes in the same run: a CSV and a SigMF recording of
the same scripted scans give the same numbers; limits are NaN; cut files read to their last whole
scan; pandas gets a DataFrame. QUENO_BIN names the folder of the built programs."""

import os
import subprocess
import sys

import numpy as np
import pytest

import queno

from conftest import BIN, RAMP_WITH_OPEN_INPUT as SCENARIO


def log(tmp_path, args, env):
    environment = dict(os.environ, **env)
    result = subprocess.run([os.path.join(BIN, "queno-sim"), os.path.join(BIN, "queno_log"), "-q"] + args,
                            env=environment, cwd=tmp_path, capture_output=True, text=True, timeout=120)
    return result.returncode


def untimed(gaps):
    """Gaps of two runs of the same scans: the restart's time is each run's own."""
    return [(g.next_scan, g.lost, g.reason.split(" at 20")[0]) for g in gaps]


@pytest.fixture(params=["scripted", "scenario"])
def pair(request, tmp_path):
    """The same scans recorded as CSV and as SigMF."""
    if request.param == "scripted":  # numbered scans, a gap at every overflow
        args, env = ["AI0:rtd", "AI5:voltage", "-r", "1", "-n", "40"], {"QUENO_SIM_SCRIPT": "10,5,overflow"}
    else:  # a ramp with an open input
        (tmp_path / "system.xml").write_text(SCENARIO)
        args, env = ["AI0:voltage", "AI1:voltage", "-n", "500"], {"QUENO_SIM_SYSTEM": str(tmp_path / "system.xml")}
    log(tmp_path, args + ["--raw", "-o", "run.csv"], env)
    log(tmp_path, args + ["-o", "run.sigmf-meta"], env)
    return queno.read(tmp_path / "run.csv"), queno.read(str(tmp_path / "run")), request.param


def test_csv_and_sigmf_give_the_same_numbers(pair):
    csv, sigmf, kind = pair
    assert csv.complete and sigmf.complete
    assert [c.name for c in csv.channels] == [c.name for c in sigmf.channels]
    np.testing.assert_array_equal(csv.scans, sigmf.scans)
    np.testing.assert_array_equal(csv.raw, sigmf.raw)
    np.testing.assert_allclose(csv.values, sigmf.values, atol=1e-5)  # the CSV's decimals
    np.testing.assert_array_equal(np.isnan(csv.values), np.isnan(sigmf.values))
    np.testing.assert_array_equal(csv.times - csv.times[0], sigmf.times - sigmf.times[0])
    assert untimed(csv.gaps) == untimed(sigmf.gaps)  # the reason too: the cause alone, in both
    if kind == "scripted":
        assert csv.gaps[0].reason.startswith("buffer overflow; acquisition restarted at ")
        assert len(csv.gaps) == 3
    else:  # AI0 open from 200 ms to 300 ms: no measurement there
        assert np.isnan(sigmf.values[200:300, 0]).all() and not np.isnan(sigmf.values[:200, 0]).any()


def test_cut_recordings_read_to_their_last_whole_scan(pair, tmp_path):
    csv, sigmf, _ = pair
    data = tmp_path / "run.sigmf-data"
    os.truncate(data, data.stat().st_size - 3)  # inside the last scan
    cut = queno.read(str(data))
    assert len(cut.scans) == len(sigmf.scans) - 1
    text = (tmp_path / "run.csv").read_text()
    last_row = max(i for i in range(len(text) - 1) if text[i] == "\n" and text[i + 1].isdigit())
    (tmp_path / "cut.csv").write_text(text[: last_row + 15])  # inside the last row
    cut = queno.read(tmp_path / "cut.csv")
    assert not cut.complete and 0 < len(cut.scans) < len(csv.scans)
    np.testing.assert_array_equal(cut.scans, csv.scans[: len(cut.scans)])


def test_without_pandas_the_csv_reads_the_same(pair, monkeypatch):
    csv, _, _ = pair
    monkeypatch.setitem(sys.modules, "pandas", None)  # import pandas fails
    plain = queno.read(csv.path)
    np.testing.assert_array_equal(plain.scans, csv.scans)
    np.testing.assert_array_equal(plain.values, csv.values)  # NaN where the CSV is empty, in both
    np.testing.assert_array_equal(plain.raw, csv.raw)


def test_pandas_gets_a_frame_indexed_by_time(pair):
    pandas = pytest.importorskip("pandas")
    _, sigmf, _ = pair
    frame = sigmf.to_pandas()
    assert isinstance(frame.index, pandas.DatetimeIndex)
    assert list(frame.columns) == ["scan"] + [f"{c.name} [{c.unit}]" for c in sigmf.channels]
    assert len(frame) == len(sigmf.scans)


def test_any_name_and_a_rotated_series_as_one(tmp_path):
    args = ["AI0:rtd", "-r", "1", "-n", "40", "--rotate", "10s", "--raw"]
    log(tmp_path, args + ["-o", "series.csv"], {"QUENO_SIM_SCRIPT": "10,5,overflow"})
    log(tmp_path, ["AI0:rtd", "-r", "1", "-n", "40", "--raw", "-o", "whole.csv"], {"QUENO_SIM_SCRIPT": "10,5,overflow"})
    os.rename(tmp_path / "whole.csv", tmp_path / "whole.log")
    whole = queno.read(tmp_path / "whole.log")  # a CSV of queno_log by its content, not its name
    first = queno.read(tmp_path / "series-0001.csv")
    series = queno.read(tmp_path / "series-0001.csv", follow=True)
    assert len(first.scans) < len(series.scans) and series.complete and not first.complete
    np.testing.assert_array_equal(series.scans, whole.scans)
    np.testing.assert_array_equal(series.raw, whole.raw)
    assert untimed(series.gaps) == untimed(whole.gaps)


def test_what_is_no_recording_is_refused(tmp_path):
    (tmp_path / "x.csv").write_text("a,b\n1,2\n")
    with pytest.raises(ValueError):
        queno.read(tmp_path / "x.csv")
    with pytest.raises(ValueError):
        queno.read(tmp_path / "x.txt")
    (tmp_path / "y.sigmf-meta").write_text('[{"global": {}}]')
    (tmp_path / "y.sigmf-data").write_bytes(b"")
    with pytest.raises(ValueError, match="not a SigMF metadata object"):
        queno.read(tmp_path / "y.sigmf-meta")


def test_a_default_name_already_taken_gets_the_next_number(tmp_path):
    """Two runs in the same second both record: the later takes "-2" of the default name."""
    import datetime
    now = datetime.datetime.now(datetime.timezone.utc)
    for second in range(10):  # whatever second the run begins in, its plain name is taken
        name = (now + datetime.timedelta(seconds=second)).strftime("queno-0-%Y%m%dT%H%M%SZ.csv")
        (tmp_path / name).write_text("someone's\n")
    assert log(tmp_path, ["AI0:rtd", "-n", "5"], {}) == 0
    numbered = list(tmp_path.glob("queno-0-*Z-2.csv"))
    assert len(numbered) == 1 and queno.read(numbered[0]).complete
    assert all(p.read_text() == "someone's\n" for p in tmp_path.glob("queno-0-*Z.csv"))


def test_alarm_events_read_alike_from_csv_and_sigmf(tmp_path):
    """The same scenario recorded twice with an alarm: the events of both files, to the scan."""
    (tmp_path / "system.xml").write_text(SCENARIO)
    args = ["AI0:voltage", "AI1:voltage", "-n", "500", "--alarm", "AI0:lo=-4.5,hi=-1,hihi=-0.5,deadband=0.2"]
    env = {"QUENO_SIM_SYSTEM": str(tmp_path / "system.xml")}
    log(tmp_path, args + ["-o", "run.csv", "--rotate", "8K"], env)
    log(tmp_path, args + ["-o", "run.sigmf-meta"], env)
    csv, sigmf = queno.read(tmp_path / "run-0001.csv", follow=True), queno.read(str(tmp_path / "run"))
    seen = [(a.channel, a.previous, a.state, a.scan) for a in csv.alarms]
    assert seen == [(a.channel, a.previous, a.state, a.scan) for a in sigmf.alarms]
    assert [s[2] for s in seen] == ["lo", "normal", "fault", "normal", "hi", "hihi"]  # the ramp, the open input
    for a, b in zip(csv.alarms, sigmf.alarms):
        assert (a.value is None) == (b.value is None) and (a.value is None or abs(a.value - b.value) < 1e-5)
    frame = sigmf.alarms.to_pandas()
    assert list(frame.columns) == ["channel", "state", "previous", "scan", "value"] and len(frame) == 6


RAMP_TO_FIVE = """<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S1'><Acquisition bufferScans='65536'/>
<Signals><Signal channels='AI0' kind='ramp' from='-5' to='5' duration='1s'/></Signals>
<Events><Event at='1200ms' channels='AI0' kind='open' duration='100ms'/></Events>
<ChannelGroup kind='AI' count='2'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range></Mode>
</ChannelGroup></Board></QuenoSimSystem>"""


def test_event_captures_hold_exactly_the_scans_of_their_windows(tmp_path):
    """50 ms before each event and 100 ms after it, every scan whatever the main file averages; the
    fault at 1200 and the hihi at 1300 fall in one capture, which the second extends."""
    (tmp_path / "system.xml").write_text(RAMP_TO_FIVE)
    assert log(tmp_path, ["AI0:voltage", "AI1:voltage", "-n", "2000", "--average", "100", "-o", "run.csv", "--capture", "50ms,100ms",
                          "--alarm", "AI0:lo=-4,hi=2,hihi=4,deadband=0.5"], {"QUENO_SIM_SYSTEM": str(tmp_path / "system.xml")}) == 0
    captures = [queno.read(str(tmp_path / f"run-alarm-{n:04d}")) for n in range(1, 5)]
    assert not (tmp_path / "run-alarm-0005.sigmf-meta").exists()
    windows = [(int(c.scans[0]), int(c.scans[-1]), len(c.scans)) for c in captures]
    assert windows == [(0, 100, 101), (651, 801, 151), (850, 1000, 151), (1150, 1400, 251)]
    assert [[(a.state, a.scan) for a in c.alarms] for c in captures] == [
        [("lo", 0)], [("hi", 701)], [("hihi", 900)], [("fault", 1200), ("hihi", 1300)]]
    assert all(c.complete and c.average == 1 and c.raw.dtype == np.int32 for c in captures)
    main = queno.read(tmp_path / "run.csv")
    assert main.average == 100 and [(a.state, a.scan) for a in main.alarms][:2] == [("lo", 0), ("normal", 150)]
