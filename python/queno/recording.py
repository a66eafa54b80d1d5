"""Recordings of queno_log, CSV or SigMF, read into numpy arrays.

Both formats give the same numbers: a value is count x scale - offset of the range the driver
settled on, a sample at a limit of its range (an open or shorted sensor, an input over range) is
NaN, and the time of a scan is the acquisition's start plus (the scans the input filters held back
+ the scan's number) / rate, to the microsecond, exactly as queno_log computes it.
"""

import io
import json
import os
import re
from dataclasses import dataclass, field
from fractions import Fraction
from typing import List, Optional

import numpy as np


@dataclass(frozen=True)
class Channel:
    """An input as recorded: its name (AI<k>), mode, settled range, unit and scaling."""

    name: str
    mode: str
    range: str
    unit: str
    scale: float
    offset: float


@dataclass(frozen=True)
class Gap:
    """Scans missing from a recording: `lost` scans before scan `next_scan`, and why."""

    next_scan: int
    lost: int
    reason: str


@dataclass
class Recording:
    """A recording's scans (or means) and what they mean.

    scans: uint64 [n], the scan number of each row (of a mean: its first scan)
    times: datetime64[us] [n], UTC
    values: float64 [n, channels] in each channel's unit; NaN where no measurement
    raw: int32 [n, channels] of signed counts (SigMF counts, a CSV's raw columns), float64 means
         (SigMF with --average), or None (a CSV without raw columns)
    """

    path: str
    rate: float
    average: int
    channels: List[Channel]
    scans: np.ndarray
    times: np.ndarray
    values: np.ndarray
    raw: Optional[np.ndarray]
    gaps: List[Gap] = field(default_factory=list)
    complete: bool = False  # the recording has its end (not cut, not still being written)
    next_file: Optional[str] = None  # the file a rotated recording goes on in

    def to_pandas(self):
        """A DataFrame indexed by time: the scan column and one column per channel ("AI0 [degC]")."""
        import pandas as pd

        columns = {"scan": self.scans}
        for c, channel in enumerate(self.channels):
            columns[f"{channel.name} [{channel.unit}]"] = self.values[:, c]
        return pd.DataFrame(columns, index=pd.DatetimeIndex(self.times, name="time"))


def _exact_rate(text) -> Fraction:
    """The rate as the file states it, as an exact fraction: "333.3333333" is 3333333333/10000000.
    A JSON number read as a float is written back as its shortest decimal first, the text the
    recorder wrote."""
    rate = Fraction(repr(text) if isinstance(text, float) else str(text))
    if rate <= 0:
        raise ValueError(f"the rate {text} is no positive number of scans per second")
    return rate


def _scan_times(start_us: int, delay: int, rate: Fraction, scans: np.ndarray) -> np.ndarray:
    """queno_log's scan clock: start + floor((delay + scan) x 10^6 / rate) microseconds, in exact
    integer arithmetic. Times repeat every `numerator` scans shifted by a whole number of
    microseconds, so the scans are taken modulo the numerator and the products stay within 64 bits
    where the numerator does within 32; beyond that Python's own integers do it."""
    per_period = rate.denominator * 1000000  # microseconds of `numerator` scans
    num = rate.numerator
    n = scans.astype(np.uint64) + np.uint64(delay)
    if num < (1 << 32) and per_period < (1 << 63):
        periods, within = n // np.uint64(num), n % np.uint64(num)
        whole, rest = per_period // num, per_period % num
        micros = (periods * np.uint64(per_period) + within * np.uint64(whole) + (within * np.uint64(rest)) // np.uint64(num))
    else:
        micros = np.array([int(k) * per_period // num for k in n.tolist()], dtype=np.uint64)
    return (np.int64(start_us) + micros.astype(np.int64)).astype("datetime64[us]")


def _gap_reason(text: str) -> str:
    """The cause of a gap, the part in brackets of "gap: 12 scans lost after scan 345 (...)"."""
    at = text.find(" (")
    return text[at + 2: -1] if at >= 0 and text.endswith(")") else text


def _sigmf_paths(name: str):
    for ext in (".sigmf-meta", ".sigmf-data"):
        if name.endswith(ext):
            name = name[: -len(ext)]
    return name + ".sigmf-meta", name + ".sigmf-data"


def _read_sigmf(name: str) -> Recording:
    meta_path, data_path = _sigmf_paths(name)
    with open(meta_path, encoding="utf-8") as f:
        meta = json.load(f)
    if not isinstance(meta, dict) or not isinstance(meta.get("global", {}), dict):
        raise ValueError(f"{meta_path}: JSON, but not a SigMF metadata object")
    g = meta.get("global", {})
    if not str(g.get("core:recorder", "")).startswith("queno_log "):
        raise ValueError(f"{meta_path}: not a SigMF recording of queno_log")
    width = int(g["core:num_channels"])
    means = g["core:datatype"] == "rf64_le"
    dtype = np.dtype("<f8" if means else "<i4")
    rows = os.path.getsize(data_path) // (dtype.itemsize * width)  # a torn last scan is left out
    # Memory-mapped, read only: the counts are read from the file as they are used.
    raw = np.memmap(data_path, dtype=dtype, mode="r", shape=(rows, width)) if rows else np.zeros((0, width), dtype=dtype)
    average = int(g["queno:average"])
    scans = np.zeros(rows, dtype=np.uint64)
    captures = sorted(meta.get("captures", []), key=lambda c: c["core:sample_start"])
    for i, capture in enumerate(captures):
        start = min(int(capture["core:sample_start"]), rows)
        end = min(int(captures[i + 1]["core:sample_start"]), rows) if i + 1 < len(captures) else rows
        scans[start:end] = int(capture["core:global_index"]) + np.arange(end - start, dtype=np.uint64) * np.uint64(average)
    channels = [Channel(c["name"], c["mode"], c["range"], c["unit"], float(c["scale"]), float(c["offset"]))
                for c in g["queno:channels"]]
    scale = np.array([c.scale for c in channels])
    offset = np.array([c.offset for c in channels])
    values = raw.astype(np.float64)
    values *= scale
    values -= offset
    if not g.get("queno:keep_limits", False) and not means:  # a mean that includes a limit is NaN already
        full_scale = int(g["queno:full_scale"])
        values[(raw >= full_scale) | (raw <= -full_scale)] = np.nan
    gaps = [Gap(int(a["queno:gap"]["next_scan"]), int(a["queno:gap"]["lost"]), _gap_reason(a["core:comment"]))
            for a in meta.get("annotations", []) if "queno:gap" in a]
    rate = _exact_rate(g["queno:rate"])
    times = _scan_times(int(g["queno:started_us"]), int(g["queno:delay_scans"]), rate, scans)
    return Recording(meta_path, float(rate), average, channels, scans, times, values, raw, gaps,
                     complete="queno:end" in g, next_file=_beside(meta_path, g.get("queno:next")))


_COMMENT_OR_BLANK = re.compile(rb"^(?:#[^\n]*)?\n", re.M)
_EMPTY_FIELD = re.compile(rb",(?=[,\n])")
_RATE_LINE = re.compile(r"# rate (\S+) S/s, started (\S+?)Z? .*input filter delay (\d+) scans")


def _comment_lines(data: bytes):
    """(offset, text) of each line that begins with '#', found with bytes.find: a regular
    expression tried at every position of a gigabyte takes seconds."""
    if data.startswith(b"#"):
        at = 0
    else:
        at = data.find(b"\n#")
        if at < 0:
            return
        at += 1
    while True:
        end = data.find(b"\n", at)
        end = len(data) if end < 0 else end
        yield at, data[at:end]
        at = data.find(b"\n#", end)
        if at < 0:
            return
        at += 1


def _parse_rows(body: bytes, width: int) -> np.ndarray:
    """The rows without their time column, as float64 [n, width - 1]; an empty field is NaN.
    pandas' parser where pandas is installed (ten times faster), numpy's otherwise."""
    try:
        import pandas as pd
    except ImportError:
        pd = None
    if pd is not None:
        try:
            frame = pd.read_csv(io.BytesIO(body), header=None, comment="#", usecols=range(1, width), dtype=np.float64,
                                engine="c", skip_blank_lines=True)
        except pd.errors.EmptyDataError:  # no row yet
            return np.zeros((0, width - 1))
        return frame.to_numpy(dtype=np.float64).reshape(-1, width - 1)
    body = _EMPTY_FIELD.sub(b",nan", _COMMENT_OR_BLANK.sub(b"", body))
    if not body:
        return np.zeros((0, width - 1))
    return np.loadtxt(io.BytesIO(body), delimiter=",", usecols=range(1, width), dtype=np.float64, ndmin=2)


def _read_csv(path: str) -> Recording:
    """The comment lines are read one by one; the rows, in one pass of numpy's parser (an empty
    field, a sample at a limit, is NaN). A row's time is the scan clock's, as queno_log wrote it."""
    with open(path, "rb") as f:
        data = f.read()
    data = data[: data.rfind(b"\n") + 1]  # a last line without its end was cut short
    rate, start_us, delay, columns, body_at = None, None, 0, None, len(data)
    gaps, settings, complete, average, next_file = [], [], False, 1, None
    first_row = re.search(rb"^[^#\n][^\n]*$", data, re.M)  # the column names
    if first_row:
        columns, body_at = first_row.group(0).decode("utf-8").split(","), first_row.end() + 1
    for at, text in _comment_lines(data):
        line = text.decode("utf-8")
        in_header = at < body_at
        if line.startswith("# each row is the mean of "):
            average = int(line.split()[7])
        elif line.startswith("# rate ") and rate is None:
            rate = _exact_rate(line.split()[2])
            clock = _RATE_LINE.match(line)
            if clock:
                start_us = int(np.datetime64(clock.group(2), "us").astype(np.int64))
                delay = int(clock.group(3))
        elif line.startswith("# AI") and ", scale " in line and in_header:
            name, rest = line[2:].split(": ", 1)
            parts = rest.split(", ")
            scale = float(rest.rsplit(", scale ", 1)[1].split(",")[0])
            offset = float(rest.rsplit(", offset ", 1)[1])
            settings.append((name, parts[0], parts[1][len("Range "):], scale, offset))
        elif line.startswith("# gap: "):
            words = line.split()
            lost = int(words[2])
            after = line.split(" lost ", 1)[1]
            next_scan = int(after.split()[2]) + 1 if after.startswith("after scan") else int(after.split()[2])
            gaps.append(Gap(next_scan + (lost if after.startswith("after scan") else 0), lost, _gap_reason(line[2:])))
        elif line.startswith("# end "):
            complete = True
        elif line.startswith("# continued in ") and not in_header:
            next_file = _beside(path, line[len("# continued in "):])
    if columns is None or rate is None or start_us is None:
        raise ValueError(f"{path}: not a CSV recording of queno_log 1.2 or later (no rate line with its scan clock)")
    value_columns = [i for i, c in enumerate(columns) if i >= 2 and not c.endswith(" raw")]
    raw_columns = [i for i, c in enumerate(columns) if c.endswith(" raw")]
    channels = [Channel(s[0], s[1], s[2], columns[i].split("[", 1)[1].rstrip("]"), s[3], s[4])
                for s, i in zip(settings, value_columns)]
    table = _parse_rows(data[body_at:], len(columns))
    del data
    scans = table[:, 0].astype(np.uint64)
    values = np.ascontiguousarray(table[:, [i - 1 for i in value_columns]])
    raw = np.ascontiguousarray(table[:, [i - 1 for i in raw_columns]]).astype(np.int32) if raw_columns else None
    times = _scan_times(start_us, delay, rate, scans)
    return Recording(path, float(rate), average, channels, scans, times, values, raw, gaps, complete, next_file)


def _beside(path: str, name: Optional[str]) -> Optional[str]:
    """A file named in a recording, in the recording's folder (a name only, never a path)."""
    if not name:
        return None
    return os.path.join(os.path.dirname(path), os.path.basename(name))


def _is_queno_csv(path: str) -> bool:
    with open(path, "rb") as f:
        return f.read(12) == b"# queno_log "


def _read_one(path: str) -> Recording:
    if path.endswith((".sigmf-meta", ".sigmf-data")) or os.path.exists(path + ".sigmf-meta"):
        return _read_sigmf(path)
    if path.endswith(".csv") or (os.path.isfile(path) and _is_queno_csv(path)):
        return _read_csv(path)
    raise ValueError(f"{path}: neither a CSV recording of queno_log nor a SigMF recording")


def _joined(parts: List[Recording]) -> Recording:
    """The files of a rotated recording as one: rows, gaps and the end of the last."""
    first, last = parts[0], parts[-1]
    for part in parts[1:]:
        if [c.name for c in part.channels] != [c.name for c in first.channels] or part.average != first.average:
            raise ValueError(f"{part.path}: not the same channels as {first.path}")
    raw = None if first.raw is None else np.concatenate([p.raw for p in parts])
    return Recording(first.path, first.rate, first.average, first.channels, np.concatenate([p.scans for p in parts]),
                     np.concatenate([p.times for p in parts]), np.concatenate([p.values for p in parts]), raw,
                     [g for p in parts for g in p.gaps], last.complete, last.next_file)


def read(path: str, follow: bool = False) -> Recording:
    """A recording of queno_log: a CSV file (whatever its name), or a SigMF pair (either file, or
    its name without the extension). With follow=True a rotated recording is read on through the
    files it continues in ("# continued in ...", "queno:next"), as one recording. Raises ValueError
    for a file that is no such recording, OSError when it cannot be read."""
    path = os.fspath(path)
    parts = [_read_one(path)]
    seen = {os.path.abspath(parts[0].path)}
    while follow and parts[-1].next_file and os.path.exists(parts[-1].next_file):
        nxt = _read_one(parts[-1].next_file)
        if os.path.abspath(nxt.path) in seen:
            raise ValueError(f"{nxt.path}: the recording continues in itself")
        seen.add(os.path.abspath(nxt.path))
        parts.append(nxt)
    return parts[0] if len(parts) == 1 else _joined(parts)
