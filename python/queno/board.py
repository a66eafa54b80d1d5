"""Boards and their scans: the inventory, open ... close, and scans read into numpy arrays.

A scan runs the acquisition of queno_log on a thread of its own: the driver's ring buffer is read
in place and handed back at once into the package's queue (ten seconds of scans), so a slow Python
loop never overruns the driver; what it cannot keep up with is a gap, counted exactly.
"""

from dataclasses import dataclass
from typing import Dict, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _queno
from .recording import Channel, Gap


@dataclass(frozen=True)
class Setting:
    """A number a mode takes between limits (IIRFilter_VAL 0..1000, SensorRes0 10..10000 Ohm);
    None where the board's description does not say."""

    name: str
    min: Optional[float]
    max: Optional[float]
    default: Optional[float]
    unit: str
    attributes: Dict[str, str]


def _number(text: Optional[str]) -> Optional[float]:
    try:
        return float(text) if text is not None else None
    except ValueError:
        return None


@dataclass(frozen=True)
class Mode:
    """A mode of an input: the lists of values it offers (Range, LinearisationTable, ...) and its
    numeric settings by name."""

    name: str
    lists: Dict[str, List[str]]
    settings: Dict[str, Setting] = None


@dataclass(frozen=True)
class Input:
    """An analogue input: its name (AI<k>) and modes."""

    name: str
    modes: List[Mode]


@dataclass(frozen=True)
class BoardInfo:
    """A board as queno_info lists it: id, model, serial number, the rates it takes (scans/s),
    its resolutions (bits) and analogue inputs."""

    id: int
    model: str
    serial: str
    rates: Tuple[int, int]
    resolutions: List[int]
    inputs: List[Input]


@dataclass(frozen=True)
class ScanChannel(Channel):
    """A channel of a scan: what Channel says plus its driver path, the settled range's limits
    and the other settings the driver settled on."""

    path: str = ""
    low: float = 0.0
    high: float = 0.0
    settings: Optional[Dict[str, str]] = None


def boards() -> List[BoardInfo]:
    """Every board the driver finds, with its inputs, modes and their lists."""
    found = []
    for b in _queno.boards():
        inputs = [Input(name, [Mode(mode, lists, {k: Setting(k, _number(a.get("Min")), _number(a.get("Max")),
                                                         _number(a.get("Default")), a.get("Unit", ""), dict(a))
                                                  for k, a in settings.items()})
                               for mode, lists, settings in modes])
                  for name, modes in b["inputs"]]
        found.append(BoardInfo(b["id"], b["model"], b["serial"], tuple(b["rates"]), list(b["resolutions"]), inputs))
    return found


class Block:
    """Consecutive scans as one piece.

    raw: int32 [n, channels] of signed counts
    scans: uint64 [n], each row's scan number
    values: float64 [n, channels] in each channel's unit (count x scale - offset, NaN at a limit
            of the range: an open or shorted sensor), the numbers queno_log writes
    times: datetime64[us] [n], UTC: the acquisition's start + (scans the input filters held back
           + scan number) / rate
    gap: None, or the Gap before the first row; gaps: every gap met before or between the rows
    """

    def __init__(self, scan: "Scan", raw: np.ndarray, scans: np.ndarray, gaps: List[Gap]):
        self._scan = scan
        self.raw = raw
        self.scans = scans
        self.gaps = gaps
        self._values = None
        self._times = None

    @property
    def scan0(self) -> int:
        """The scan number of the first row."""
        return int(self.scans[0]) if len(self.scans) else -1

    @property
    def gap(self) -> Optional[Gap]:
        """The gap just before the first row, or None; `gaps` has every gap, those between rows too."""
        if self.gaps and (len(self.scans) == 0 or self.gaps[0].next_scan <= self.scan0):
            return self.gaps[0]
        return None

    @property
    def values(self) -> np.ndarray:
        if self._values is None:
            self._values = self._scan._core.values(self.raw)
        return self._values

    @property
    def times(self) -> np.ndarray:
        if self._times is None:
            self._times = self._scan._core.times(self.scans).view("datetime64[us]")
        return self._times

    def __len__(self) -> int:
        return len(self.scans)

    def __repr__(self) -> str:
        return f"<queno.Block scans {self.scan0}..{self.scan0 + len(self) - 1 if len(self) else ''}, {len(self.gaps)} gaps>"


class Scan:
    """A running acquisition of some inputs; made by Board.scan. A context manager: the acquisition
    stops at the end of the `with` block.

    channels: the ScanChannel of each input, in the order of the columns of raw and values
    """

    def __init__(self, core):
        self._core = core
        self._pending: List[Gap] = []
        self._channels = [ScanChannel(c["name"], c["mode"], c["range"], c["unit"], c["scale"], c["offset"],
                                     c["path"], c["low"], c["high"], c["settings"]) for c in core.channels]

    @property
    def channels(self) -> List[ScanChannel]:
        """Each input as the driver set it up, in the order of the columns of raw and values."""
        return self._channels

    @property
    def rate(self) -> float:
        """Scans per second, as the driver settled it."""
        return self._core.rate

    @property
    def start(self) -> np.datetime64:
        """When the acquisition started (UTC)."""
        return np.datetime64(self._core.start_micros, "us")

    @property
    def gap_count(self) -> int:
        """Gaps read so far."""
        return self._core.gaps

    @property
    def lost(self) -> int:
        """Scans lost in the gaps read so far."""
        return self._core.lost

    @property
    def queue_fill(self) -> float:
        """How full the package's queue is, 0..1."""
        return self._core.queue_fill

    def _block(self, raw, scan0) -> Block:
        scans = np.arange(scan0, scan0 + len(raw), dtype=np.uint64)
        gaps, self._pending = self._pending, []
        return Block(self, raw, scans, gaps)

    def _next(self, max_scans: int, timeout: float) -> Union[Block, None, Tuple]:
        while True:
            piece = self._core.next_block(max_scans, timeout)
            if piece is None or piece == ():
                return piece
            if piece[0] == "gap":
                self._pending.append(piece[1])
                continue
            return self._block(piece[1], piece[0])

    def blocks(self, max_scans: int = 0) -> Iterator[Block]:
        """The scans as the driver delivers them (at most max_scans a block when given), until the
        scan is stopped. A block after a gap carries it in `gap`."""
        while True:
            block = self._next(max_scans, -1.0)
            if block is None:
                return
            yield block

    def read(self, n: int) -> Block:
        """Exactly n scans (fewer only when the scan is stopped meanwhile); waits for them."""
        if n < 0:
            raise ValueError("n must not be negative")
        return self.read_into(np.empty((n, len(self.channels)), dtype=np.int32))

    def read_into(self, out: np.ndarray) -> Block:
        """Fills out (int32 [n, channels], C order) with the next n scans; a Block whose raw is out."""
        rows, scans, gaps = self._core.read_into(out)
        gaps, self._pending = self._pending + gaps, []
        return Block(self, out[:rows], scans[:rows], gaps)

    def read_available(self, max_scans: int = 0) -> Block:
        """What has come so far (maybe no scans), without waiting: for a live plot."""
        block = self._next(max_scans, 0.0)
        if isinstance(block, Block):
            return block
        return self._block(np.empty((0, len(self.channels)), dtype=np.int32), 0)

    def stop(self) -> None:
        """Stops the acquisition; the scans already queued can still be read."""
        self._core.stop()

    def __enter__(self) -> "Scan":
        return self

    def __exit__(self, *exc) -> None:
        self.stop()

    def __iter__(self) -> Iterator[Block]:
        return self.blocks()


class Board:
    """An open board; made by queno.open. A context manager: closed at the end of the `with` block,
    and the driver unloaded with the last open board."""

    def __init__(self, core):
        self._core = core

    id = property(lambda self: self._core.id, doc="The board's id (0, 1, ...).")
    model = property(lambda self: self._core.model, doc="The board's model, e.g. QUENO-1600-UNIV.")
    serial = property(lambda self: self._core.serial, doc="The board's serial number.")
    path = property(lambda self: self._core.path, doc="The driver's name for the board: BoardID<n>.")
    resolution = property(lambda self: self._core.resolution, doc="Bits of a sample.")

    def scan(self, channels: Union[str, Sequence[str]], rate: float = 1000.0, on_overflow: str = "restart",
             keep_limits: bool = False) -> Scan:
        """Configures the inputs and starts their acquisition.

        channels: queno_log's CHANNEL syntax, e.g. ["AI0:rtd", "AI2:voltage,Range=-1..1 V"]
        rate: scans per second asked for (the driver may settle on another; see Scan.rate)
        on_overflow: "restart" (scans lost are a gap in the next block) or "raise" (BufferOverflow)
        keep_limits: a sample at a limit of its range keeps its value instead of NaN
        """
        if isinstance(channels, str):
            channels = [channels]
        if not isinstance(channels, Sequence) or not all(isinstance(c, str) for c in channels):
            raise TypeError('channels must be a CHANNEL text or a list of them, e.g. ["AI0:rtd", "AI1:pt100"]')
        if on_overflow not in ("restart", "raise"):
            raise ValueError('on_overflow must be "restart" or "raise"')
        return Scan(self._core.scan(list(channels), float(rate), bool(keep_limits), on_overflow == "raise"))

    def close(self) -> None:
        """Stops a running scan and closes the board."""
        self._core.close()

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<queno.Board {self.id} {self.model} {self.serial}>"


def open(board: Union[int, str] = 0) -> Board:  # noqa: A001 - queno.open is the package's word
    """Opens a board by its id (0, 1, ...) or, given a string, by its serial number."""
    if isinstance(board, bool) or not isinstance(board, (int, str)):
        raise TypeError("board must be an id (int) or a serial number (str)")
    if isinstance(board, int):
        if board < 0:
            raise ValueError("a board id is 0 or more")
        return Board(_queno.open(board, ""))
    serial = board[len("serial:"):] if board.startswith("serial:") else board
    return Board(_queno.open(0, serial))
