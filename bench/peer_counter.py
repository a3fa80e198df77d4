#!/usr/bin/env python3
"""Counts response patterns in a data file with a plain Python dictionary.

Reference for timing and for checking results: each line is one case, its values
whole numbers separated by white space. Prints one line per distinct pattern in
ascending pattern order (last variable most significant): the values, then the count.
"""

import argparse
import collections
import sys


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("data", help="data file, one case per line")
    parser.add_argument("-o", "--output", help="result file (default: standard output)")
    parser.add_argument("--nvars", type=int, default=0,
                        help="use only the first NVARS values of each line (default: all)")
    args = parser.parse_args()

    with open(args.data, "rb") as data:
        if args.nvars > 0:
            nvars = args.nvars
            counts = collections.Counter(
                tuple(map(int, line.split()[:nvars])) for line in data)
        else:
            counts = collections.Counter(tuple(map(int, line.split())) for line in data)
    counts.pop((), None)  # blank lines carry no case

    out = open(args.output, "w", encoding="ascii", newline="\n") if args.output else sys.stdout
    try:
        for pattern in sorted(counts, key=lambda p: p[::-1]):
            out.write(" ".join(map(str, pattern)) + " " + str(counts[pattern]) + "\n")
    finally:
        if out is not sys.stdout:
            out.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
