"""Runs the numpy recipe of docs/data-file-format.md as written, in the folder of a data file
named 0001.qdf, and prints what it read: one line a bar, the time in milliseconds, the prices
and volume as exact hexadecimal doubles, and the time as numpy shows it."""
import os
import re
import sys

doc, folder = sys.argv[1], sys.argv[2]
with open(doc, encoding="utf-8") as page:
    blocks = re.findall(r"^```python\n(.*?)^```", page.read(), re.S | re.M)
if len(blocks) != 1:
    sys.exit(f"expected one python block in {doc}, found {len(blocks)}")
os.chdir(folder)
recipe = {}
exec(compile(blocks[0], doc, "exec"), recipe)
bars, times = recipe["bars"], recipe["times"]
for i in range(len(bars)):
    values = [float(bars[name][i]).hex() for name in ("open", "high", "low", "close", "volume")]
    print(int(bars["time"][i]), *values, times[i])
