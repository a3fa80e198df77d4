#!/usr/bin/env python3
"""Times aggregate against the tools a user would otherwise pick, on generated data.

For each data set: generates the data file (or reuses it), then runs, one after
the other on the same cached file, aggregate and the peers the set names:
  aggregate               answers fed on standard input; phase times taken from
                          the arrival of its progress lines on its stdout pipe
  sort | uniq -c          LC_ALL=C sort of the whole lines (not the pattern order)
  sort -n keys | uniq -c  LC_ALL=C sort, numeric keys from the last variable to the first
  python Counter          bench/peer_counter.py
  awk hash                awk counts identical lines in a hash (in no order)
  awk hash | sort -n keys the distinct lines then ordered with the numeric keys
It prints wall time, peak resident memory and the ratios to aggregate; checks
that all tools give the same records (order-free digests, bench/count_digest)
and that aggregate's come in pattern order; then runs the shape sweep (every
shape beside sort | uniq -c and awk, marking each where a peer is faster)
and ends with the targets, met or not.
"""

import argparse
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
MIB = 1024 * 1024

TOOL_TITLES = {
    "program": "aggregate",
    "sort": "sort | uniq -c",
    "sortkeys": "sort -n keys | uniq -c",
    "python": "python Counter",
    "awk": "awk hash",
    "awksort": "awk hash | sort -n keys",
}
# How each tool's lines hold a record, for bench/count_digest.
DIGEST_FORMATS = {"program": "program", "sort": "first", "sortkeys": "first", "python": "last",
                  "awk": "first", "awksort": "first"}
ORIGINAL_PEERS = ("sortkeys", "python", "awksort")
SWEEP_TOOLS = ("program", "sort", "awk")


@dataclass(frozen=True)
class DataSet:
    name: str
    ncases: int
    nvars: int
    nvalues: int    # values low..low+nvalues-1
    npatterns: int  # 0: every value random
    tools: tuple = ("program", "sort", "sortkeys", "python", "awk", "awksort")
    low: int = 0

    def file_name(self, seed: int) -> str:
        values = (f"k{self.nvalues}" if not self.low
                  else "int32" if (self.low, self.nvalues) == (-(1 << 31), 1 << 32)
                  else f"k{self.nvalues}_l{self.low}")
        return f"n{self.ncases}_v{self.nvars}_{values}_d{self.npatterns}_s{seed}.txt"

    def describe(self) -> str:
        drawn = (f"drawn from {self.npatterns:,} patterns" if self.npatterns
                 else "each value random")
        return (f"{self.ncases:,} cases x {self.nvars} variables, "
                f"values {self.low}..{self.low + self.nvalues - 1}, {drawn}")

    def memory_bound(self) -> int:
        """What the program may hold: the case matrix, 8 bytes a case, 16 MiB else."""
        return self.ncases * self.nvars * 4 + 8 * self.ncases + 16 * MIB


SHAPE_PEERS = ("program", "sort", "sortkeys", "awk")
FULL_SETS = {
    "A": DataSet("A", 1_000_000, 20, 5, 5000),
    "B": DataSet("B", 1_000_000, 20, 5, 0),
    "C": DataSet("C", 5_000_000, 10, 3, 0),
    "D": DataSet("D", 10_000_000, 20, 5, 5000),
    "W": DataSet("W", 2_000_000, 30, 5, 0, SHAPE_PEERS),
    "X": DataSet("X", 200_000, 300, 10, 0, SWEEP_TOOLS),
    "R": DataSet("R", 10_000_000, 20, 5, 0, SWEEP_TOOLS),
    # The packed ordering's reference for W: as many cases, keys of 60 bits.
    "P": DataSet("P", 2_000_000, 20, 5, 0, ("program",)),
}
QUICK_SETS = {name: DataSet(name, min(s.ncases, 20_000), s.nvars, s.nvalues,
                            min(s.npatterns, 500), s.tools)
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
                shapes.append(DataSet(name, ncases, nvars, nvalues, npatterns, SWEEP_TOOLS, low))
    return shapes

# The program reads each name into 40 characters; longer names would be cut.
NAME_LIMIT = 40

# Progress lines of the program, in the order they come.
PHASE_LINES = [
    ("read", b"Reading the data..."),
    ("sort", b"Sorting...."),
    ("write", b"Writing output file..."),
    ("done", b"Done."),
]
PHASE_NAMES = ["dialog", "read", "sort", "write", "close"]


# ---------------------------------------------------------------- running tools

@dataclass
class RunResult:
    tool: str
    wall: float = 0.0
    peak_kib: Optional[int] = None
    ok: bool = False
    problem: str = ""
    phases: dict = field(default_factory=dict)  # program only: phase name -> seconds
    phases_merged: bool = False  # program only: two progress lines came in one read


class Runner:
    """Starts one tool at a time and measures it.

    Peak memory comes from GNU time when it is there: a child started straight
    from this script begins as a copy of it, and the kernel counts that copy in
    the child's peak, which would put a floor of this script's own size under
    every figure.
    """

    def __init__(self, timeout: float, env: dict):
        self.timeout = timeout
        self.env = env
        self.gnu_time = self._find_gnu_time()

    @staticmethod
    def _find_gnu_time() -> Optional[str]:
        path = "/usr/bin/time"
        if not os.access(path, os.X_OK):
            return None
        probe = subprocess.run([path, "-f", "%M", "true"], capture_output=True, text=True)
        lines = probe.stderr.strip().splitlines()
        return path if probe.returncode == 0 and lines and lines[-1].isdigit() else None

    def memory_method(self) -> str:
        if self.gnu_time:
            return "peak resident set size from GNU time (%M) around each tool"
        return ("peak resident set size from wait4 (GNU time missing: figures include "
                "the size of this script at the moment it starts a tool)")

    def run(self, argv: list, cwd: Path, stdin_bytes: Optional[bytes] = None,
            stdout_path: Optional[Path] = None,
            on_output: Optional[Callable[[bytes, float], None]] = None) -> tuple:
        """Runs argv; returns (exit code or -signal, start, end, peak KiB, stderr text),
        start and end on the time.perf_counter clock.

        With on_output, standard output is a pipe and every chunk read from it is
        passed on with the moment it arrived; otherwise it goes to stdout_path.
        """
        with tempfile.TemporaryDirectory(prefix="aggbench-") as scratch:
            scratch_dir = Path(scratch)
            time_file = scratch_dir / "peak"
            err_path = scratch_dir / "stderr"
            full_argv = list(argv)
            if self.gnu_time:
                full_argv = [self.gnu_time, "-f", "%M", "-o", str(time_file)] + full_argv
            with open(err_path, "wb") as err, \
                    open(stdout_path if stdout_path else os.devnull, "wb") as out:
                start = time.perf_counter()
                child = subprocess.Popen(
                    full_argv, cwd=cwd, env=self.env,
                    stdin=subprocess.PIPE if stdin_bytes is not None else subprocess.DEVNULL,
                    stdout=subprocess.PIPE if on_output else out,
                    stderr=err, start_new_session=True)
                killed = threading.Event()
                timer = threading.Timer(self.timeout, self._kill_group, (child.pid, killed))
                timer.start()
                try:
                    if stdin_bytes is not None:
                        try:
                            child.stdin.write(stdin_bytes)  # small: fits the pipe
                            child.stdin.close()
                        except BrokenPipeError:
                            pass
                    if on_output:
                        fd = child.stdout.fileno()
                        while True:
                            chunk = os.read(fd, 65536)
                            arrived = time.perf_counter()
                            if not chunk:
                                break
                            on_output(chunk, arrived)
                        child.stdout.close()
                    _, status, usage = os.wait4(child.pid, 0)
                    end = time.perf_counter()
                except BaseException:
                    # The tools run in their own session, out of reach of the
                    # terminal's interrupt: take them down with this script.
                    self._kill_group(child.pid, killed)
                    child.wait()
                    raise
                finally:
                    timer.cancel()
                child.returncode = os.waitstatus_to_exitcode(status)
            peak = usage.ru_maxrss
            if self.gnu_time:
                peak = self._read_gnu_time(time_file)
            stderr_text = err_path.read_bytes().decode("ascii", "replace")
            if killed.is_set():
                stderr_text = f"killed after {self.timeout:g} s\n" + stderr_text
            return child.returncode, start, end, peak, stderr_text

    @staticmethod
    def _kill_group(pid: int, killed: threading.Event) -> None:
        killed.set()
        try:
            os.killpg(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    @staticmethod
    def _read_gnu_time(path: Path) -> Optional[int]:
        # A failing command gets a line about its status before the figure.
        try:
            lines = path.read_text().strip().splitlines()
        except OSError:
            return None
        return int(lines[-1]) if lines and lines[-1].isdigit() else None


def sort_keys(nvars: int, first_field: int) -> list:
    """Numeric keys, last variable first; variables start at field first_field."""
    return [f"-k{f},{f}n" for f in range(first_field + nvars - 1, first_field - 1, -1)]


def run_program(runner: Runner, program: Path, data_set: DataSet, data_dir: Path,
                data_name: str, out_name: str) -> RunResult:
    result = RunResult("program")
    answers = f"'{data_name}'\n'{out_name}'\n{data_set.ncases}\n{data_set.nvars}\n"
    seen = bytearray()
    marks = {}

    def on_output(chunk: bytes, arrived: float) -> None:
        seen.extend(chunk)
        for phase, text in PHASE_LINES:
            if phase not in marks and text in seen:
                marks[phase] = arrived

    code, start, end, peak, stderr_text = runner.run(
        [str(program)], data_dir, stdin_bytes=answers.encode("ascii"), on_output=on_output)
    result.wall, result.peak_kib = end - start, peak
    if code != 0 or "done" not in marks:
        tail = seen.decode("ascii", "replace").strip().replace("\r\n", " | ")[-300:]
        result.problem = (f"exit status {code}; console: ...{tail}"
                          + (f"; stderr: {stderr_text.strip()[:300]}" if stderr_text.strip() else ""))
        return result
    # Each phase runs from its line to the next; "close" is from "Done." to the
    # end of the process, where the last buffer load of the output is written.
    points = [start] + [marks.get(p) for p, _ in PHASE_LINES] + [end]
    for phase, begin, finish in zip(PHASE_NAMES, points, points[1:]):
        if begin is not None and finish is not None:
            result.phases[phase] = finish - begin
    # Lines that came in one read cannot be told apart in time.
    arrivals = list(marks.values())
    result.phases_merged = len(set(arrivals)) < len(arrivals)
    result.ok = True
    return result


def run_peer(runner: Runner, tool: str, argv: list, data_dir: Path,
             out_path: Path) -> RunResult:
    result = RunResult(tool)
    code, start, end, result.peak_kib, stderr_text = runner.run(
        argv, data_dir, stdout_path=out_path)
    result.wall = end - start
    if code != 0:
        result.problem = f"exit status {code}: {stderr_text.strip()[:300]}"
    else:
        result.ok = True
    return result


def peer_argv(tool: str, data_set: DataSet, data_name: str, sort_parallel: Optional[int]) -> list:
    quoted = shlex.quote(data_name)
    parallel = f" --parallel={sort_parallel}" if sort_parallel else ""
    by_keys = "sort -t ' '" + parallel + " "
    awk_hash = "awk '{ c[$0]++ } END { for (k in c) print c[k], k }' " + quoted
    if tool == "python":
        return [sys.executable, str(BENCH_DIR / "peer_counter.py"), data_name,
                "--nvars", str(data_set.nvars)]
    command = {
        "sort": "sort" + parallel + f" {quoted} | uniq -c",
        "sortkeys": by_keys + " ".join(sort_keys(data_set.nvars, 1)) + f" {quoted} | uniq -c",
        "awk": awk_hash,
        # awk puts the count first, so the variables start at field 2.
        "awksort": awk_hash + " | " + by_keys + " ".join(sort_keys(data_set.nvars, 2)),
    }[tool]
    return ["sh", "-c", command]


# ------------------------------------------------------------- comparing results

@dataclass
class Digest:
    records: int = 0
    cases: int = 0
    digest: str = ""
    order: str = "-"
    problem: str = ""


def digest_output(tool_binary: Path, tool: str, nvars: int, path: Path) -> Digest:
    run = subprocess.run([str(tool_binary), DIGEST_FORMATS[tool], str(nvars), str(path)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return Digest(problem=run.stderr.strip()[:300])
    fields = run.stdout.split()
    return Digest(int(fields[1]), int(fields[3]), fields[5], " ".join(fields[7:]))


def agreement(digests: dict, ncases: int) -> list:
    """Problems found: tools whose records differ from the majority's, an
    aggregate output out of pattern order, counts that miss cases."""
    problems = []
    for tool, d in digests.items():
        if d.problem:
            problems.append(f"{TOOL_TITLES[tool]}: {d.problem}")
    good = {t: d for t, d in digests.items() if not d.problem}
    votes = {}
    for d in good.values():
        votes[(d.records, d.digest)] = votes.get((d.records, d.digest), 0) + 1
    if votes:
        majority = max(votes, key=votes.get)
        for tool, d in good.items():
            if (d.records, d.digest) != majority:
                problems.append(f"{TOOL_TITLES[tool]}: {d.records:,} records, digest {d.digest}, "
                                f"the majority {majority[0]:,} records, digest {majority[1]}")
    program = good.get("program")
    if program and program.order not in ("ascending", "unknown"):
        problems.append(f"aggregate: records not in pattern order ({program.order})")
    for tool, d in good.items():
        if d.cases != ncases and tool != "program":
            problems.append(f"{TOOL_TITLES[tool]}: counts add up to {d.cases:,}, not {ncases:,}")
    return problems


# ---------------------------------------------------------------- data files

def find_tool(name: str, explicit: Optional[str], program: Path, data_dir: Path) -> Path:
    """A bench tool from the build directory, else compiled into the data directory."""
    if explicit:
        return Path(explicit)
    candidates = [program.parent / "bench" / name,
                  REPO_DIR / "build-bench" / "bench" / name,
                  REPO_DIR / "build" / "bench" / name]
    source = BENCH_DIR / f"{name}.cpp"
    for candidate in candidates:
        if os.access(candidate, os.X_OK) and \
                candidate.stat().st_mtime >= source.stat().st_mtime:
            return candidate
    built = data_dir / name
    if not os.access(built, os.X_OK) or built.stat().st_mtime < source.stat().st_mtime:
        compiler = os.environ.get("CXX", "c++")
        print(f"building {built} with {compiler}", flush=True)
        subprocess.run([compiler, "-O2", "-std=c++20", "-o", str(built), str(source)],
                       check=True)
    return built


def expected_size(data_set: DataSet) -> Optional[int]:
    if data_set.nvalues > 10 or data_set.low != 0:
        return None
    return data_set.ncases * (2 * data_set.nvars + 1)  # one digit and a blank, CR for the last


def ensure_data(generator: Path, data_set: DataSet, data_dir: Path, seed: int,
                quiet: bool = False) -> Path:
    """Generates the data file unless one made with the same arguments is there."""
    path = data_dir / data_set.file_name(seed)
    stamp = path.with_name(path.name + ".made")
    arguments = [str(data_set.ncases), str(data_set.nvars), str(data_set.nvalues),
                 str(data_set.npatterns), str(seed), str(data_set.low)]
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


# ---------------------------------------------------------------- one data set

@dataclass
class SetOutcome:
    data_set: DataSet
    results: dict          # tool -> RunResult
    problems: list         # disagreements and failures

    def wall(self, tool: str) -> Optional[float]:
        r = self.results.get(tool)
        return r.wall if r and r.ok else None

    def fastest_peer(self, peers=None) -> Optional[tuple]:
        walls = [(self.wall(t), t) for t in self.results if t != "program"
                 and (peers is None or t in peers) and self.wall(t) is not None]
        return min(walls) if walls else None

    def within_memory(self) -> Optional[bool]:
        r = self.results.get("program")
        if not r or r.peak_kib is None:
            return None
        return r.peak_kib * 1024 <= self.data_set.memory_bound()


def run_set(data_set: DataSet, args, runner: Runner, program: Path, data_dir: Path,
            generator: Path, digester: Path, quiet: bool = False) -> SetOutcome:
    data_path = ensure_data(generator, data_set, data_dir, args.seed, quiet)
    data_name = data_path.name
    if len(data_name) > NAME_LIMIT:
        raise SystemExit(f"{data_name}: longer than {NAME_LIMIT} characters")
    if not quiet:
        print(f"  file: {data_path} ({data_path.stat().st_size / MIB:,.1f} MiB)")
    warm_cache(data_path)
    tools = [t for t in data_set.tools if t in args.tool_list]
    outputs = {t: data_dir / f"out_{data_set.name}_{t}.txt" for t in tools}
    results = {}
    for tool in tools:
        runs = []
        for _ in range(args.repeat):
            outputs[tool].unlink(missing_ok=True)
            if tool == "program":
                r = run_program(runner, program, data_set, data_dir, data_name, outputs[tool].name)
            else:
                r = run_peer(runner, tool, peer_argv(tool, data_set, data_name, args.sort_parallel),
                             data_dir, outputs[tool])
            runs.append(r)
            if not r.ok:
                break
        # The fastest run, with the highest peak of all runs.
        best = runs[-1] if not runs[-1].ok else min(runs, key=lambda x: x.wall)
        peaks = [x.peak_kib for x in runs if x.peak_kib is not None]
        best.peak_kib = max(peaks) if peaks else None
        results[tool] = best
        if not quiet:
            print(f"  ran {TOOL_TITLES[tool]}: {best.wall:.3f} s", flush=True)
    problems = [f"{TOOL_TITLES[t]} FAILED: {r.problem}" for t, r in results.items() if not r.ok]
    digests = {t: digest_output(digester, t, data_set.nvars, outputs[t])
               for t, r in results.items() if r.ok}
    if len(digests) >= 2 or "program" in digests:
        problems += agreement(digests, data_set.ncases)
    if not args.keep_outputs:
        for path in outputs.values():
            path.unlink(missing_ok=True)
    return SetOutcome(data_set, results, problems)


# ---------------------------------------------------------------- reporting

def machine_state() -> str:
    load = Path("/proc/loadavg").read_text().split()[:3]
    cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    available = ""
    try:
        for line in Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemAvailable:"):
                available = f", memory available {int(line.split()[1]) // 1024:,} MiB"
    except OSError:
        pass
    return f"load average {' '.join(load)}, nproc {cpus}{available}"


def mib(kib: Optional[int]) -> str:
    return f"{kib / 1024:9.1f}" if kib is not None else f"{'?':>9}"


def ratio(peer: Optional[float], base: Optional[float]) -> str:
    if peer is None or not base:
        return f"{'-':>7}"
    return f"{peer / base:7.2f}"


def report_set(outcome: SetOutcome) -> None:
    data_set = outcome.data_set
    program = outcome.results.get("program")
    base_wall = program.wall if program and program.ok else None
    base_peak = program.peak_kib if program and program.ok else None
    print(f"  {'tool':<24} {'wall s':>9} {'peak MiB':>9} {'t/prog':>7} {'m/prog':>7}")
    for tool, r in outcome.results.items():
        title = TOOL_TITLES[tool]
        if not r.ok:
            print(f"  {title:<24} {r.wall:9.3f} {mib(r.peak_kib)}   FAILED: {r.problem}")
            continue
        print(f"  {title:<24} {r.wall:9.3f} {mib(r.peak_kib)} {ratio(r.wall, base_wall)} "
              f"{ratio(r.peak_kib, base_peak)}")
        if tool == "program":
            shown = "  ".join(f"{p} {r.phases[p]:.3f}" for p in PHASE_NAMES if p in r.phases)
            merged = "  (some lines came together: phases too short to part)" \
                if r.phases_merged else ""
            print(f"    phases (s): {shown}{merged}")
    within = outcome.within_memory()
    if within is not None:
        print(f"  memory bound ncases*nvars*4 + 8*ncases + 16 MiB = "
              f"{data_set.memory_bound() / MIB:.1f} MiB; aggregate peak "
              f"{mib(program.peak_kib).strip()} MiB: {'within' if within else 'EXCEEDED'}")
    if outcome.problems:
        print("  results: DISAGREE")
        for problem in outcome.problems:
            print(f"    {problem}")
    elif len(outcome.results) >= 2:
        print(f"  results: all {len(outcome.results)} tools give the same records"
              f"{', aggregate in pattern order' if 'program' in outcome.results else ''}")


def report_sweep(outcomes: list) -> int:
    """One line per shape; returns how many shapes a peer won."""
    print(f"\n  {'shape':<26} {'cases':>9} {'aggregate':>9} {'sort|uniq':>9} {'awk':>9} "
          f"{'lead':>6} {'peak MiB':>9}  memory  agree")
    marked = 0
    for o in outcomes:
        prog = o.wall("program")
        fastest = o.fastest_peer()
        lead = fastest[0] / prog if prog and fastest else None
        peer_faster = prog is None or (fastest is not None and fastest[0] < prog)
        marked += peer_faster
        cells = [f"{o.wall(t):9.3f}" if o.wall(t) is not None else f"{'FAILED':>9}"
                 for t in SWEEP_TOOLS]
        within = o.within_memory()
        print(f"  {o.data_set.name:<26} {o.data_set.ncases:>9,} {' '.join(cells)} "
              f"{lead if lead is None else round(lead, 2):>6} "
              f"{mib(o.results['program'].peak_kib if 'program' in o.results else None)}  "
              f"{'within' if within else 'EXCEEDED' if within is not None else '?':<7} "
              f"{'yes' if not o.problems else 'NO: ' + '; '.join(o.problems)}"
              f"{'   <-- PEER FASTER' if peer_faster else ''}")
    return marked


def report_targets(sets: dict, sweep: Optional[list], marked: int) -> bool:
    """The targets of the sets that ran, met or not; returns whether all were met."""
    print("\nTargets (wall time side by side in this run):")
    checks = []

    def lead_over(name: str, peer: str) -> Optional[float]:
        o = sets.get(name)
        if not o or o.wall("program") is None or o.wall(peer) is None:
            return None
        return o.wall(peer) / o.wall("program")

    def lead_over_fastest(name: str, peers=None) -> Optional[tuple]:
        o = sets.get(name)
        fastest = o.fastest_peer(peers) if o else None
        if not fastest or o.wall("program") is None:
            return None
        return fastest[0] / o.wall("program"), fastest[1]

    def check(text: str, value: Optional[float], needed: float, strictly: bool = False) -> None:
        met = value is not None and (value > needed if strictly else value >= needed)
        shown = f"{value:.2f}" if value is not None else "not run"
        checks.append(met)
        print(f"  {'met    ' if met else 'NOT MET'}  {text}: {shown}")

    for name, peers in (("A", (("sortkeys", 15), ("python", 10), ("awksort", 1))),
                        ("B", (("sortkeys", 10), ("python", 10), ("awksort", 10))),
                        ("C", (("sortkeys", 15), ("awksort", 1))),
                        ("D", (("sortkeys", 15),))):
        if name in sets:
            for peer, needed in peers:
                check(f"{name}: {TOOL_TITLES[peer]} / aggregate >= {needed}"
                      if needed > 1 else f"{name}: {TOOL_TITLES[peer]} / aggregate > 1",
                      lead_over(name, peer), needed, strictly=needed == 1)
    for name, needed in (("W", 2), ("X", 1), ("R", 2)):
        lead = lead_over_fastest(name)
        if name in sets:
            text = (f"{name}: fastest peer ({TOOL_TITLES[lead[1]] if lead else '-'}) / aggregate "
                    + (f">= {needed}" if needed > 1 else "> 1"))
            check(text, lead[0] if lead else None, needed, strictly=needed == 1)
    for name, o in sets.items():
        peer = o.fastest_peer()
        if name not in ("P",) and peer:
            check(f"{name}: no peer faster (fastest peer / aggregate)",
                  peer[0] / o.wall("program") if o.wall("program") else None, 1, strictly=True)
    if "W" in sets and "P" in sets:
        w, p = sets["W"].results.get("program"), sets["P"].results.get("program")
        if w and p and w.ok and p.ok and "sort" in w.phases and "sort" in p.phases:
            value = w.phases["sort"] / p.phases["sort"]
            met = value <= 2
            checks.append(met)
            print(f"  {'met    ' if met else 'NOT MET'}  W ordering phase / P (packed, same cases) "
                  f"ordering phase <= 2: {value:.2f} ({w.phases['sort']:.3f} s / {p.phases['sort']:.3f} s)")
    for name, o in sets.items():
        within = o.within_memory()
        if within is not None:
            checks.append(within)
            print(f"  {'met    ' if within else 'NOT MET'}  {name}: memory within the bound")
        if o.problems:
            checks.append(False)
            print(f"  NOT MET  {name}: the tools agree")
    if sweep is not None:
        checks.append(marked == 0)
        print(f"  {'met    ' if marked == 0 else 'NOT MET'}  sweep: shapes where a peer is faster: "
              f"{marked} of {len(sweep)}")
        bad = [o.data_set.name for o in sweep if o.problems or o.within_memory() is False]
        checks.append(not bad)
        print(f"  {'met    ' if not bad else 'NOT MET'}  sweep: every shape agrees and stays "
              f"within memory{': ' + ', '.join(bad) if bad else ''}")
    return all(checks)


# ---------------------------------------------------------------- main

def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="sets: " + "; ".join(f"{s.name}: {s.describe()}" for s in FULL_SETS.values())
        + "; SWEEP: the shape sweep")
    parser.add_argument("sets", nargs="*", metavar="SET",
                        help="data sets to run, of " + " ".join(FULL_SETS) + " SWEEP (default: all)")
    parser.add_argument("--program", default=str(REPO_DIR / "build" / "aggregate"),
                        help="the aggregate executable (default: %(default)s)")
    parser.add_argument("--data-dir", default=str(BENCH_DIR / "data"),
                        help="where data files and outputs go (default: %(default)s)")
    parser.add_argument("--generator", help="generate_data executable (default: from the "
                        "build directory, else compiled into the data directory)")
    parser.add_argument("--quick", action="store_true",
                        help="small sets and sweep shapes, for a fast try")
    parser.add_argument("--seed", type=int, default=1, help="data seed (default: 1)")
    parser.add_argument("--tools", default=",".join(TOOL_TITLES),
                        help="comma-separated tools to run where a set names them "
                        "(default: %(default)s)")
    parser.add_argument("--repeat", type=int, default=1,
                        help="runs per tool; the fastest is shown (default: 1)")
    parser.add_argument("--timeout", type=float, default=900,
                        help="seconds before a tool is killed (default: %(default)s)")
    parser.add_argument("--sort-parallel", type=int,
                        help="threads for sort (default: sort's own choice)")
    parser.add_argument("--keep-outputs", action="store_true",
                        help="keep the tools' output files in the data directory")
    parser.add_argument("--micro", action="store_true",
                        help="also run phase_benchmarks from the build directory")
    parser.add_argument("--micro-args", default="",
                        help="arguments for phase_benchmarks, e.g. --benchmark_filter=Writing")
    args = parser.parse_args()

    table = QUICK_SETS if args.quick else FULL_SETS
    names = [n.upper() for n in args.sets] or list(table) + ["SWEEP"]
    unknown = [n for n in names if n not in table and n != "SWEEP"]
    args.tool_list = [t.strip() for t in args.tools.split(",") if t.strip()]
    bad_tools = [t for t in args.tool_list if t not in TOOL_TITLES]
    if unknown or bad_tools or args.repeat < 1:
        parser.error(f"unknown sets {unknown} or tools {bad_tools}" if unknown or bad_tools
                     else "--repeat must be at least 1")

    program = Path(args.program).resolve()
    data_dir = Path(args.data_dir).resolve()
    data_dir.mkdir(parents=True, exist_ok=True)
    if "program" in args.tool_list and not os.access(program, os.X_OK):
        print(f"note: {program} is not there; running the other tools only")
        args.tool_list.remove("program")

    runner = Runner(args.timeout, dict(os.environ, LC_ALL="C"))
    generator = find_tool("generate_data", args.generator, program, data_dir)
    digester = find_tool("count_digest", None, program, data_dir)

    print(f"machine: {machine_state()}")
    print(f"program: {program if 'program' in args.tool_list else '(not run)'}")
    print(f"memory:  {runner.memory_method()}; for the pipelines, the largest process")
    print("timing:  wall time of the whole run, data file in the page cache; "
          "the fastest of " + str(args.repeat) + " run(s)")
    print("note:    the awk peers count whole lines as text, so they are right only when "
          "every case is one line spelled alike (one blank between values, the same "
          "line end); the generated files are. sort | uniq -c and awk hash give the "
          "records in another order than the pattern order; the records are compared "
          "without regard to order.")
    print(f"note:    sort may use several threads "
          f"({'--parallel=' + str(args.sort_parallel) if args.sort_parallel else 'its default'})"
          f"; aggregate uses a second thread for the ordering of a million cases or more.")

    failed = False
    sets = {}
    for name in [n for n in names if n != "SWEEP"]:
        data_set = table[name]
        print(f"\nSet {name}{' (quick)' if args.quick else ''}: {data_set.describe()}", flush=True)
        outcome = run_set(data_set, args, runner, program, data_dir, generator, digester)
        report_set(outcome)
        sets[name] = outcome
        failed = failed or bool(outcome.problems)

    sweep, marked = None, 0
    if "SWEEP" in names:
        shapes = sweep_shapes(args.quick)
        print(f"\nShape sweep: {len(shapes)} shapes, files of about {SWEEP_BYTES // MIB} MiB "
              f"(at most {SWEEP_CASES:,} cases), repeated = drawn from {SWEEP_PATTERNS:,} "
              f"patterns; wall seconds; lead = fastest peer / aggregate", flush=True)
        sweep = []
        for shape in shapes:
            sweep.append(run_set(shape, args, runner, program, data_dir, generator, digester,
                                 quiet=True))
            print(".", end="", flush=True)
        marked = report_sweep(sweep)
        failed = failed or any(o.problems for o in sweep)

    met = report_targets(sets, sweep, marked)
    if args.micro:
        candidates = [program.parent / "bench" / "phase_benchmarks",
                      REPO_DIR / "build-bench" / "bench" / "phase_benchmarks"]
        micro = next((c for c in candidates if os.access(c, os.X_OK)), None)
        if micro is None:
            print("\nphase_benchmarks: not built (configure with -DAGGREGATE_BENCHMARKS=ON)")
        else:
            print(f"\nphase_benchmarks: {micro}", flush=True)
            code = subprocess.run([str(micro)] + shlex.split(args.micro_args)).returncode
            failed = failed or code != 0
    return 1 if failed or not met else 0


if __name__ == "__main__":
    sys.exit(main())
