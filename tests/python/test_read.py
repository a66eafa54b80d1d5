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
    assert [(g.next_scan, g.lost) for g in csv.gaps] == [(g.next_scan, g.lost) for g in sigmf.gaps]
    if kind == "scripted":
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


def test_what_is_no_recording_is_refused(tmp_path):
    (tmp_path / "x.csv").write_text("a,b\n1,2\n")
    with pytest.raises(ValueError):
        queno.read(tmp_path / "x.csv")
    with pytest.raises(ValueError):
        queno.read(tmp_path / "x.txt")
