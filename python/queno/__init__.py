"""QUENO boards from Python.

This first part of the package reads recordings of queno_log into numpy (and pandas):

    import queno
    rec = queno.read("run.csv")            # or "run.sigmf-meta", "run.sigmf-data", "run"
    rec.values, rec.raw, rec.times, rec.scans, rec.gaps, rec.channels
    rec.to_pandas()                        # needs pandas

A recording cut by a power failure, or still being written, is read up to its last whole scan.
"""

from .recording import Channel, Gap, Recording, read

__version__ = "1.2.0"
__all__ = ["Channel", "Gap", "Recording", "read", "__version__"]
