"""What the module's tests share: the commands beside the module, and bars to store."""
import os
import subprocess

import numpy as np
import pytest

import quelm

T0 = 1_796_623_260_000  # 2026-12-07T06:01:00Z in milliseconds


def command(name):
    """The path of a command of this build, given by CTest in QUELM_<NAME>."""
    path = os.environ.get("QUELM_" + name.upper().replace("QUELM-", ""))
    if not path:
        pytest.skip(f"{name} not given")
    return path


def run(*arguments, timeout=60):
    return subprocess.run(arguments, capture_output=True, text=True, timeout=timeout, check=False)


def bars(count, start=0):
    """Bars whose every field tells its place i: time T0 + i minutes, low i, open i + 0.25,
    close i + 0.375, high i + 0.5, volume 10 i."""
    made = np.zeros(count, dtype=quelm.bar_dtype)
    places = np.arange(start, start + count)
    made["time"] = (T0 + places * 60_000).astype("datetime64[ms]")
    for name, (add, times) in {"open": (0.25, 1), "high": (0.5, 1), "low": (0, 1),
                               "close": (0.375, 1), "volume": (0, 10)}.items():
        made[name] = places * times + add
    return made


@pytest.fixture
def filled(tmp_path):
    """A closed file with room for 4 bars holding bars 0 and 1."""
    path = tmp_path / "bars.qdf"
    with quelm.create(path, 4) as file:
        file.append(bars(2))
        file.flush()
    return path
