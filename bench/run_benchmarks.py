#!/usr/bin/env python3
"""Times aggregate against three common ways of counting patterns, on generated data.

For each data set: generates the data file (or reuses it), then runs, one after
the other on the same cached file,
  aggregate               answers fed on standard input; phase times taken from
                          the arrival of its progress lines on its stdout pipe
  sort | uniq -c          LC_ALL=C sort, numeric keys from the last variable to the first
  python Counter          bench/peer_counter.py
  awk hash | sort         awk counts identical lines, sort orders the distinct ones
and prints wall time, peak resident memory, ratios to aggregate and whether all
tools found the same patterns with the same counts.
"""

import argparse
import collections
import itertools
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
from typing import Callable, Iterator, Optional

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent
MIB = 1024 * 1024


@dataclass(frozen=True)
class DataSet:
    name: str
    ncases: int
    nvars: int
    nvalues: int    # values 0..nvalues-1
    npatterns: int  # 0: every value random

    def file_name(self, seed: int) -> str:
        return (f"n{self.ncases}_v{self.nvars}_k{self.nvalues}"
                f"_d{self.npatterns}_s{seed}.txt")

    def describe(self) -> str:
        drawn = (f"drawn from {self.npatterns:,} patterns" if self.npatterns
                 else "each value random")
        return (f"{self.ncases:,} cases x {self.nvars} variables, "
                f"values 0..{self.nvalues - 1}, {drawn}")

    def memory_bound(self) -> int:
        """What the program may hold: the case matrix, two index arrays, 16 MiB else."""
        return self.ncases * self.nvars * 4 + 2 * self.ncases * 4 + 16 * MIB


FULL_SETS = {
    "A": DataSet("A", 1_000_000, 20, 5, 5000),
    "B": DataSet("B", 1_000_000, 20, 5, 0),
    "C": DataSet("C", 5_000_000, 10, 3, 0),
    "D": DataSet("D", 10_000_000, 20, 5, 5000),
}
QUICK_SETS = {
    "A": DataSet("A", 20_000, 20, 5, 500),
    "B": DataSet("B", 20_000, 20, 5, 0),
    "C": DataSet("C", 20_000, 10, 3, 0),
    "D": DataSet("D", 20_000, 20, 5, 5000),
}

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

TOOLS = ["program", "sort", "python", "awk"]
TOOL_TITLES = {
    "program": "aggregate",
    "sort": "sort -n keys | uniq -c",
    "python": "python Counter",
    "awk": "awk hash | sort",
}


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


def peer_commands(data_set: DataSet, data_name: str, sort_parallel: Optional[int]) -> dict:
    quoted = shlex.quote(data_name)
    parallel = f" --parallel={sort_parallel}" if sort_parallel else ""
    sort_by_values = "sort -t ' '" + parallel + " "
    return {
        "sort": (sort_by_values + " ".join(sort_keys(data_set.nvars, 1))
                 + f" {quoted} | uniq -c"),
        # awk puts the count first, so the variables start at field 2.
        "awk": ("awk '{ c[$0]++ } END { for (k in c) print c[k], k }' " + quoted
                + " | " + sort_by_values + " ".join(sort_keys(data_set.nvars, 2))),
    }


# ------------------------------------------------------------- reading results

class ResultError(Exception):
    pass


def parse_program_output(path: Path, nvars: int) -> Iterator[tuple]:
    """Fixed-width records: nvars fields of 3, a blank, a count of 6, CR LF."""
    width = 3 * nvars + 7
    with open(path, "rb") as records:
        for number, line in enumerate(records, 1):
            if not line.endswith(b"\r\n"):
                raise ResultError(f"record {number} does not end with CR LF")
            body = line[:-2]
            if len(body) != width:
                raise ResultError(f"record {number} has {len(body)} characters, not {width}")
            if body[3 * nvars:3 * nvars + 1] != b" ":
                raise ResultError(f"record {number} has no blank before the count")
            try:
                pattern = tuple(int(body[3 * j:3 * j + 3]) for j in range(nvars))
                count = int(body[3 * nvars + 1:])
            except ValueError:
                raise ResultError(f"record {number} holds a field that is not a number: "
                                  f"{body.decode('ascii', 'replace')!r}") from None
            yield pattern, count


def parse_counted(path: Path, nvars: int, count_first: bool) -> Iterator[tuple]:
    """Lines of 'count v1 ... vn' (uniq -c, the awk peer) or 'v1 ... vn count'
    (the Python peer); a CR may end a line."""
    with open(path, "rb") as lines:
        for number, line in enumerate(lines, 1):
            fields = line.split()
            if len(fields) != nvars + 1:
                raise ResultError(f"line {number} has {len(fields)} fields, not {nvars + 1}")
            values = fields[1:] if count_first else fields[:-1]
            yield tuple(map(int, values)), int(fields[0] if count_first else fields[-1])


def parse_count_first(path: Path, nvars: int) -> Iterator[tuple]:
    return parse_counted(path, nvars, True)


def parse_count_last(path: Path, nvars: int) -> Iterator[tuple]:
    return parse_counted(path, nvars, False)


PARSERS = {
    "program": parse_program_output,
    "sort": parse_count_first,
    "python": parse_count_last,
    "awk": parse_count_first,
}


@dataclass
class Agreement:
    records: dict   # tool -> number of records read
    totals: dict    # tool -> sum of counts
    problems: dict  # tool -> first problem found

    def all_agree(self) -> bool:
        return not self.problems


def compare_outputs(outputs: dict, nvars: int, ncases: int) -> Agreement:
    """Reads all outputs in step. Each must be in ascending pattern order (last
    variable most significant) and hold the same records as the others; where
    they differ, the majority is taken as right, so one wrong tool is named."""
    tools = list(outputs)
    agreement = Agreement({t: 0 for t in tools}, {t: 0 for t in tools}, {})
    problems = agreement.problems
    end = ("end",)

    def guarded(tool: str) -> Iterator:
        try:
            yield from PARSERS[tool](outputs[tool], nvars)
        except (OSError, ResultError, ValueError) as error:
            yield error

    previous = {t: None for t in tools}
    rows = itertools.zip_longest(*(guarded(t) for t in tools), fillvalue=end)
    for number, row in enumerate(rows, 1):
        active = {}
        for tool, item in zip(tools, row):
            if tool in problems:
                continue
            if isinstance(item, Exception):
                problems[tool] = str(item)
                continue
            if item is not end:
                key = item[0][::-1]
                if previous[tool] is not None and key <= previous[tool]:
                    problems[tool] = (f"record {number} {item[0]} does not come after "
                                      f"the one before it in pattern order")
                    continue
                previous[tool] = key
            active[tool] = item
        if not active:
            break
        top, votes = collections.Counter(active.values()).most_common(1)[0]
        majority = top if 2 * votes > len(active) else None
        for tool, item in active.items():
            if majority is not None and item == majority:
                if item is not end:
                    agreement.records[tool] += 1
                    agreement.totals[tool] += item[1]
            elif item is end:
                problems[tool] = f"ends after {number - 1} records"
            elif majority is end:
                problems[tool] = f"has more records than the others, from record {number}"
            elif majority is None:
                problems[tool] = (f"record {number}: {item[0]} x{item[1]}; "
                                  f"no majority among the tools")
            else:
                problems[tool] = (f"record {number}: {item[0]} x{item[1]}, the others "
                                  f"have {majority[0]} x{majority[1]}")
        if majority is end:
            break
    for tool in tools:
        if tool not in problems and agreement.totals[tool] != ncases:
            problems[tool] = f"counts add up to {agreement.totals[tool]:,}, not {ncases:,}"
    return agreement


# ---------------------------------------------------------------- data files

def find_generator(explicit: Optional[str], program: Path, data_dir: Path) -> Path:
    if explicit:
        return Path(explicit)
    candidates = [program.parent / "bench" / "generate_data",
                  REPO_DIR / "build-bench" / "bench" / "generate_data",
                  REPO_DIR / "build" / "bench" / "generate_data"]
    source = BENCH_DIR / "generate_data.cpp"
    for candidate in candidates:
        if os.access(candidate, os.X_OK) and \
                candidate.stat().st_mtime >= source.stat().st_mtime:
            return candidate
    # Not built with the benchmarks: build it on the spot.
    built = data_dir / "generate_data"
    if not os.access(built, os.X_OK) or built.stat().st_mtime < source.stat().st_mtime:
        compiler = os.environ.get("CXX", "c++")
        print(f"building {built} with {compiler}", flush=True)
        subprocess.run([compiler, "-O2", "-std=c++20", "-o", str(built), str(source)],
                       check=True)
    return built


def expected_size(data_set: DataSet) -> Optional[int]:
    if data_set.nvalues > 10:
        return None
    return data_set.ncases * (2 * data_set.nvars + 1)  # one digit and a blank, CR for the last


def ensure_data(generator: Path, data_set: DataSet, data_dir: Path, seed: int) -> Path:
    """Generates the data file unless one made with the same arguments is there."""
    path = data_dir / data_set.file_name(seed)
    stamp = path.with_name(path.name + ".made")
    arguments = [str(data_set.ncases), str(data_set.nvars), str(data_set.nvalues),
                 str(data_set.npatterns), str(seed)]
    if path.exists() and stamp.exists():
        made = stamp.read_text().split()
        if made[:-1] == arguments and made[-1] == str(path.stat().st_size):
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
    print(f"  data: generated {path.name} in {time.perf_counter() - started:.2f} s",
          flush=True)
    return path


def warm_cache(path: Path) -> None:
    """Reads the file once so that every tool finds it in the page cache."""
    with open(path, "rb", buffering=0) as data:
        while data.read(8 * MIB):
            pass


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


def report_set(data_set: DataSet, data_path: Path, results: list,
               agreement: Optional[Agreement]) -> None:
    program = next((r for r in results if r.tool == "program" and r.ok), None)
    print(f"  {'tool':<24} {'wall s':>9} {'peak MiB':>9} {'t/prog':>7} {'m/prog':>7}")
    for r in results:
        title = TOOL_TITLES[r.tool]
        if not r.ok:
            print(f"  {title:<24} {r.wall:9.3f} {mib(r.peak_kib)}   FAILED: {r.problem}")
            continue
        base_wall = program.wall if program else None
        base_peak = program.peak_kib if program else None
        print(f"  {title:<24} {r.wall:9.3f} {mib(r.peak_kib)} {ratio(r.wall, base_wall)} "
              f"{ratio(r.peak_kib, base_peak)}")
        if r.tool == "program":
            shown = "  ".join(f"{p} {r.phases[p]:.3f}" for p in PHASE_NAMES if p in r.phases)
            merged = "  (some lines came together: phases too short to part)" \
                if r.phases_merged else ""
            print(f"    phases (s): {shown}{merged}")
    if program:
        bound = data_set.memory_bound()
        if program.peak_kib is None:
            verdict = "peak unknown"
        else:
            verdict = "within" if program.peak_kib * 1024 <= bound else "EXCEEDED"
        print(f"  memory bound ncases*nvars*4 + 2*ncases*4 + 16 MiB = {bound / MIB:.1f} MiB; "
              f"aggregate peak {mib(program.peak_kib).strip()} MiB: {verdict}")
    if agreement is None:
        print("  results: fewer than two outputs, nothing compared")
    elif agreement.all_agree():
        patterns = next(iter(agreement.records.values()))
        print(f"  results: all {len(agreement.records)} tools agree "
              f"({patterns:,} patterns, {data_set.ncases:,} cases)")
    else:
        print("  results: DISAGREE")
        for tool in agreement.records:
            state = agreement.problems.get(tool, "agrees with the others")
            print(f"    {TOOL_TITLES[tool]:<24} {agreement.records[tool]:,} records; {state}")


# ---------------------------------------------------------------- main

def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="sets: " + "; ".join(f"{s.name}: {s.describe()}" for s in FULL_SETS.values()))
    parser.add_argument("sets", nargs="*", metavar="SET",
                        help="data sets to run, of " + " ".join(FULL_SETS) + " (default: all)")
    parser.add_argument("--program", default=str(REPO_DIR / "build" / "aggregate"),
                        help="the aggregate executable (default: %(default)s)")
    parser.add_argument("--data-dir", default=str(BENCH_DIR / "data"),
                        help="where data files and outputs go (default: %(default)s)")
    parser.add_argument("--generator", help="generate_data executable (default: from the "
                        "build directory, else compiled into the data directory)")
    parser.add_argument("--quick", action="store_true",
                        help="small sets of 20,000 cases, for a fast try")
    parser.add_argument("--seed", type=int, default=1, help="data seed (default: 1)")
    parser.add_argument("--tools", default=",".join(TOOLS),
                        help="comma-separated tools to run (default: %(default)s)")
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
                        help="arguments for phase_benchmarks, e.g. --benchmark_filter=Sort")
    args = parser.parse_args()

    table = QUICK_SETS if args.quick else FULL_SETS
    names = [n.upper() for n in args.sets] or list(table)
    unknown = [n for n in names if n not in table]
    tools = [t.strip() for t in args.tools.split(",") if t.strip()]
    bad_tools = [t for t in tools if t not in TOOLS]
    if unknown or bad_tools or args.repeat < 1:
        parser.error(f"unknown sets {unknown} or tools {bad_tools}" if unknown or bad_tools
                     else "--repeat must be at least 1")

    program = Path(args.program).resolve()
    data_dir = Path(args.data_dir).resolve()
    data_dir.mkdir(parents=True, exist_ok=True)
    if "program" in tools and not os.access(program, os.X_OK):
        print(f"note: {program} is not there; running the other tools only")
        tools.remove("program")

    env = dict(os.environ, LC_ALL="C")
    runner = Runner(args.timeout, env)
    generator = find_generator(args.generator, program, data_dir)

    print(f"machine: {machine_state()}")
    print(f"program: {program if 'program' in tools else '(not run)'}")
    print(f"memory:  {runner.memory_method()}; for the pipelines, the largest process")
    print("timing:  wall time of the whole run, data file in the page cache; "
          "the fastest of " + str(args.repeat) + " run(s)")
    if "awk" in tools:
        print("note:    awk hash | sort counts whole lines as text, so it is right only when "
              "every case is one line spelled alike (one blank between values, the same "
              "line end); the generated files are.")
    if "sort" in tools or "awk" in tools:
        print(f"note:    sort may use several threads "
              f"({'--parallel=' + str(args.sort_parallel) if args.sort_parallel else 'its default'})"
              f"; aggregate and the others use one.")

    failed = False
    for name in names:
        data_set = table[name]
        print(f"\nSet {name}{' (quick)' if args.quick else ''}: {data_set.describe()}", flush=True)
        data_path = ensure_data(generator, data_set, data_dir, args.seed)
        data_name = data_path.name
        if len(data_name) > NAME_LIMIT:
            raise SystemExit(f"{data_name}: longer than {NAME_LIMIT} characters")
        print(f"  file: {data_path} ({data_path.stat().st_size / MIB:,.1f} MiB)")
        warm_cache(data_path)

        commands = peer_commands(data_set, data_name, args.sort_parallel)
        outputs = {t: data_dir / f"out_{name}_{t}.txt" for t in tools}
        results = []
        python_peer = [sys.executable, str(BENCH_DIR / "peer_counter.py"), data_name,
                       "--nvars", str(data_set.nvars)]
        results = []
        for tool in tools:
            runs = []
            for _ in range(args.repeat):
                outputs[tool].unlink(missing_ok=True)
                if tool == "program":
                    r = run_program(runner, program, data_set, data_dir, data_name,
                                    outputs[tool].name)
                elif tool == "python":
                    r = run_peer(runner, tool, python_peer, data_dir, outputs[tool])
                else:
                    r = run_peer(runner, tool, ["sh", "-c", commands[tool]], data_dir,
                                 outputs[tool])
                runs.append(r)
                if not r.ok:
                    break
            # The fastest run, with the highest peak of all runs.
            best = runs[-1] if not runs[-1].ok else min(runs, key=lambda x: x.wall)
            peaks = [x.peak_kib for x in runs if x.peak_kib is not None]
            best.peak_kib = max(peaks) if peaks else None
            results.append(best)
            print(f"  ran {TOOL_TITLES[tool]}: {best.wall:.3f} s", flush=True)

        compared = {r.tool: outputs[r.tool] for r in results if r.ok}
        agreement = (compare_outputs(compared, data_set.nvars, data_set.ncases)
                     if len(compared) >= 2 else None)
        report_set(data_set, data_path, results, agreement)
        if any(not r.ok for r in results) or (agreement and not agreement.all_agree()):
            failed = True
        if not args.keep_outputs:
            for path in outputs.values():
                path.unlink(missing_ok=True)

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
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
