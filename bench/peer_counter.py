#!/usr/bin/env python3
"""Counts response patterns in a data file with a plain Python dictionary.

  peer_counter.py DATA NVARS
Each line is one case, its first NVARS values whole numbers separated by white
space. Prints one line per distinct pattern in ascending pattern order (last
variable most significant): the values, then the count.
"""

import collections
import sys


def main() -> int:
    if len(sys.argv) != 3:
        print("usage: peer_counter.py DATA NVARS", file=sys.stderr)
        return 2
    nvars = int(sys.argv[2])
    with open(sys.argv[1], "rb") as data:
        counts = collections.Counter(tuple(map(int, line.split()[:nvars])) for line in data)
    counts.pop((), None)  # blank lines carry no case
    out = sys.stdout
    for pattern in sorted(counts, key=lambda p: p[::-1]):
        out.write(" ".join(map(str, pattern)) + " " + str(counts[pattern]) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
