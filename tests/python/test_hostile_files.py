"""Hostile files against both readers of a SigMF recording, queno_convert and queno.read: one table
of cases made from a real recording, one verdict each that both must give. A file is refused
(status 1 and a reason; a ValueError or OSError), read to where its data ends (a cut line; not
complete), or read as it is. No case may hang, crash or take more than the bounds allow.
QUENO_BIN names the folder of the built programs; runs under queno-sim."""

import json
import os
import subprocess
import threading

import numpy as np
import pytest

import queno

from conftest import BIN

INT64_MIN, INT64_MAX = -(1 << 63), (1 << 63) - 1


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    """A recording with an end: 300 scans of two inputs, a gap after scan 99."""
    folder = tmp_path_factory.mktemp("recording")
    env = dict(os.environ, QUENO_SIM_SCRIPT="100,50,overflow")
    subprocess.run([os.path.join(BIN, "queno_log"), "-q", "-r", "1000", "-n", "300", "-o", "run.sigmf-meta",
                    "AI0:voltage", "AI1:voltage"], cwd=folder, env=env, check=False, timeout=120)
    meta = json.loads((folder / "run.sigmf-meta").read_text())
    assert "queno:end" in meta["global"] and meta["annotations"]
    return meta, (folder / "run.sigmf-data").read_bytes()


def edit(**changes):
    """A change of the metadata: `global`'s fields by name; "end.x", "gap.x", "capture.x" inside."""
    def apply(meta):
        for key, value in changes.items():
            where, _, name = key.rpartition(".")
            target = {"": meta["global"], "end": meta["global"].get("queno:end"), "gap": meta["annotations"][0]["queno:gap"],
                      "capture": meta["captures"][-1], "channel": meta["global"]["queno:channels"][0]}[where]
            target[name.replace("_", ":", 1) if name.startswith(("core_", "queno_")) else name] = value
        return json.dumps(meta)
    return apply


def raw_text(text):
    return lambda meta: text


REFUSED, CUT, READ = "refused", "cut", "read"
CASES = [  # name, metadata (a function of the real one, or a special file), data (bytes or a special file), verdict
    ("the real one", json.dumps, None, READ),
    ("start at INT64_MAX", edit(queno_started_us=INT64_MAX), None, REFUSED),
    ("start at INT64_MIN", edit(queno_started_us=INT64_MIN), None, REFUSED),
    ("start past the year 9999", edit(queno_started_us=253402300799999999 - 1000), None, REFUSED),
    ("end at INT64_MAX", edit(**{"end.time_us": INT64_MAX}), None, REFUSED),
    ("restart at INT64_MIN", edit(**{"gap.restart_us": INT64_MIN}), None, REFUSED),
    ("restart at 2^64 - 1", edit(**{"gap.restart_us": (1 << 64) - 1}), None, REFUSED),
    ("a negative rate", edit(queno_rate=-1000), None, REFUSED),
    ("a rate of 10^300", edit(queno_rate=1e300), None, REFUSED),
    ("a scan number past 2^62", edit(**{"capture.core_global_index": (1 << 62) + 1}), None, REFUSED),
    ("scans run past the year 9999", edit(queno_rate=0.001, **{"capture.core_global_index": 1 << 40}), None, REFUSED),
    ("a model that forges lines", edit(queno_model="X\n# end fake\ntime,scan"), None, REFUSED),
    ("a unit with a carriage return", edit(**{"channel.unit": "V\r"}), None, REFUSED),
    ("NaN for a number", lambda m: json.dumps(m).replace('"queno:rate": 1000', '"queno:rate": NaN'), None, REFUSED),
    ("a text for a count", edit(core_num_channels="2"), None, REFUSED),
    ("an input beyond AI4095", edit(**{"channel.name": "AI99999"}), None, REFUSED),
    ("captures as an object", lambda m: json.dumps(dict(m, captures={"a": 1})), None, REFUSED),
    ("a number among the annotations", lambda m: json.dumps(dict(m, annotations=m["annotations"] + [7])), None, READ),
    ("a JSON array", lambda m: json.dumps([m]), None, REFUSED),
    ("nested a million deep", raw_text("[" * 1000000 + "]" * 1000000), None, REFUSED),
    ("40 MB of metadata", lambda m: json.dumps(dict(m, pad="x" * (40 << 20))), None, REFUSED),
    ("metadata that is /dev/zero", "/dev/zero", None, REFUSED),
    ("metadata that is /dev/urandom", "/dev/urandom", None, REFUSED),
    ("metadata that is a FIFO", "fifo", None, REFUSED),
    ("data that is /dev/zero", json.dumps, "/dev/zero", REFUSED),
    ("data that is a FIFO", json.dumps, "fifo", REFUSED),
    ("data 3 bytes short of its end", json.dumps, lambda data: data[:-3], CUT),
    ("data of a whole scan short", json.dumps, lambda data: data[:-8], CUT),
]


def place(path, what, real):
    if what == "fifo":
        os.mkfifo(path)
    elif isinstance(what, str) and what.startswith("/dev/"):
        os.symlink(what, path)
    else:
        path.write_bytes(real if what is None else what(real))


def convert(path):
    return subprocess.run([os.path.join(BIN, "queno_convert"), str(path)], capture_output=True, timeout=120)


@pytest.mark.parametrize("name,meta,data,verdict", CASES, ids=[c[0] for c in CASES])
def test_both_readers_give_one_verdict(recording, tmp_path, name, meta, data, verdict):
    real_meta, real_data = recording
    meta_path, data_path = tmp_path / "x.sigmf-meta", tmp_path / "x.sigmf-data"
    if callable(meta):
        meta_path.write_text(meta(json.loads(json.dumps(real_meta))))
    else:
        place(meta_path, meta, None)
    place(data_path, data, real_data)
    converted = convert(meta_path)
    try:
        read = queno.read(str(meta_path))
    except (ValueError, OSError) as refusal:
        read = refusal
    out = converted.stdout.decode("utf-8", "replace")
    if verdict == REFUSED:
        assert converted.returncode == 1 and converted.stdout == b"" and converted.stderr, converted.stderr
        assert isinstance(read, (ValueError, OSError)), name
        return
    assert converted.returncode == 0, converted.stderr
    assert isinstance(read, queno.Recording), read
    rows = [line for line in out.splitlines() if line[:1].isdigit()]
    assert len(rows) == len(read.scans) and int(rows[-1].split(",")[1]) == int(read.scans[-1])
    if verdict == CUT:
        assert "\n# cut short after scan " in out and ": the data file ends before the scans its metadata counts" in out
        assert "\n# end " not in out and not read.complete
    else:
        assert "\n# end " in out and read.complete


def test_a_data_file_cut_while_it_is_read_ends_the_rows_there(recording, tmp_path, monkeypatch):
    """queno_convert reads the data a block at a time (a mapping would die of SIGBUS at the cut);
    queno.read takes the rows it got when the file is shorter than it was a moment before."""
    real_meta, real_data = recording
    (tmp_path / "x.sigmf-meta").write_text(json.dumps(real_meta))
    big = tmp_path / "x.sigmf-data"
    with open(big, "wb") as f:  # 64 MiB: the cut comes while queno_convert is at it
        f.truncate(64 << 20)
    for _ in range(3):
        cutter = threading.Timer(0.05, lambda: os.truncate(big, 4096))
        cutter.start()
        converted = convert(tmp_path / "x")
        cutter.join()
        assert converted.returncode in (0, 1), converted.returncode  # never killed by a signal
        with open(big, "r+b") as f:
            f.truncate(64 << 20)
    big.write_bytes(real_data)
    real_fstat = os.fstat
    monkeypatch.setattr(os, "fstat", lambda fd: os.stat_result(
        tuple(real_fstat(fd))[:6] + (len(real_data) + 800,) + tuple(real_fstat(fd))[7:]))
    read = queno.read(str(tmp_path / "x"))
    assert len(read.scans) == len(real_data) // 8 and not read.complete
