#!/usr/bin/env python3
"""Times quelm-import and quelm-export on a CSV of 10^6 bars and, in the same run, pandas
reading and writing the same CSV; and quelm-import against pandas read_csv with parse_dates on
10^6 bars of the daily-download shape (Date with a time, Open, High, Low, Close, Adj Close,
Volume). Prints the figures and whether the goals hold: the commands faster than pandas at all
three. Each figure is the median of several runs, taken in turn."""
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


def write_csv(path, bars):
    start = 1_796_623_262_345  # 2026-12-07T06:01:02.345Z
    with open(path, "w", encoding="ascii", newline="\n") as file:
        file.write("time,open,high,low,close,volume\n")
        for i in range(bars):
            ms = start + i * 60_000
            stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(ms // 1000))
            price = 100 + (i % 1000) / 7
            file.write(f"{stamp}.{ms % 1000:03d}Z,{price},{price + 1.25},{price - 0.5},"
                       f"{price + 0.1},{(i % 97) * 10.5}\n")


def write_daily_csv(path, bars):
    """The daily-download shape: a Date column with a time and no zone, and an Adj Close."""
    start = 1_704_067_200  # 2024-01-01T00:00:00Z
    with open(path, "w", encoding="ascii", newline="\n") as file:
        file.write("Date,Open,High,Low,Close,Adj Close,Volume\n")
        for i in range(bars):
            stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(start + i * 60))
            price = 100 + (i % 1000) / 7
            file.write(f"{stamp},{price},{price + 1.25},{price - 0.5},{price + 0.1},"
                       f"{price + 0.05},{(i % 97) * 10}\n")


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def run(command, **kwargs):
    subprocess.run(command, check=True, **kwargs)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True, help="folder holding quelm-import and quelm-export")
    parser.add_argument("--folder", default=".", help="where the files go (the disk to measure)")
    parser.add_argument("--bars", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    importer = os.path.join(args.bin, "quelm-import")
    exporter = os.path.join(args.bin, "quelm-export")

    scratch = tempfile.mkdtemp(prefix="csv-vs-pandas-", dir=args.folder)
    try:
        csv = os.path.join(scratch, "bars.csv")
        write_csv(csv, args.bars)
        daily = os.path.join(scratch, "daily.csv")
        write_daily_csv(daily, args.bars)
        qdf = os.path.join(scratch, "0001.qdf")
        out = os.path.join(scratch, "out.csv")
        frame = pd.read_csv(csv, parse_dates=["time"])
        text_frame = pd.read_csv(csv)

        def quelm_import():
            make_data_file(qdf, args.bars)
            return timed(lambda: run([importer, qdf, csv]))

        def quelm_import_daily():
            make_data_file(qdf, args.bars)
            return timed(lambda: run([importer, qdf, daily], stderr=subprocess.DEVNULL))

        def quelm_export():
            with open(out, "wb") as sink:
                return timed(lambda: run([exporter, qdf], stdout=sink))

        ways = {
            "quelm-import": quelm_import,
            "quelm-export": quelm_export,
            "quelm-import, daily shape": quelm_import_daily,
            "pandas read_csv": lambda: timed(lambda: pd.read_csv(csv)),
            "pandas read_csv, times parsed": lambda: timed(
                lambda: pd.read_csv(csv, parse_dates=["time"])),
            "pandas to_csv": lambda: timed(lambda: text_frame.to_csv(out, index=False)),
            "pandas to_csv, times formatted": lambda: timed(lambda: frame.to_csv(
                out, index=False, date_format="%Y-%m-%dT%H:%M:%S.%fZ")),
            "pandas read_csv, daily, dates": lambda: timed(
                lambda: pd.read_csv(daily, parse_dates=["Date"])),
        }
        seconds = {name: [] for name in ways}
        names = list(ways)
        for turn in range(args.runs):
            # quelm-import comes before quelm-export: the export reads the file it filled.
            rest = names[3:]
            order = rest[turn % len(rest):] + rest[:turn % len(rest)]
            for name in names[:3] + order:
                seconds[name].append(ways[name]())
        median = {name: statistics.median(values) for name, values in seconds.items()}
    finally:
        shutil.rmtree(scratch)

    print(f"CSV of {args.bars} bars ({os.path.abspath(args.folder)}), "
          f"median of {args.runs} runs, pandas {pd.__version__}:")
    for name, value in median.items():
        print(f"  {name:32s} {value * 1000:8.1f} ms")
    reading = min(median["pandas read_csv"], median["pandas read_csv, times parsed"])
    writing = min(median["pandas to_csv"], median["pandas to_csv, times formatted"])
    read_ratio = median["quelm-import"] / reading
    write_ratio = median["quelm-export"] / writing
    daily_ratio = median["quelm-import, daily shape"] / median["pandas read_csv, daily, dates"]
    holds = read_ratio < 1 and write_ratio < 1 and daily_ratio < 1
    print(f"  quelm-import / pandas' quicker read = {read_ratio:.2f}, "
          f"quelm-export / pandas' quicker write = {write_ratio:.2f}, "
          f"daily shape: quelm-import / pandas read_csv with parse_dates = {daily_ratio:.2f}")
    print(f"  goal: the commands faster than pandas at all three (< 1): "
          f"{'holds' if holds else 'MISSED'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
