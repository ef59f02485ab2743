#!/usr/bin/env python3
"""Checks the output of `quelm-inspect --json` (one JSON object a line) against the files a run
should have made: exactly the given numbers, each valid, closed, with the given capacity.

Usage: check-files.py <inspect output> <number>:<capacity>...
"""
import json
import sys


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    expected = {}
    for pair in sys.argv[2:]:
        number, capacity = pair.split(":")
        expected[int(number)] = int(capacity)

    with open(sys.argv[1], encoding="utf-8") as output:
        files = [json.loads(line) for line in output if line.strip()]

    problems = []
    seen = {}
    for entry in files:
        if entry.get("valid") is not True:
            problems.append(f"{entry.get('file')}: not valid: {entry.get('error')}")
            continue
        number = entry["number"]
        if number in seen:
            problems.append(f"file number {number} twice: {seen[number]} and {entry['file']}")
        seen[number] = entry["file"]
        if number not in expected:
            problems.append(f"{entry['file']}: file number {number} was not built")
            continue
        if entry["capacity"] != expected[number]:
            problems.append(f"{entry['file']}: capacity {entry['capacity']}, "
                            f"expected {expected[number]}")
        if entry["state"] != "closed":
            problems.append(f"{entry['file']}: state {entry['state']}, expected closed")
    for number in sorted(set(expected) - set(seen)):
        problems.append(f"file number {number} is missing")

    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
