"""The exceptions of the queno package. Each carries the driver's text and, where a driver call
failed, its result code."""


class Error(Exception):
    """A board, its driver or a scan failed: `text` says what, `code` is the driver's result (0 when
    no driver call failed)."""

    def __init__(self, text: str, code: int = 0):
        super().__init__(text)
        self.text = text
        self.code = code


class DriverNotFound(Error):
    """The QUENO driver (libkvpxi_api.so) could not be loaded. On the simulated driver, run the
    program under queno-sim: `queno-sim python3 script.py`."""


class BoardNotFound(Error):
    """No board with the id or serial number asked for, or the driver finds no board at all."""


class SettingRefused(Error):
    """The board refused a rate or a channel's setting; the text names the setting and, where the
    board lists them, what it takes instead."""


class BufferOverflow(Error):
    """Scans were lost (`gap` says how many and why) and the scan was opened with
    on_overflow="raise"."""

    gap = None
