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

from . import _checked


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


@dataclass(frozen=True)
class AlarmEvent:
    """A change of an input's alarm state (queno_log --alarm): into `state` ("normal", "lo", "lolo",
    "hi", "hihi" or "fault") from `previous` at scan `scan`, measured at `time`; `value` in the
    input's unit, None for a fault."""

    channel: str
    state: str
    previous: str
    scan: int
    time: np.datetime64
    value: Optional[float]


class Alarms(list):
    """The alarm events of a recording, in the order of their scans."""

    def to_pandas(self):
        """A DataFrame indexed by time: channel, state, previous, scan, value."""
        import pandas as pd

        return pd.DataFrame({"channel": [a.channel for a in self], "state": [a.state for a in self],
                             "previous": [a.previous for a in self], "scan": [a.scan for a in self],
                             "value": [np.nan if a.value is None else a.value for a in self]},
                            index=pd.DatetimeIndex(np.array([a.time for a in self], dtype="datetime64[us]"), name="time"))


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
    alarms: Alarms = field(default_factory=Alarms)  # the alarm events (queno_log --alarm)
    board: Optional[int] = None  # the board's id

    def to_pandas(self):
        """A DataFrame indexed by time: the scan column and one column per channel ("AI0 [degC]")."""
        import pandas as pd

        columns = {"scan": self.scans}
        for c, channel in enumerate(self.channels):
            columns[f"{channel.name} [{channel.unit}]"] = self.values[:, c]
        return pd.DataFrame(columns, index=pd.DatetimeIndex(self.times, name="time"))


class Collection(list):
    """The boards of one run of queno_log with the channels of several boards: one Recording per
    board, in the order the run named them. Every board's times are on one base (each board's clock
    fitted to the host's)."""

    def __init__(self, path: str, recordings):
        super().__init__(recordings)
        self.path = path

    def to_pandas(self):
        """One DataFrame indexed by the first board's times, a column per channel of every board
        ("1/AI0 [degC]"). Another board's value is its row nearest in time within half its row period,
        NaN where it has none (at its gaps): the rows of queno_convert --merge."""
        import pandas as pd

        def frame(r: Recording):
            columns = {f"{r.board}/{c.name} [{c.unit}]": r.values[:, i] for i, c in enumerate(r.channels)}
            return pd.DataFrame(dict(time=pd.DatetimeIndex(r.times), **columns))

        merged = frame(self[0])
        for r in self[1:]:
            half = pd.Timedelta(int(round(5e5 * r.average / r.rate)), unit="us")
            merged = pd.merge_asof(merged, frame(r), on="time", direction="nearest", tolerance=half)
        return merged.set_index("time")


def _read_collection(path: str, follow: bool) -> Collection:
    """A SigMF collection of queno_log: the recordings it names, beside it (names only, never paths)."""
    with _checked.open_regular(path) as f:
        text = f.read((1 << 20) + 1)
    if len(text) > 1 << 20:
        raise ValueError(f"{path}: larger than 1 MiB: not a collection of queno_log")
    try:
        streams = json.loads(text)["collection"]["core:streams"]
        names = [s["name"] if isinstance(s, dict) else s[0] for s in streams]
    except (ValueError, KeyError, TypeError, IndexError):
        raise ValueError(f"{path}: not a SigMF collection (\"collection\": {{\"core:streams\": [...]}})") from None
    if not 2 <= len(names) <= 256 or not all(isinstance(n, str) and n and "/" not in n and "\0" not in n
                                             and not n.endswith(".sigmf-collection") for n in names):
        raise ValueError(f"{path}: names no two recordings of queno_log")
    return Collection(path, [read(os.path.join(os.path.dirname(path), n), follow=follow) for n in names])


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


_CAUSES = {
    "queue_full": "the logger's queue was full: the output did not keep up",
    "overflow": "buffer overflow; acquisition restarted at {}",
    "release_failed": "the driver did not take back the scans read; acquisition restarted at {}",
    "driver_failing": "the driver's queries kept failing; acquisition restarted at {}",
    "undelivered": "the driver delivered no more scans by the end of the duration",
}


def _utc_text(us: int) -> str:
    return str(np.datetime64(us, "us")) + "Z"


def _sigmf_global(g) -> dict:
    """The global object's facts, checked as queno_convert checks them."""
    recorder = _checked.text(g, "core:recorder")
    if not recorder.startswith("queno_log "):
        raise _checked.Refusal(f'recorded by "{recorder}", not by queno_log')
    datatype = _checked.text(g, "core:datatype")
    if datatype not in ("ri32_le", "rf64_le"):
        raise _checked.Refusal(f"the data type is {datatype}, not ri32_le or rf64_le")
    facts = {"means": datatype == "rf64_le", "average": _checked.whole(g, "queno:average", 1, 10000000)}
    if facts["means"] != (facts["average"] > 1):
        raise _checked.Refusal("the data type does not fit the average length")
    facts["keep_limits"] = _checked.field(g, "queno:keep_limits") is True
    facts["board"] = _checked.whole(g, "queno:board", 0, (1 << 31) - 1)
    _checked.text(g, "queno:model")
    _checked.text(g, "queno:serial")
    _checked.whole(g, "queno:resolution", 16, 24)
    facts["full_scale"] = _checked.whole(g, "queno:full_scale", 1, (1 << 31) - 1)
    rate = _checked.real(g, "queno:rate")
    if not 0.001 <= rate <= 1e9:
        raise _checked.Refusal("the rate is not from 0.001 to 10^9 scans/s")
    facts["rate"] = _exact_rate(rate)
    facts["started_us"] = _checked.utc_us(g, "queno:started_us")
    facts["delay"] = _checked.whole(g, "queno:delay_scans", 0, 1 << 20)
    _checked.whole(g, "queno:file", 1, 9999999)
    facts["first_scan"] = _checked.count(g, "queno:first_scan")
    channels = _checked.field(g, "queno:channels")
    if not isinstance(channels, list) or not 0 < len(channels) <= 4096:
        raise _checked.Refusal('"queno:channels" lists no inputs')
    if _checked.whole(g, "core:num_channels", 1, 4096) != len(channels):
        raise _checked.Refusal('"core:num_channels" differs from the inputs listed')
    facts["channels"] = []
    for entry in channels:
        name = _checked.text(entry, "name")
        if not re.fullmatch(r"AI[0-9]+", name, re.ASCII) or int(name[2:]) > 4095:
            raise _checked.Refusal(f'an input is named "{name}"')
        channel = Channel(name, _checked.text(entry, "mode"), _checked.text(entry, "range"), _checked.text(entry, "unit"),
                          float(_checked.real(entry, "scale")), float(_checked.real(entry, "offset")))
        _checked.whole(entry, "decimals", 0, 9)
        for setting in _checked.array(entry, "settings", "are not a list"):
            if not (isinstance(setting, list) and len(setting) == 2 and all(isinstance(t, str) for t in setting)):
                raise _checked.Refusal("an input's setting is not a pair of texts")
        facts["channels"].append(channel)
    names = [c.name for c in facts["channels"]]
    for stretch in _checked.array(g, "queno:limits_at_start", "is not a list"):
        _channel_index(names, _checked.text(stretch, "channel"))
        _checked.side(stretch)
        _checked.count(stretch, "from_scan")
    for held in _checked.array(g, "queno:alarms_at_start", "is not a list") if "queno:alarms_at_start" in g else []:
        _channel_index(names, _checked.text(held, "channel"))
        _alarm_state(held, "state")
        _checked.count(held, "since_scan")
    facts["next"] = _checked.text(g, "queno:next") if "queno:next" in g else None
    facts["end"] = None
    if "queno:end" in g:
        end = g["queno:end"]
        facts["end"] = (_checked.count(end, "scans"), _checked.count(end, "gaps"), _checked.count(end, "lost"))
        if "rows_dropped" in end:
            _checked.count(end, "rows_dropped")
        for events in _checked.array(end, "alarm_events", "is not a list") if "alarm_events" in end else []:
            _channel_index(names, _checked.text(events, "channel"))
            _checked.count(events, "events")
        _checked.utc_us(end, "time_us")
        out_of_range = _checked.field(end, "out_of_range")
        if not isinstance(out_of_range, list) or len(out_of_range) != len(names):
            raise _checked.Refusal('"out_of_range" does not list every input')
        if not all(isinstance(n, int) and not isinstance(n, bool) and 0 <= n <= _checked.MAX_SCAN for n in out_of_range):
            raise _checked.Refusal('"out_of_range" holds a count that is no count')
    return facts


_ALARM_STATES = ("normal", "lo", "lolo", "hi", "hihi", "fault")


def _alarm_state(obj, name) -> str:
    state = _checked.text(obj, name)
    if state not in _ALARM_STATES:
        raise _checked.Refusal(f'an alarm\'s state is "{state}"')
    return state


def _number_or_none(obj, name):
    return None if _checked.field(obj, name) is None else float(_checked.real(obj, name))


def _channel_index(names, name) -> int:
    if name not in names:
        raise _checked.Refusal(f"an annotation names {name}, which the recording does not hold")
    return names.index(name)


def _sigmf_annotations(meta, names, first_scan):
    """The gaps (position, Gap), the scans the stretches at a limit and the alarms name, and the
    alarm events as (channel, state, previous, scan, value)."""
    gaps, scans, alarms = [], [], []
    for a in _checked.array(meta, "annotations", "is not a list"):
        if isinstance(a, dict) and "queno:gap" in a:
            gap = a["queno:gap"]
            position = _checked.count(a, "core:sample_start")
            lost, next_scan = _checked.count(gap, "lost"), _checked.count(gap, "next_scan")
            cause = _checked.text(gap, "cause")
            if cause not in _CAUSES:
                raise _checked.Refusal(f'a gap\'s cause is "{cause}"')
            reason = _CAUSES[cause].format(_utc_text(_checked.utc_us(gap, "restart_us")))
            gaps.append((position, Gap(next_scan, lost, reason)))
            scans.append(next_scan)
        elif isinstance(a, dict) and "queno:limit" in a:
            limit = a["queno:limit"]
            _channel_index(names, _checked.text(limit, "channel"))
            _checked.side(limit)
            begin, end = _checked.count(limit, "from_scan"), _checked.count(limit, "end_scan")
            _checked.count(limit, "scans")
            how = _checked.text(limit, "how")
            if how not in ("ended", "continues", "to_end"):
                raise _checked.Refusal(f'a stretch at a limit ends "{how}"')
            scans += [begin] if begin >= first_scan else []
            scans += [end] if how in ("ended", "to_end") else []
        elif isinstance(a, dict) and "queno:alarm" in a:
            alarm = a["queno:alarm"]
            channel = _checked.text(alarm, "channel")
            _channel_index(names, channel)
            event = (channel, _alarm_state(alarm, "state"), _alarm_state(alarm, "previous"), _checked.count(alarm, "scan"),
                     _number_or_none(alarm, "value"))
            _number_or_none(alarm, "limit")
            alarms.append(event)
            scans.append(event[3])
    return gaps, scans, sorted(alarms, key=lambda e: e[3])


def _sigmf_captures(meta):
    captures = [(_checked.count(c, "core:sample_start"), _checked.count(c, "core:global_index"))
                for c in _checked.array(meta, "captures", "is not a list")]
    if not captures or captures[0][0] != 0:
        raise _checked.Refusal("no capture at the first sample")
    return captures


def _fitted_clock(meta, nominal: float):
    """Several boards: each capture's time and rate of the board's fitted clock, [(scan, us, rate)];
    None for a recording of one board."""
    g = _checked.field(meta, "global")
    if not isinstance(g, dict) or "queno:clock" not in g:
        return None
    clock = []
    for c in _checked.array(meta, "captures", "is not a list"):
        rate = _checked.real(c, "queno:rate")
        if not nominal * 0.99 <= rate <= nominal * 1.01:
            raise _checked.Refusal("a capture's fitted rate is not within 1 % of the rate")
        clock.append((_checked.count(c, "core:global_index"), _checked.utc_us(c, "queno:datetime_us"), rate))
    return clock


def _fitted_times(clock, scans: np.ndarray) -> np.ndarray:
    """The fitted clock's times: each scan from the last capture at or before it."""
    starts = np.array([c[0] for c in clock], dtype=np.uint64)
    at = np.maximum(np.searchsorted(starts, scans, side="right") - 1, 0)
    base = np.array([c[1] for c in clock], dtype=np.int64)[at]
    per_scan = 1e6 / np.array([c[2] for c in clock])[at]
    offset = (scans.astype(np.float64) - starts[at].astype(np.float64)) * per_scan
    return (base + np.floor(offset).astype(np.int64)).astype("datetime64[us]")


def _check_scans(facts, captures, gaps, scans, rows) -> bool:
    """Every scan named has a time before the year 10000; True when the recording has its end but
    the data holds fewer scans than that end counts."""
    last = facts["first_scan"]
    for i, (position, scan) in enumerate(captures):
        end = captures[i + 1][0] if i + 1 < len(captures) else max(rows, position)
        if end < position:
            raise _checked.Refusal("the captures are not in the order of their samples")
        if scan + (end - position) * facts["average"] > _checked.MAX_SCAN:
            raise _checked.Refusal("a capture's scans run past scan 2^62")
        last = max(last, scan + (end - position) * facts["average"])
    last = max([last] + scans)
    if facts["started_us"] + (last + facts["delay"]) * 1000000 / facts["rate"] > _checked.LATEST_US:
        raise _checked.Refusal("its scans run past the year 9999")
    if facts["end"] is None:
        return False
    trailing = sum(g.lost for position, g in gaps if position >= rows)
    covered = facts["first_scan"]
    if rows:
        position, scan = [c for c in captures if c[0] < rows][-1]
        covered = scan + (rows - position) * facts["average"]
    scans_written, _, lost = facts["end"]
    return covered + trailing < scans_written + lost


def _read_sigmf(name: str) -> Recording:
    meta_path, data_path = _sigmf_paths(name)
    meta = _checked.load_metadata(meta_path)
    try:
        facts = _sigmf_global(_checked.field(meta, "global"))
        captures = _sigmf_captures(meta)
        clock = _fitted_clock(meta, float(facts["rate"]))
        gaps, named_scans, alarms = _sigmf_annotations(meta, [c.name for c in facts["channels"]], facts["first_scan"])
    except _checked.Refusal as refusal:
        raise ValueError(f"{meta_path}: {refusal}: not a SigMF recording of queno_log") from None
    width = len(facts["channels"])
    dtype = np.dtype("<f8" if facts["means"] else "<i4")
    with _checked.open_regular(data_path) as f:
        rows = os.fstat(f.fileno()).st_size // (dtype.itemsize * width)  # a torn last scan is left out
        try:
            short = _check_scans(facts, captures, gaps, named_scans, rows)
        except _checked.Refusal as refusal:
            raise ValueError(f"{meta_path}: {refusal}: not a SigMF recording of queno_log") from None
        # Read, not mapped: a file cut while it is read ends its rows there, where a mapping of
        # it would kill the interpreter.
        raw = np.fromfile(f, dtype=dtype, count=rows * width)
    if raw.size < rows * width:
        rows, short = raw.size // width, facts["end"] is not None
    raw = raw[: rows * width].reshape(rows, width)
    average = facts["average"]
    scans = np.zeros(rows, dtype=np.uint64)
    for i, (position, scan) in enumerate(captures):
        start = min(position, rows)
        end = min(captures[i + 1][0], rows) if i + 1 < len(captures) else rows
        scans[start:end] = scan + np.arange(max(end - start, 0), dtype=np.uint64) * np.uint64(average)
    channels = facts["channels"]
    values = raw.astype(np.float64)
    values *= np.array([c.scale for c in channels])
    values -= np.array([c.offset for c in channels])
    if not facts["keep_limits"] and not facts["means"]:  # a mean that includes a limit is NaN already
        values[(raw >= facts["full_scale"]) | (raw <= -facts["full_scale"])] = np.nan
    if clock is None:
        times = _scan_times(facts["started_us"], facts["delay"], facts["rate"], scans)
        events = _alarm_events(alarms, facts["started_us"], facts["delay"], facts["rate"])
    else:
        times = _fitted_times(clock, scans)
        events = Alarms(AlarmEvent(e[0], e[1], e[2], e[3], t, None if e[1] == "fault" else e[4])
                        for e, t in zip(alarms, _fitted_times(clock, np.array([e[3] for e in alarms], dtype=np.uint64))))
    return Recording(meta_path, float(facts["rate"]), average, channels, scans, times, values, raw, [g for _, g in gaps],
                     complete=facts["end"] is not None and not short, next_file=_beside(meta_path, facts["next"]),
                     alarms=events, board=facts["board"])


def _alarm_events(events, start_us, delay, rate) -> Alarms:
    """(channel, state, previous, scan, value) as AlarmEvents with their scans' times."""
    times = _scan_times(start_us, delay, rate, np.array([e[3] for e in events], dtype=np.uint64))
    return Alarms(AlarmEvent(e[0], e[1], e[2], e[3], t, None if e[1] == "fault" else e[4]) for e, t in zip(events, times))


_ROW_TIME = re.compile(rb"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(?:\.\d{6})?Z),", re.M)
_COMMENT_OR_BLANK = re.compile(rb"^(?:#[^\n]*)?\n", re.M)
_EMPTY_FIELD = re.compile(rb",(?=[,\n])")
# "# alarm AI0: hi at scan 31234 (-14.93 degC > -15)", "... normal at scan 40012 (-15.6 degC, was hi)",
# "... fault at scan 5 (at a limit of its range)", "# alarm AI0: hi since scan 31234"
_ALARM_LINE = re.compile(r"# alarm (AI\d+): (normal|lolo|lo|hihi|hi|fault) (at|since) scan (\d+)(?: \((-?[0-9.]+(?:e[-+]?\d+)?) )?")
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
    with _checked.open_regular(path) as f:
        data = f.read()
    data = data[: data.rfind(b"\n") + 1]  # a last line without its end was cut short
    rate, start_us, delay, columns, body_at = None, None, 0, None, len(data)
    gaps, settings, complete, average, next_file = [], [], False, 1, None
    alarms, alarm_states, board, fitted = [], {}, None, False
    first_row = re.search(rb"^[^#\n][^\n]*$", data, re.M)  # the column names
    if first_row:
        columns, body_at = first_row.group(0).decode("utf-8").split(","), first_row.end() + 1
    for at, text in _comment_lines(data):
        line = text.decode("utf-8")
        in_header = at < body_at
        if line.startswith("# each row is the mean of "):
            average = int(line.split()[7])
        elif line.startswith("# board ") and board is None and in_header:
            board = int(line[8:].split(":", 1)[0])
        elif line.startswith("# clock: the times are the board's clock fitted") and in_header:
            fitted = True
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
        elif line.startswith("# alarm "):
            found = _ALARM_LINE.match(line)
            if not found:
                raise ValueError(f"{path}: an alarm line that is not queno_log's: {line[:80]}")
            channel, state, how, scan, value = found.groups()
            if how == "at":
                alarms.append((channel, state, alarm_states.get(channel, "normal"), int(scan),
                               None if value is None else float(value)))
            alarm_states[channel] = state
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
    # Several boards' files: the times are the fitted clock's, as written.
    written = _ROW_TIME.findall(data, body_at) if fitted else None
    del data
    scans = table[:, 0].astype(np.uint64)
    values = np.ascontiguousarray(table[:, [i - 1 for i in value_columns]])
    raw = np.ascontiguousarray(table[:, [i - 1 for i in raw_columns]]).astype(np.int32) if raw_columns else None
    if written is None:
        times = _scan_times(start_us, delay, rate, scans)
        events = _alarm_events(alarms, start_us, delay, rate)
    else:
        if len(written) != len(scans):
            raise ValueError(f"{path}: a row without its time")
        times = np.array([w[:-1].decode("ascii") for w in written], dtype="datetime64[us]")
        by_scan = dict(zip(scans.tolist(), times))
        events = Alarms(AlarmEvent(e[0], e[1], e[2], e[3], by_scan.get(e[3], np.datetime64("NaT")), None if e[1] == "fault" else e[4])
                        for e in alarms)
    return Recording(path, float(rate), average, channels, scans, times, values, raw, gaps, complete, next_file, events, board)


def _beside(path: str, name: Optional[str]) -> Optional[str]:
    """A file named in a recording, in the recording's folder (a name only, never a path)."""
    if not name:
        return None
    return os.path.join(os.path.dirname(path), os.path.basename(name))


def _is_queno_csv(path: str) -> bool:
    with _checked.open_regular(path) as f:
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
                     [g for p in parts for g in p.gaps], last.complete, last.next_file, Alarms(a for p in parts for a in p.alarms))


def _read_checked(path: str) -> Recording:
    """A file that is no recording, whatever it holds, is a ValueError (or an OSError where it
    cannot be read), never another exception from deep inside the parsing."""
    try:
        return _read_one(path)
    except (ValueError, OSError):
        raise
    except (KeyError, TypeError, AttributeError, IndexError, ArithmeticError, RecursionError) as fault:
        raise ValueError(f"{path}: not a recording of queno_log ({type(fault).__name__}: {fault})") from None


def read(path: str, follow: bool = False) -> Recording:
    """A recording of queno_log: a CSV file (whatever its name), or a SigMF pair (either file, or
    its name without the extension), with its alarm events in `alarms`. A .sigmf-collection (several
    boards of one run) gives a Collection: a Recording per board and a to_pandas() that aligns them. With follow=True a rotated recording is read on through the
    files it continues in ("# continued in ...", "queno:next"), as one recording. Raises ValueError
    for a file that is no such recording, OSError when it cannot be read (a FIFO or a device is
    never waited on or read). A SigMF recording is checked by queno_convert's rules, so both take
    and refuse the same files; one whose data file holds fewer scans than its end counts, or is
    cut while it is read, is read to its last whole scan and is not `complete`."""
    path = os.fspath(path)
    if path.endswith(".sigmf-collection"):
        return _read_collection(path, follow)
    parts = [_read_checked(path)]
    seen = {os.path.abspath(parts[0].path)}
    while follow and parts[-1].next_file and os.path.exists(parts[-1].next_file):
        nxt = _read_checked(parts[-1].next_file)
        if os.path.abspath(nxt.path) in seen:
            raise ValueError(f"{nxt.path}: the recording continues in itself")
        seen.add(os.path.abspath(nxt.path))
        parts.append(nxt)
    return parts[0] if len(parts) == 1 else _joined(parts)
