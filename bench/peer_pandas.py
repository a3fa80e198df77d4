#!/usr/bin/python3
"""Counts the response patterns of a data file with pandas, as a user of it would.

Reads the whitespace-separated file, groups by every variable and takes the size
of each group; prints one line per pattern, its values and then its count, in
ascending pattern order (the last variable first). pandas is Debian's
python3-pandas (bench/install_peers), seen by /usr/bin/python3.
"""

import sys

import pandas


def main() -> int:
    if len(sys.argv) != 3:
        print("usage: peer_pandas.py DATA NVARS", file=sys.stderr)
        return 2
    data, nvars = sys.argv[1], int(sys.argv[2])
    columns = list(range(nvars))
    frame = pandas.read_csv(data, sep=r"\s+", header=None, usecols=columns)
    counts = frame.groupby(columns[::-1], sort=True).size().reset_index(name="count")
    counts[columns + ["count"]].to_csv(sys.stdout, sep=" ", header=False, index=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
