"""The benchmark's data sets, the shape sweep, the targets the program is held to
on each, and the data files themselves (made by bench/generate_data, then reused).
"""

import math
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

MIB = 1024 * 1024
SEED = 1

# The peers a set runs besides the program and the floors (see peers.py).
ALL_PEERS = ("sort", "sortkeys", "python", "awk", "duckdb", "pandas")
WIDE_PEERS = ("sort", "sortkeys", "awk", "duckdb", "pandas")
SHAPE_PEERS = ("sort", "awk", "duckdb", "pandas")

# Targets: the program's lead over the fastest peer (its time / the program's).
SHAPE_LEAD = 1.2            # every shape of the sweep and the repeated sets E and F
REPEATED_WIDE_LEAD = 2.0    # the same shapes, repeated patterns of 20 variables or more
FLOOR_RATIO = 2.0           # repeated patterns: program / parse-only pass at most this
OUTPUT_FLOOR_RATIO = 2.0    # distinct patterns: program / (parse-only + writing the output) at most this
SORT_LEAD = 1.5             # distinct patterns: sort | uniq -c's time / the program's at least this
BASELINE_NOISE = 1.1        # repeated patterns: the program's time / the baseline's at most this


def shape_lead(nvars: int, npatterns: int) -> float:
    return REPEATED_WIDE_LEAD if npatterns and nvars >= 20 else SHAPE_LEAD


@dataclass(frozen=True)
class DataSet:
    name: str
    ncases: int
    nvars: int
    nvalues: int      # values low..low+nvalues-1
    npatterns: int    # 0: every value random
    peers: tuple = ALL_PEERS
    low: int = 0
    lead: Optional[float] = None  # the lead over the fastest peer it must reach

    def file_name(self) -> str:
        values = (f"k{self.nvalues}" if not self.low
                  else "int32" if (self.low, self.nvalues) == (-(1 << 31), 1 << 32)
                  else f"k{self.nvalues}_l{self.low}")
        return f"n{self.ncases}_v{self.nvars}_{values}_d{self.npatterns}_s{SEED}.txt"

    def describe(self) -> str:
        drawn = (f"drawn from {self.npatterns:,} patterns" if self.npatterns
                 else "each value random")
        return (f"{self.ncases:,} cases x {self.nvars} variables, "
                f"values {self.low}..{self.low + self.nvalues - 1}, {drawn}")

    def expected_records(self) -> float:
        """The distinct patterns expected, one pattern record each."""
        if self.npatterns:
            return float(min(self.npatterns, self.ncases))
        # Cases drawn from `space` equally likely patterns, some of them alike.
        log_space = self.nvars * math.log(self.nvalues)
        if log_space > math.log(self.ncases) + 40:
            return float(self.ncases)
        space = math.exp(log_space)
        return -space * math.expm1(self.ncases * math.log1p(-1 / space))

    def distinct(self) -> bool:
        """Whether nearly every case has a pattern of its own."""
        return self.expected_records() >= 0.9 * self.ncases

    def output_bytes(self) -> int:
        """The pattern file's expected size: three characters a value, a blank,
        six for the count and CR LF a record."""
        return round(self.expected_records()) * (3 * self.nvars + 9)

    def matrix_bytes(self) -> int:
        return self.ncases * self.nvars * 4

    def memory_bound(self) -> int:
        """What the program may hold: the case matrix, 8 bytes a case, 16 MiB else."""
        return self.matrix_bytes() + 8 * self.ncases + 16 * MIB


FULL_SETS = {
    "A": DataSet("A", 1_000_000, 20, 5, 5000),
    "B": DataSet("B", 1_000_000, 20, 5, 0),
    "C": DataSet("C", 5_000_000, 10, 3, 0),
    "D": DataSet("D", 10_000_000, 20, 5, 5000),
    # The repeated-pattern shapes of 24 MB where the file's reading is most of the work.
    "E": DataSet("E", 40_000, 300, 5, 1000, SHAPE_PEERS, lead=shape_lead(300, 1000)),
    "F": DataSet("F", 600_000, 20, 5, 1000, SHAPE_PEERS, lead=shape_lead(20, 1000)),
    "W": DataSet("W", 2_000_000, 30, 5, 0, WIDE_PEERS, lead=2.5),
    "X": DataSet("X", 200_000, 300, 10, 0, SHAPE_PEERS, lead=1.5),
    "R": DataSet("R", 10_000_000, 20, 5, 0, SHAPE_PEERS, lead=2.5),
    # The packed ordering's reference for W: as many cases, keys of 60 bits.
    "P": DataSet("P", 2_000_000, 20, 5, 0, ()),
}
# Numbers of cases typed with zeros too many, each against a file of
# MISTYPED_CASES cases whose patterns do not repeat: the run ends at the file's
# end, and should by then hold little more than the cases it read.
MISTYPED_COUNTS = ((1_073_741_823, 1), (536_870_911, 2), (100_000_000, 3))
MISTYPED_CASES = 100_000
MISTYPED_PEAK = 128 * MIB

QUICK_SETS = {name: DataSet(name, min(s.ncases, 20_000), s.nvars, s.nvalues,
                            min(s.npatterns, 500), s.peers, lead=s.lead)
              for name, s in FULL_SETS.items()}

# The shape sweep: every number of variables with every range of values,
# repeated patterns and all drawn at random. The cases make files of about
# SWEEP_BYTES, at most SWEEP_CASES of them.
SWEEP_NVARS = (1, 5, 20, 30, 64, 300)
SWEEP_VALUES = (("0-1", 2, 0), ("0-4", 5, 0), ("0-999", 1000, 0), ("int32", 1 << 32, -(1 << 31)))
SWEEP_PATTERNS = 1000
SWEEP_BYTES = 24 * MIB
SWEEP_CASES = 2_000_000


def sweep_shapes(quick: bool) -> list:
    shapes = []
    for nvars in SWEEP_NVARS:
        for label, nvalues, low in SWEEP_VALUES:
            width = {2: 2, 5: 2, 1000: 4}.get(nvalues, 11.5)  # bytes a value takes in the file
            ncases = int(min(SWEEP_CASES, SWEEP_BYTES / (nvars * width)))
            if quick:
                ncases = min(ncases, 5_000)
            for npatterns in (SWEEP_PATTERNS, 0):
                name = f"v{nvars}-{label}-{'repeated' if npatterns else 'random'}"
                shapes.append(DataSet(name, ncases, nvars, nvalues, npatterns, SHAPE_PEERS, low,
                                      shape_lead(nvars, npatterns)))
    return shapes


def expected_size(data_set: DataSet) -> Optional[int]:
    if data_set.nvalues > 10 or data_set.low != 0:
        return None
    return data_set.ncases * (2 * data_set.nvars + 1)  # one digit and a blank, CR for the last


def ensure_data(generator: Path, data_set: DataSet, data_dir: Path, quiet: bool) -> Path:
    """Generates the data file unless one made with the same arguments is there."""
    path = data_dir / data_set.file_name()
    stamp = path.with_name(path.name + ".made")
    arguments = [str(data_set.ncases), str(data_set.nvars), str(data_set.nvalues),
                 str(data_set.npatterns), str(SEED), str(data_set.low)]
    if path.exists() and stamp.exists():
        made = stamp.read_text().split()
        if made[:-1] == arguments and made[-1] == str(path.stat().st_size):
            if not quiet:
                print(f"  data: reusing {path.name}", flush=True)
            return path
    stamp.unlink(missing_ok=True)
    started = time.perf_counter()
    subprocess.run([str(generator), str(path)] + arguments, check=True)
    size = path.stat().st_size
    want = expected_size(data_set)
    if want is not None and size != want:
        raise RuntimeError(f"{path}: {size} bytes, expected {want}")
    # Written last, so an interrupted run leaves no stamp and is not reused.
    stamp.write_text(" ".join(arguments + [str(size)]) + "\n")
    if not quiet:
        print(f"  data: generated {path.name} in {time.perf_counter() - started:.2f} s",
              flush=True)
    return path


def warm_cache(path: Path) -> None:
    """Reads the file once so that every tool finds it in the page cache."""
    with open(path, "rb", buffering=0) as data:
        while data.read(8 * MIB):
            pass
