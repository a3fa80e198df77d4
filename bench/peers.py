"""The tools the benchmark runs beside the program: the floors (reading the file,
the program's reader alone) and the peers a user would otherwise pick; their
commands, which of them this machine has, and the order-free comparison of
their outputs (bench/count_digest).
"""

import shlex
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

from data_sets import DataSet

BENCH_DIR = Path(__file__).resolve().parent


@dataclass(frozen=True)
class Tool:
    title: str
    digest_format: str = ""   # how its lines hold a record, for count_digest
    ordered: bool = False     # its records come in pattern order


TOOLS = {
    "cat": Tool("cat > /dev/null"),
    "parse": Tool("parse-only pass"),
    "write": Tool("writing the output from memory"),
    "program": Tool("aggregate", "program", True),
    "baseline": Tool("aggregate (baseline)", "program", True),
    "sort": Tool("sort | uniq -c", "first"),
    "sortkeys": Tool("sort -n keys | uniq -c", "first", True),
    "python": Tool("python Counter", "last", True),
    "awk": Tool("awk hash | sort -n keys", "first", True),
    "duckdb": Tool("DuckDB", "last", True),
    "pandas": Tool("pandas", "last", True),
}
FLOORS = ("cat", "parse", "write")
# The program, and an earlier build of it run beside it (--baseline).
PROGRAMS = ("program", "baseline")
PANDAS_PYTHONS = (sys.executable, "/usr/bin/python3")


def is_peer(tool: str) -> bool:
    return tool not in PROGRAMS and tool not in FLOORS


def sort_keys(nvars: int, first_field: int) -> str:
    """Numeric keys, last variable first; variables start at field first_field."""
    return " ".join(f"-k{f},{f}n" for f in range(first_field + nvars - 1, first_field - 1, -1))


def pandas_python() -> Optional[str]:
    """The first Python that can import pandas (Debian's is seen by /usr/bin/python3)."""
    for python in PANDAS_PYTHONS:
        probe = subprocess.run([python, "-c", "import pandas"], capture_output=True)
        if probe.returncode == 0:
            return python
    return None


def missing_peers() -> dict:
    """The optional peers this machine lacks, each with a note saying why."""
    missing = {}
    try:
        probe = subprocess.run(["node", str(BENCH_DIR / "peer_duckdb.js"), "--version"],
                               capture_output=True, text=True)
        if probe.returncode != 0:
            missing["duckdb"] = "DuckDB's Node package is not installed (bench/install_peers)"
    except FileNotFoundError:
        missing["duckdb"] = "node is not installed"
    if pandas_python() is None:
        missing["pandas"] = ("no Python here imports pandas (bench/install_peers installs "
                             "Debian's python3-pandas)")
    return missing


def command(tool: str, data_set: DataSet, data_name: str, floors: dict, pandas: Optional[str],
            out_name: str) -> list:
    """The argv of a floor or a peer, run in the data directory; a peer's records go
    to standard output, the writing floor's bytes to `out_name`. `floors` holds the
    floors' programs: parse_only and write_only."""
    quoted = shlex.quote(data_name)
    nvars = str(data_set.nvars)
    if tool == "cat":
        return ["cat", data_name]
    if tool == "parse":
        return [str(floors["parse"]), data_name, str(data_set.ncases), nvars]
    if tool == "write":
        return [str(floors["write"]), out_name, str(data_set.output_bytes())]
    if tool == "python":
        return [sys.executable, str(BENCH_DIR / "peer_counter.py"), data_name, nvars]
    if tool == "duckdb":
        return ["node", str(BENCH_DIR / "peer_duckdb.js"), data_name, nvars]
    if tool == "pandas":
        return [pandas, str(BENCH_DIR / "peer_pandas.py"), data_name, nvars]
    pipeline = {
        "sort": f"sort {quoted} | uniq -c",
        "sortkeys": f"sort -t ' ' {sort_keys(data_set.nvars, 1)} {quoted} | uniq -c",
        # awk puts the count first, so the variables start at field 2.
        "awk": "awk '{ c[$0]++ } END { for (k in c) print c[k], k }' " + quoted
               + f" | sort -t ' ' {sort_keys(data_set.nvars, 2)}",
    }[tool]
    return ["sh", "-c", pipeline]


@dataclass
class Digest:
    records: int = 0
    cases: int = 0
    digest: str = ""
    order: str = "-"
    problem: str = ""


def digest_output(digester: Path, tool: str, nvars: int, path: Path) -> Digest:
    run = subprocess.run([str(digester), TOOLS[tool].digest_format, str(nvars), str(path)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return Digest(problem=run.stderr.strip()[:300])
    fields = run.stdout.split()
    return Digest(int(fields[1]), int(fields[3]), fields[5], " ".join(fields[7:]))


def agreement(digests: dict, ncases: int) -> list:
    """Problems found: tools whose records differ from the majority's, records
    out of pattern order where a tool gives that order, counts that miss cases."""
    problems = [f"{TOOLS[tool].title}: {d.problem}" for tool, d in digests.items() if d.problem]
    good = {t: d for t, d in digests.items() if not d.problem}
    votes = {}
    for d in good.values():
        votes[(d.records, d.digest)] = votes.get((d.records, d.digest), 0) + 1
    if votes:
        majority = max(votes, key=votes.get)
        for tool, d in good.items():
            if (d.records, d.digest) != majority:
                problems.append(f"{TOOLS[tool].title}: {d.records:,} records, digest {d.digest}, "
                                f"the majority {majority[0]:,} records, digest {majority[1]}")
    for tool, d in good.items():
        if TOOLS[tool].ordered and d.order not in ("ascending", "unknown"):
            problems.append(f"{TOOLS[tool].title}: records not in pattern order ({d.order})")
        # aggregate's counts may hide behind asterisks.
        if d.cases != ncases and tool not in PROGRAMS:
            problems.append(f"{TOOLS[tool].title}: counts add up to {d.cases:,}, not {ncases:,}")
    return problems
