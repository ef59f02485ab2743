#!/usr/bin/env python3
"""Times, in one run and on one CSV of the daily-download shape (Date with a time, Open, High,
Low, Close, Adj Close, Volume), quelm-import with its flush beside its peers and its floor:
DuckDB's read_csv into a table of a database file with 1 and 2 threads (when its Node package is
there), pandas' read_csv with parse_dates, and quelm-csv-floor, one thread that parses the same
bytes with fast_float, writes the records and flushes them. Each figure is the median of several
whole-process runs, taken in turn. Then quelm-export of those bars beside pandas' to_csv of the
frame it read. Prints the figures and whether the goals hold."""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

import pandas as pd


def make_data_file(path, capacity):
    """A data file with room for `capacity` bars and none stored, as the format page lays out."""
    header = b"QUELMDAT" + struct.pack("<HHIiIQQq12x", 1, 64, 48, 1, 0, capacity, 0, 0)
    header += struct.pack("<I", zlib.crc32(header))
    with open(path, "wb") as file:
        file.write(header)
        file.truncate(64 + 48 * capacity)


def write_daily_csv(path, bars):
    """The daily-download shape: a Date column with a time and no zone, prices in cents, an Adj
    Close to six places and volumes in the millions, as the portals write them."""
    start = 1_704_067_200  # 2024-01-01T00:00:00Z
    with open(path, "w", encoding="ascii", newline="\n") as file:
        file.write("Date,Open,High,Low,Close,Adj Close,Volume\n")
        for i in range(bars):
            stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(start + i * 60))
            price = 100 + (i % 1000) / 7
            file.write(f"{stamp},{price:.2f},{price + 1.25:.2f},{price - 0.5:.2f},"
                       f"{price + 0.1:.2f},{price * 0.987:.6f},{(i % 97) * 12345 + 100000}\n")


def timed(command, before=None):
    """Seconds that `command` takes as a process of its own; `before` runs first, untimed."""
    if before:
        before()
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def removed(path):
    return lambda: os.path.exists(path) and os.remove(path)


def duckdb_script(modules):
    """The DuckDB script, or None with why it is left out."""
    if not modules or not os.path.isdir(os.path.join(modules, "@duckdb", "node-api")):
        return None, "DuckDB left out: @duckdb/node-api is not installed (make bench-csv " \
                     "installs it with npm, when npm is there)"
    if not shutil.which("node"):
        return None, "DuckDB left out: no node to run it"
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "duckdb-read-csv.mjs"), None


def file_system(folder):
    result = subprocess.run(["stat", "-f", "-c", "%T", folder], capture_output=True, text=True)
    return result.stdout.strip() or "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True, help="folder holding quelm-import and quelm-export")
    parser.add_argument("--floor", required=True, help="the quelm-csv-floor program")
    parser.add_argument("--node-modules", help="node_modules folder holding @duckdb/node-api")
    parser.add_argument("--folder", default=".", help="where the files go (the disk to measure)")
    parser.add_argument("--bars", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    importer = os.path.join(args.bin, "quelm-import")
    exporter = os.path.join(args.bin, "quelm-export")
    script, left_out = duckdb_script(args.node_modules)
    load_before = os.getloadavg()

    scratch = tempfile.mkdtemp(prefix="csv-bench-", dir=args.folder)
    try:
        csv = os.path.join(scratch, "daily.csv")
        write_daily_csv(csv, args.bars)
        csv_bytes = os.path.getsize(csv)
        qdf = os.path.join(scratch, "0001.qdf")
        database = os.path.join(scratch, "bars.duckdb")
        records = os.path.join(scratch, "records")
        out = os.path.join(scratch, "out.csv")
        # The file quelm-export reads, filled once.
        exported = os.path.join(scratch, "0002.qdf")
        make_data_file(exported, args.bars)
        subprocess.run([importer, exported, csv], check=True, stderr=subprocess.DEVNULL)
        frame = pd.read_csv(csv, parse_dates=["Date"])

        reading = {"quelm-import (with its flush)": lambda: timed(
            [importer, qdf, csv], lambda: make_data_file(qdf, args.bars))}
        if script:
            for threads in (2, 1):
                reading[f"DuckDB read_csv into a table, {threads} thread{'s' * (threads > 1)}"] = (
                    lambda threads=threads: timed(
                        ["node", script, args.node_modules, csv, database, str(threads)],
                        removed(database)))
        reading["pandas read_csv with parse_dates"] = lambda: timed(
            [sys.executable, "-c",
             "import sys, pandas; pandas.read_csv(sys.argv[1], parse_dates=['Date'])", csv])
        reading["floor: one thread, fast_float, write, flush"] = lambda: timed(
            [args.floor, csv, records], removed(records))

        def export():
            with open(out, "wb") as sink:
                start = time.perf_counter()
                subprocess.run([exporter, exported], check=True, stdout=sink)
                return time.perf_counter() - start

        def pandas_write():
            start = time.perf_counter()
            frame.to_csv(out, index=False, date_format="%Y-%m-%d %H:%M:%S")
            return time.perf_counter() - start

        writing = {"quelm-export": export, "pandas to_csv (in its process)": pandas_write}
        ways = {**reading, **writing}
        seconds = {name: [] for name in ways}
        names = list(ways)
        for turn in range(args.runs):
            for name in names[turn % len(names):] + names[:turn % len(names)]:
                seconds[name].append(ways[name]())
        median = {name: statistics.median(values) for name, values in seconds.items()}
        kind = file_system(scratch)
    finally:
        shutil.rmtree(scratch)

    load_after = os.getloadavg()
    print(f"CSV of {args.bars} bars of the daily-download shape ({csv_bytes / 1e6:.0f} MB) on "
          f"{kind} ({os.path.abspath(args.folder)}), median of {args.runs} whole-process runs, "
          f"pandas {pd.__version__}; load average {load_before[0]:.2f} before, "
          f"{load_after[0]:.2f} after, {os.cpu_count()} cores:")
    print(f"  {'':48s} {'time':>9s} {'/ floor':>8s}")
    floor = median["floor: one thread, fast_float, write, flush"]
    for name in reading:
        print(f"  {name:48s} {median[name]:8.2f}s {median[name] / floor:8.2f}")
    if left_out:
        print(f"  ({left_out})")
    print(f"  {'quelm-export':48s} {median['quelm-export']:8.2f}s")
    print(f"  {'pandas to_csv (in its process, the read left out)':48s} "
          f"{median['pandas to_csv (in its process)']:8.2f}s")

    ours = median["quelm-import (with its flush)"]
    peers = [name for name in reading if not name.startswith(("quelm", "floor"))]
    goals = [
        ("quelm-import within 1.2x of the floor", ours <= 1.2 * floor),
        ("quelm-import ahead of every peer", all(ours < median[name] for name in peers)),
        ("quelm-import below the floor (both cores)", ours < floor),
        ("quelm-export ahead of pandas to_csv",
         median["quelm-export"] < median["pandas to_csv (in its process)"]),
    ]
    for goal, holds in goals:
        print(f"  goal: {goal}: {'holds' if holds else 'MISSED'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
