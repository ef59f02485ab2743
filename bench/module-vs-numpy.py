#!/usr/bin/env python3
"""Times the Python module quelm on 10^7 bars against numpy and pandas doing the same with the
same bytes, in one run: f.read() against np.fromfile, f.append + f.flush() against tofile +
os.fsync, and f.to_pandas() against pandas building the same DataFrame from the array. Prints
each figure, the median of several runs taken in turns, and whether its goal holds."""
import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

import numpy as np
import pandas as pd

GOALS = {"read": 1.1, "append": 1.2}  # ours / numpy's, at most
HEADER = 64
NAMES = ("open", "high", "low", "close", "volume")


def made_bars(count):
    bars = np.zeros(count, dtype=quelm.bar_dtype)
    places = np.arange(count)
    bars["time"] = (1_796_623_260_000 + places * 60_000).astype("datetime64[ms]")
    price = 100.0 + (places % 1000) / 8
    bars["open"], bars["high"], bars["low"], bars["close"] = price, price + 1, price - 1, price
    bars["volume"] = places % 50
    return bars


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def median_ratio(runs, ours, theirs):
    """Both ways `runs` times, taking turns at going first; the medians and of their ratios."""
    pairs = []
    for run in range(runs):
        first, second = (ours, theirs) if run % 2 == 0 else (theirs, ours)
        a, b = first(), second()
        pairs.append((a, b) if run % 2 == 0 else (b, a))
    ours_s = statistics.median(p[0] for p in pairs)
    theirs_s = statistics.median(p[1] for p in pairs)
    return ours_s, theirs_s, statistics.median(p[0] / p[1] for p in pairs)


def verdict(name, ratio):
    limit = GOALS[name]
    return f"(goal <= {limit:g}: {'holds' if ratio <= limit else 'MISSED'})"


def measure(folder, bars, runs):
    """The three figures in `folder`: medians of ours, of theirs, and of the ratios."""
    count = len(bars)
    scratch = tempfile.mkdtemp(prefix="module-vs-numpy-", dir=folder)
    made = iter(range(10**9))

    def new_file():
        path = os.path.join(scratch, f"{next(made)}.qdf")
        quelm.create(path, count).close()
        os.sync()
        return path

    try:
        filled = new_file()
        with quelm.open(filled, "r+") as file:
            file.append(bars)
            file.flush()
        reader = quelm.open(filled)
        array = reader.read()

        def append_ours():
            path = new_file()
            with quelm.open(path, "r+") as file:
                seconds = timed(lambda: (file.append(bars), file.flush()))
            os.remove(path)
            return seconds

        def append_numpy():
            path = new_file()
            with open(path, "r+b") as file:
                def write():
                    file.seek(HEADER)
                    bars.tofile(file)
                    file.flush()
                    os.fsync(file.fileno())
                seconds = timed(write)
            os.remove(path)
            return seconds

        figures = {
            "read": median_ratio(
                runs, lambda: timed(reader.read),
                lambda: timed(lambda: np.fromfile(filled, dtype=quelm.bar_dtype, count=count,
                                                  offset=HEADER))),
            "append": median_ratio(runs, append_ours, append_numpy),
            "pandas": median_ratio(
                runs, lambda: timed(reader.to_pandas),
                lambda: timed(lambda: pd.DataFrame(
                    {name: array[name] for name in NAMES},
                    index=pd.DatetimeIndex(array["time"], name="time").tz_localize("UTC")))),
        }
        reader.close()
        return figures
    finally:
        shutil.rmtree(scratch)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--module", required=True, help="folder holding the built module quelm")
    parser.add_argument("--disk", default=".", help="a folder on the disk to measure")
    parser.add_argument("--tmpfs", default="/dev/shm", help="a folder on tmpfs, if there is one")
    parser.add_argument("--bars", type=int, default=10_000_000)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    sys.path.insert(0, os.path.abspath(args.module))
    global quelm
    import quelm  # pylint: disable=import-outside-toplevel

    bars = made_bars(args.bars)
    places = [("disk", args.disk)] + ([("tmpfs", args.tmpfs)] if os.path.isdir(args.tmpfs) else [])
    print(f"Figure 8: the Python module on {args.bars} bars ({args.bars * 48 / 1e6:.0f} MB), "
          f"warm page cache, medians of {args.runs} runs taking turns")
    for name, folder in places:
        read, append, frame = measure(folder, bars, args.runs).values()
        print(f"  {name} ({folder}): f.read() {read[0] * 1e3:.1f} ms, np.fromfile "
              f"{read[1] * 1e3:.1f} ms; ratio = {read[2]:.2f} {verdict('read', read[2])}")
        print(f"  {name} ({folder}): f.append + f.flush() {append[0] * 1e3:.1f} ms, tofile + "
              f"os.fsync {append[1] * 1e3:.1f} ms; ratio = {append[2]:.2f} "
              f"{verdict('append', append[2])}")
        print(f"  {name} ({folder}): f.to_pandas() {frame[0] * 1e3:.1f} ms, pandas from the "
              f"array {frame[1] * 1e3:.1f} ms; ratio = {frame[2]:.2f}")


if __name__ == "__main__":
    main()
