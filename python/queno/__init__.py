"""QUENO boards from Python: the boards' inventory, scans into numpy arrays, and queno_log's
recordings into numpy and pandas.

    import queno
    for b in queno.boards():
        print(b.id, b.model, b.serial, [i.name for i in b.inputs])
    with queno.open(0) as board:
        with board.scan(["AI0:rtd", "AI1:pt100"], rate=1000) as scan:
            for block in scan.blocks():     # block.raw, .values, .times, .scans, .gap
                ...
            block = scan.read(5000)         # exactly 5000 scans
    rec = queno.read("run.csv")             # or "run.sigmf-meta"
    rec.values, rec.times, rec.to_pandas()

Without a board, run the script on the simulated driver: queno-sim python3 script.py.
Errors are queno.Error (text, code) and its subclasses DriverNotFound, BoardNotFound,
SettingRefused and BufferOverflow.
"""

import atexit as _atexit

from .errors import BoardNotFound, BufferOverflow, DriverNotFound, Error, SettingRefused
from .recording import AlarmEvent, Alarms, Channel, Collection, Gap, Recording, read

__version__ = "1.2.0"
__all__ = ["AlarmEvent", "Alarms", "Channel", "Collection", "Gap", "Recording", "read", "Error", "DriverNotFound", "BoardNotFound", "SettingRefused",
           "BufferOverflow", "__version__"]

try:
    from . import _queno
except ImportError as _missing:  # built without pybind11: recordings only
    _why = str(_missing)

    def boards():
        raise Error("this queno was built without its board module (" + _why + "): it reads recordings only")

    open = boards  # noqa: A001
else:
    from .board import Block, Board, BoardInfo, Input, Mode, Scan, ScanChannel, Setting, boards, open  # noqa: A001
    __all__ += ["Block", "Board", "BoardInfo", "Input", "Mode", "Scan", "ScanChannel", "Setting"]
    # A scan never stopped or a board never closed: stopped and closed before the interpreter ends.
    _atexit.register(_queno.close_all)
__all__ += ["boards", "open"]
