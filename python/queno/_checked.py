"""What a recording's reader takes from a file it cannot trust: a regular file only (a FIFO never
blocks, /dev/zero is never read for ever), metadata within 32 MiB, and fields of the types and
within the bounds queno_log writes, refused with the field's name otherwise. queno_convert holds
the same rules, word for word, so both readers take and refuse the same files."""

import json
import math
import os
import stat

LATEST_US = 253402300799999999  # 9999-12-31T23:59:59.999999Z
MAX_SCAN = 1 << 62
MAX_METADATA_BYTES = 32 << 20


class Refusal(ValueError):
    """What the metadata lacks or holds wrongly."""


def open_regular(path: str):
    """A binary file object of a regular file; OSError for anything else."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | os.O_NOCTTY)
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise OSError(f"cannot read {path}: not a regular file")
        os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


def _no_constant(name):
    raise ValueError(f"{name} is not a JSON number")


def load_metadata(path: str):
    with open_regular(path) as f:
        data = f.read(MAX_METADATA_BYTES + 1)
    if len(data) > MAX_METADATA_BYTES:
        raise ValueError(f"{path}: more than 32 MiB: not the metadata of a SigMF recording of queno_log")
    try:
        meta = json.loads(data.decode("utf-8"), parse_constant=_no_constant)
    except (ValueError, RecursionError):
        raise ValueError(f"{path} is not JSON: not the metadata of a SigMF recording") from None
    if not isinstance(meta, dict):
        raise ValueError(f"{path} is JSON, but not a SigMF metadata object")
    return meta


def field(obj, name):
    if not isinstance(obj, dict) or name not in obj:
        raise Refusal(f'no "{name}"')
    return obj[name]


def text(obj, name) -> str:
    value = field(obj, name)
    if not isinstance(value, str):
        raise Refusal(f'"{name}" is not a text')
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in value):  # would forge lines of a CSV
        raise Refusal(f'"{name}" holds a line break or another control character')
    return value


def whole(obj, name, low, high) -> int:
    value = field(obj, name)
    if not isinstance(value, int) or isinstance(value, bool) or not low <= value <= high:
        raise Refusal(f'"{name}" is not a whole number from {low} to {high}')
    return value


def count(obj, name) -> int:
    return whole(obj, name, 0, MAX_SCAN)


def utc_us(obj, name) -> int:
    return whole(obj, name, 0, LATEST_US)


def real(obj, name) -> float:
    value = field(obj, name)
    if not isinstance(value, (int, float)) or isinstance(value, bool) or not math.isfinite(value):
        raise Refusal(f'"{name}" is not a number')
    return value


def side(obj) -> int:
    value = text(obj, "side")
    if value not in ("over", "under"):
        raise Refusal(f'a limit\'s side is "{value}", not over or under')
    return 1 if value == "over" else -1


def array(obj, name, what) -> list:
    value = field(obj, name)
    if not isinstance(value, list):
        raise Refusal(f'"{name}" {what}')
    return value
