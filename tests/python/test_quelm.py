"""The module quelm against the commands and the library's promises, as tables."""
import datetime as dt
import errno
import math
import os
import subprocess
import sys
import time

import numpy as np
import pandas as pd
import pytest

import quelm
from conftest import T0, bars, command, run

LARGEST = sys.float_info.max
NAMES = ("open", "high", "low", "close", "volume")


@pytest.mark.parametrize(
    "values",
    [
        pytest.param((-0.0, 0.0, -0.0, 0.0, -0.0), id="negative zero"),
        pytest.param((5e-324, 2.2250738585072009e-308, 5e-324, 1e-310, 4.9e-324), id="subnormals"),
        pytest.param((LARGEST, LARGEST, -LARGEST, 0.1, LARGEST), id="largest"),
        pytest.param((0.1, 0.30000000000000004, 0.1, 0.2, 1e22), id="inexact decimals"),
    ],
)
def test_round_trip_with_the_commands_is_bit_for_bit(tmp_path, values):
    """What the module appends, quelm-export prints exactly; what quelm-import stores from
    that text, the module reads exactly."""
    stored = bars(2)
    for name, value in zip(NAMES, values):
        stored[name][1] = value
    written = tmp_path / "written.qdf"
    with quelm.create(written, 2) as file:
        file.append(stored)
        file.flush()
    exported = run(command("quelm-export"), str(written))
    assert exported.returncode == 0, exported.stderr
    lines = exported.stdout.splitlines()
    assert lines[0] == "time,open,high,low,close,volume"
    numbers = np.array([[float(n) for n in line.split(",")[1:]] for line in lines[1:]])
    assert numbers.tobytes() == np.stack([stored[n] for n in NAMES], axis=1).tobytes()

    csv = tmp_path / "bars.csv"
    csv.write_text(exported.stdout)
    imported = tmp_path / "imported.qdf"
    quelm.create(imported, 2).close()
    result = run(command("quelm-import"), str(imported), str(csv))
    assert result.returncode == 0, result.stderr
    with quelm.open(imported) as file:
        assert file.read().tobytes() == stored.tobytes()


@pytest.mark.parametrize(
    "damage, number, reason",
    [
        pytest.param(lambda p: p.write_bytes(b"PK" + p.read_bytes()[2:]), None,
                     "it is not a Quelm data file", id="another kind of file"),
        pytest.param(lambda p: p.write_bytes(p.read_bytes()[:40] + b"\1" + p.read_bytes()[41:]),
                     None, "its header is damaged (the checksum does not match)", id="checksum"),
        pytest.param(lambda p: p.write_bytes(p.read_bytes()[:100]), None,
                     "but the file is 100 bytes long", id="cut short"),
        pytest.param(lambda p: p.write_bytes(b""), None, "too short for the header",
                     id="empty"),
        pytest.param(lambda p: p.unlink(), errno.ENOENT, "does not exist", id="missing"),
    ],
)
def test_a_damaged_file_raises_and_names_the_reason(filled, damage, number, reason):
    damage(filled)
    with pytest.raises(quelm.DataFileError) as raised:
        quelm.open(filled)
    assert isinstance(raised.value, OSError)
    assert raised.value.errno == number
    assert str(filled) in str(raised.value) and reason in str(raised.value)


LAST = np.datetime64(T0 + 60_000, "ms")  # the time of the file's last bar, bar 1


def later(minutes):
    return LAST + np.timedelta64(minutes, "m")


def refused(name, batch, error=ValueError, message="", mode="r+"):
    return pytest.param(mode, batch, error, message, id=name)


@pytest.mark.parametrize(
    "mode, batch, error, message",
    [
        refused("not a number", [(later(1), 1, 2, 0, 1, 1), (later(2), math.nan, 2, 0, 1, 1)],
                message=r"bar 1 \(2026-12-07T06:04:00.000Z\): its open, nan, is not a finite"),
        refused("1.8e308 is infinite", [(later(1), 1, 1.8e308, 0, 1, 1)],
                message="its high, inf, is not a finite"),
        refused("time of the last bar", [(LAST, 1, 2, 0, 1, 1)],
                message="not after that of the file's last bar"),
        refused("one past the room", [(later(i), 1, 2, 0, 1, 1) for i in (1, 2, 3)],
                message=r"bar 2 .*the file has room for 2 more bars"),
        refused("time missing", [(np.datetime64("NaT"), 1, 2, 0, 1, 1)], message="missing"),
        refused("time below a millisecond",
                [(later(1) + np.timedelta64(1, "us"), 1, 2, 0, 1, 1)],
                message="smaller than a millisecond"),
        refused("time a float", [(1.5, 1, 2, 0, 1, 1)], TypeError, "not float"),
        refused("three values", [(later(1), 1, 2)], message="not 3 values"),
        refused("opened to read", [(later(1), 1, 2, 0, 1, 1)], quelm.DataFileError, mode="r"),
    ],
)
def test_a_refused_append_leaves_the_file_as_it_was(filled, mode, batch, error, message):
    before = filled.read_bytes()
    with quelm.open(filled, mode) as file:
        with pytest.raises(error, match=message):
            file.append(batch)
        assert len(file) == 2
    assert filled.read_bytes() == before


def same_bars():
    """Bars 2 and 3 of conftest.bars, each way append takes them."""
    wanted = bars(2, start=2)
    times, rows = wanted["time"], [tuple(bar) for bar in wanted.tolist()]
    frame = pd.DataFrame({name: wanted[name] for name in wanted.dtype.names[1:]},
                         index=pd.DatetimeIndex(times, name="time"))
    berlin = frame.tz_localize("UTC").tz_convert("Europe/Berlin")
    reordered = np.zeros(2, dtype=[("volume", "f4"), ("close", "f8"), ("low", "f8"),
                                   ("high", "f8"), ("open", "f8"), ("time", "i8")])
    for name in reordered.dtype.names:
        reordered[name] = wanted[name].astype(reordered.dtype[name])
    zone = dt.timezone(dt.timedelta(hours=-5))
    aware = [dt.datetime.fromtimestamp(t / 1000, zone) for t in times.astype("i8").tolist()]
    return wanted, [
        pytest.param(wanted, id="the bar dtype"),
        pytest.param(reordered, id="other field order and types, times in ms"),
        pytest.param(frame, id="frame, times its index"),
        pytest.param(berlin, id="frame, zoned index"),
        pytest.param(frame.reset_index(), id="frame, times a column"),
        pytest.param(berlin.reset_index(), id="frame, zoned times column"),
        pytest.param([(a,) + r[1:] for a, r in zip(aware, rows)], id="tuples, aware datetimes"),
        pytest.param([(str(t) + "Z",) + r[1:] for t, r in zip(times, rows)], id="tuples, ISO texts"),
        pytest.param([(int(t),) + r[1:] for t, r in zip(times.astype("i8"), rows)], id="tuples, ms"),
    ]


WANTED, WAYS = same_bars()


@pytest.mark.parametrize("given", WAYS)
def test_each_way_append_takes_stores_the_same_bars(filled, given):
    with quelm.open(filled, "r+") as file:
        file.append(given)
        assert file[2:].tobytes() == WANTED.tobytes()


def test_bars_without_volume_get_none(filled):
    with quelm.open(filled, "r+") as file:
        file.append([(later(1), 1, 2, 0, 1)])
        assert file[-1]["volume"] == 0


@pytest.mark.parametrize(
    "stored",
    [
        pytest.param(bars(0), id="empty"),
        pytest.param(bars(3, start=7), id="three bars"),
        pytest.param(np.array([(-86_400_001, 1, 1, 1, 1, 0)], dtype=quelm.bar_dtype),
                     id="before 1970"),
    ],
)
def test_to_pandas_is_indexed_by_utc_times(tmp_path, stored):
    with quelm.create(tmp_path / "bars.qdf", 4) as file:
        file.append(stored)
        frame = file.to_pandas()
    assert isinstance(frame.index, pd.DatetimeIndex)
    assert frame.index.name == "time" and str(frame.index.tz) == "UTC"
    assert str(frame.index.dtype) == "datetime64[ns, UTC]"
    assert list(frame.columns) == ["open", "high", "low", "close", "volume"]
    assert all(str(kind) == "float64" for kind in frame.dtypes)
    assert (frame.index.tz_convert(None).to_numpy() == stored["time"]).all()
    for name in frame.columns:
        assert frame[name].to_numpy().tobytes() == stored[name].tobytes()


def test_to_pandas_refuses_a_time_pandas_cannot_hold(tmp_path):
    with quelm.create(tmp_path / "bars.qdf", 1) as file:
        file.append([(np.datetime64("2300-01-01", "ms"), 1, 1, 1, 1, 0)])
        with pytest.raises(ValueError, match="bar 0 .* outside the years pandas holds"):
            file.to_pandas()


@pytest.mark.parametrize("key", [0, -1, slice(None), slice(1, 99), slice(-2, None),
                                 slice(None, None, 2), slice(None, None, -2), slice(5, 9)])
def test_indexing_is_numpys(tmp_path, key):
    with quelm.create(tmp_path / "bars.qdf", 3) as file:
        file.append(bars(3))
        assert np.array_equal(file[key], bars(3)[key])
        with pytest.raises(IndexError, match="holds 3 bars"):
            file.read(2, 2)


WRITER = """
import sys
import quelm
from conftest import bars
with quelm.open(sys.argv[1], "r+") as file:
    for batch in range(int(sys.argv[2])):
        file.append(bars(int(sys.argv[3]), start=batch * int(sys.argv[3])))
        file.flush()
"""


def test_a_reader_sees_whole_bars_only_while_another_process_appends(tmp_path):
    path = tmp_path / "bars.qdf"
    batches, size = 300, 97
    quelm.create(path, batches * size).close()
    writer = subprocess.Popen([sys.executable, "-c", WRITER, str(path), str(batches), str(size)],
                              cwd=os.path.dirname(__file__))
    seen, deadline = [], time.monotonic() + 120
    try:
        while True:
            done = writer.poll() is not None
            with quelm.open(path) as file:
                read = file.read()
            assert read.tobytes() == bars(len(read)).tobytes()
            seen.append(len(read))
            if done or time.monotonic() > deadline:
                break
    finally:
        writer.kill()
        writer.wait(timeout=30)
    assert writer.returncode == 0
    assert seen == sorted(seen) and seen[-1] == batches * size
