"""The measuring: runs the program, the floors and the peers one after the other
on the same cached data file, in rounds, and takes each one's median wall time,
the highest peak resident memory of its runs and, for the program, the time of
each phase (from the arrival of its progress lines on its stdout pipe).
"""

import os
import signal
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional

import data_sets
import peers
from data_sets import MIB, DataSet

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

# A peer more than this many times slower than the fastest peer in the first
# round cannot be the fastest: it is not run again.
REPEAT_WITHIN = 2.0


@dataclass
class RunResult:
    tool: str
    wall: float = 0.0
    peak_kib: Optional[int] = None
    ok: bool = False
    problem: str = ""
    runs: int = 1
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
            time_file = Path(scratch) / "peak"
            err_path = Path(scratch) / "stderr"
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
            peak = self._read_gnu_time(time_file) if self.gnu_time else usage.ru_maxrss
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


def run_program(runner: Runner, tool: str, program: Path, data_set: DataSet, data_dir: Path,
                data_name: str, out_name: str) -> RunResult:
    result = RunResult(tool)
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


def run_command(runner: Runner, tool: str, argv: list, data_dir: Path,
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


def median_run(runs: list) -> RunResult:
    """The run of the median time (the lower middle one of an even number), with
    the number of runs and the highest peak of them all."""
    if not runs[-1].ok:
        return runs[-1]
    middle = sorted(runs, key=lambda r: r.wall)[(len(runs) - 1) // 2]
    peaks = [r.peak_kib for r in runs if r.peak_kib is not None]
    middle.peak_kib = max(peaks) if peaks else None
    middle.runs = len(runs)
    return middle


# ---------------------------------------------------------------- one data set

@dataclass
class SetOutcome:
    data_set: DataSet
    results: dict          # tool -> RunResult (the median run)
    problems: list         # disagreements and failures

    def wall(self, tool: str) -> Optional[float]:
        r = self.results.get(tool)
        return r.wall if r and r.ok else None

    def fastest_peer(self) -> Optional[tuple]:
        """(median seconds, tool) of the fastest peer that ran."""
        walls = [(self.wall(t), t) for t in self.results
                 if peers.is_peer(t) and self.wall(t) is not None]
        return min(walls) if walls else None

    def lead(self, tool: str = "program") -> Optional[float]:
        """The fastest peer's time over the program's."""
        fastest, program = self.fastest_peer(), self.wall(tool)
        return fastest[0] / program if fastest and program else None

    def sort_lead(self, tool: str = "program") -> Optional[float]:
        """The time of sort | uniq -c over the program's."""
        sort, program = self.wall("sort"), self.wall(tool)
        return sort / program if sort and program else None

    def floor_ratio(self, floor: str = "parse", tool: str = "program") -> Optional[float]:
        program, base = self.wall(tool), self.wall(floor)
        return program / base if program and base else None

    def output_floor(self) -> Optional[float]:
        """The parse-only pass and the writing of the output from memory, together."""
        parse, write = self.wall("parse"), self.wall("write")
        return parse + write if parse and write else None

    def output_floor_ratio(self, tool: str = "program") -> Optional[float]:
        program, base = self.wall(tool), self.output_floor()
        return program / base if program and base else None

    def floor(self) -> Optional[float]:
        """The floor the program is held to: the parse-only pass and the writing
        where nearly every pattern is distinct, else the parse-only pass."""
        return self.output_floor() if self.data_set.distinct() else self.wall("parse")

    def peak_kib(self, tool: str = "program") -> Optional[int]:
        r = self.results.get(tool)
        return r.peak_kib if r and r.ok else None

    def within_memory(self) -> Optional[bool]:
        r = self.results.get("program")
        if not r or not r.ok or r.peak_kib is None:
            return None
        return r.peak_kib * 1024 <= self.data_set.memory_bound()


@dataclass
class Setting:
    """What every set is run with."""
    runner: Runner
    program: Path
    baseline: Optional[Path]    # an earlier build run beside the program, or None
    parse_only: Optional[Path]  # None: no parse-only floor
    write_only: Path
    pandas: Optional[str]       # the Python that runs the pandas peer
    digester: Path
    generator: Path
    data_dir: Path
    tools: tuple                # the peers and floors to run where a set names them
    repeat: int
    keep_outputs: bool


def run_set(data_set: DataSet, setting: Setting, quiet: bool = False) -> SetOutcome:
    data_path = data_sets.ensure_data(setting.generator, data_set, setting.data_dir, quiet)
    data_name = data_path.name
    if len(data_name) > NAME_LIMIT:
        raise SystemExit(f"{data_name}: longer than {NAME_LIMIT} characters")
    if not quiet:
        print(f"  file: {data_path} ({data_path.stat().st_size / MIB:,.1f} MiB)")
    data_sets.warm_cache(data_path)
    tools = [t for t in peers.FLOORS + peers.PROGRAMS + data_set.peers if t in setting.tools]
    outputs = {t: setting.data_dir / f"out_{data_set.name}_{t}.txt" for t in tools}
    runs = {t: [] for t in tools}
    for round_number in range(setting.repeat):
        if round_number == 1:
            tools = [t for t in tools if runs[t][0].ok and repeated_after_first(t, runs)]
        times = []
        for tool in tools:
            # Floors write nothing worth keeping.
            out = Path(os.devnull) if tool in peers.FLOORS else outputs[tool]
            # Each run makes its output file afresh, and starts with what the
            # runs before it wrote on the disk, so that no run is slowed by
            # writing out another's output.
            outputs[tool].unlink(missing_ok=True)
            os.sync()
            if tool in peers.PROGRAMS:
                program = setting.program if tool == "program" else setting.baseline
                r = run_program(setting.runner, tool, program, data_set, setting.data_dir,
                                data_name, out.name)
            else:
                argv = peers.command(tool, data_set, data_name,
                                     {"parse": setting.parse_only, "write": setting.write_only},
                                     setting.pandas, outputs[tool].name)
                r = run_command(setting.runner, tool, argv, setting.data_dir, out)
            runs[tool].append(r)
            times.append(f"{tool} {r.wall:.3f}" if r.ok else f"{tool} FAILED")
        if not quiet:
            print(f"  round {round_number + 1} (s): {', '.join(times)}", flush=True)
    results = {t: median_run(r) for t, r in runs.items()}
    problems = [f"{peers.TOOLS[t].title} FAILED: {r.problem}" for t, r in results.items()
                if not r.ok]
    compared = [t for t, r in results.items() if r.ok and t not in peers.FLOORS]
    digests = {t: peers.digest_output(setting.digester, t, data_set.nvars, outputs[t])
               for t in compared}
    problems += peers.agreement(digests, data_set.ncases)
    for tool in outputs:
        if tool not in compared or not setting.keep_outputs:
            outputs[tool].unlink(missing_ok=True)
    return SetOutcome(data_set, results, problems)


def repeated_after_first(tool: str, runs: dict) -> bool:
    """Whether a tool runs again after the first round: the floors and the programs
    do, and the peers that were within REPEAT_WITHIN of the fastest peer."""
    if not peers.is_peer(tool):
        return True
    firsts = [r[0].wall for t, r in runs.items() if peers.is_peer(t) and r[0].ok]
    return runs[tool][0].wall <= REPEAT_WITHIN * min(firsts)


# ------------------------------------------------------- mistyped numbers of cases

@dataclass
class MistypedOutcome:
    ncases: int
    nvars: int
    run: RunResult


def run_mistyped(setting: Setting) -> list:
    """Each mistyped number of cases against the short file, in rounds; the
    median run of each. A run must end with the end-of-file report."""
    path = setting.data_dir / f"mistyped_{data_sets.MISTYPED_CASES}.txt"
    if not path.exists():
        path.write_text("".join(f"{i} {i % 7} {i % 5}\n" for i in range(data_sets.MISTYPED_CASES)))
    outcomes = []
    for ncases, nvars in data_sets.MISTYPED_COUNTS:
        answers = f"'{path.name}'\n'out_mistyped.txt'\n{ncases}\n{nvars}\n".encode("ascii")
        runs = []
        for _ in range(setting.repeat):
            result = RunResult("program")
            code, start, end, result.peak_kib, stderr_text = setting.runner.run(
                [str(setting.program)], setting.data_dir, stdin_bytes=answers)
            result.wall = end - start
            result.ok = code == 1 and "F6501" in stderr_text
            result.problem = "" if result.ok else f"exit status {code}: {stderr_text.strip()[:300]}"
            runs.append(result)
        outcomes.append(MistypedOutcome(ncases, nvars, median_run(runs)))
    (setting.data_dir / "out_mistyped.txt").unlink(missing_ok=True)
    return outcomes
