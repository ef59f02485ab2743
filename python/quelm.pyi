"""Quelm's data files of time-series bars as numpy arrays and pandas frames, read and written
through the data file library."""

import os
from datetime import datetime
from pathlib import Path
from types import TracebackType
from typing import Any, Literal, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str
bar_dtype: np.dtype[np.void]
"""time (datetime64[ms]), open, high, low, close, volume (float64): a bar as stored."""

_Mode = Literal["r", "r+", "x"]
_Time = Union[datetime, np.datetime64, str, int]
_Bar = Union[Tuple[_Time, float, float, float, float], Tuple[_Time, float, float, float, float, float]]

class DataFileError(OSError):
    """A data file cannot be opened, made, read or written: the library's sentence saying what,
    on which file and why, with the system's errno when one is behind it (else errno is None)."""

class Header:
    """A data file's header."""
    @property
    def number(self) -> int:
        """The file's number in its run (0 for a file made by create)."""
    @property
    def capacity(self) -> int:
        """The bars the file has room for."""
    @property
    def bars(self) -> int:
        """The bars stored, appended ones counted at once."""
    @property
    def state(self) -> Literal["open", "closed"]:
        """'closed' once its writer closed it cleanly, 'open' while it is written or after its
        writer was killed."""
    @property
    def created(self) -> datetime:
        """When the file was made, a datetime in UTC."""

class DataFile:
    """An open data file; use quelm.open or quelm.create. A context manager: leaving the with
    block closes it."""
    @property
    def path(self) -> Path:
        """The file's path."""
    @property
    def mode(self) -> _Mode:
        """'r', 'r+' or 'x'."""
    @property
    def header(self) -> Header:
        """The header as opened, with appended bars counted at once."""
    @property
    def closed(self) -> bool:
        """True once closed."""
    def __len__(self) -> int: ...
    def read(self, first: int = 0, count: Optional[int] = None) -> npt.NDArray[np.void]:
        """Bars first to first + count - 1 (to the last bar when count is None) as an array of
        quelm.bar_dtype. Raises IndexError when they are not all stored."""
    @overload
    def __getitem__(self, key: int) -> np.void: ...
    @overload
    def __getitem__(self, key: slice) -> npt.NDArray[np.void]: ...
    def to_pandas(self) -> Any:
        """All bars as a pandas DataFrame with float64 columns open, high, low, close and
        volume, indexed by a DatetimeIndex in UTC named 'time'."""
    def append(self, bars: Union[npt.NDArray[np.void], Any, Sequence[_Bar]]) -> None:
        """Adds bars after the last one: an array of quelm.bar_dtype or with those fields, a
        pandas DataFrame with those columns (time as a column or as its index), or a sequence
        of (time, open, high, low, close[, volume]) tuples. Times without a zone are UTC;
        integers are milliseconds since 1970. Raises ValueError, having appended none, when a
        bar is unfit: a number not finite, high below low, open or close outside them, volume
        negative, a time not after the one before (or the file's last), or no room left. The
        count on disk follows at flush()."""
    def flush(self) -> None:
        """Makes the bars appended so far survive a power cut: their records reach the disk,
        then their count."""
    def close(self) -> None:
        """Closes the file, counting appended bars on disk without the flush; closing again
        does nothing."""
    def __enter__(self) -> "DataFile": ...
    def __exit__(
        self,
        kind: Optional[type],
        error: Optional[BaseException],
        trace: Optional[TracebackType],
    ) -> None: ...

def open(path: Union[str, os.PathLike[str]], mode: _Mode = "r") -> DataFile:
    """Opens and checks the data file at path: mode 'r' to read, 'r+' to add bars, 'x' to add
    bars holding the writers' lock. Raises DataFileError saying why it cannot."""

def create(
    path: Union[str, os.PathLike[str]], capacity: int, mode: Literal["r+", "x"] = "x"
) -> DataFile:
    """Makes a new data file at path with room for capacity bars, complete before it gets its
    name, and opens it in mode ('x' or 'r+'). Never replaces a file: raises DataFileError
    (errno EEXIST) when path exists, leaving nothing behind."""
