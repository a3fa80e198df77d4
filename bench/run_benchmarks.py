#!/usr/bin/env python3
"""Times aggregate against the tools a user would otherwise pick, on generated data.

  run_benchmarks.py [--quick] [--micro] [--baseline PROGRAM] [SETS...]
For each data set: generates the data file (or reuses it), then runs, in rounds
on the same cached file, the floors (cat, the program's reader alone, the writing
of the pattern file's bytes from memory), aggregate
and the peers the set names (bench/peers.py); prints their median wall times,
peak resident memory and ratios to aggregate, and checks that all give the same
records (order-free digests, bench/count_digest) and that the ordered ones give
them in pattern order. Then the shape sweep, one line a shape, and the targets,
met or not. DuckDB and pandas are optional peers: bench/install_peers.
"""

import argparse
import os
import shlex
import subprocess
import sys
from pathlib import Path
from typing import Optional

import peers
import report
from data_sets import FULL_SETS, QUICK_SETS, SWEEP_BYTES, SWEEP_CASES, SWEEP_PATTERNS, MIB, \
    sweep_shapes
from exports import EXPORT_RATIO, EXPORT_SETS, report_exports, run_exports
from measure import REPEAT_WITHIN, Runner, Setting, run_mistyped, run_set

BENCH_DIR = Path(__file__).resolve().parent
REPO_DIR = BENCH_DIR.parent


def built_tool(name: str, program: Path) -> Optional[Path]:
    """A bench tool from the build directory that holds the program, or build/."""
    for build in (program.parent, REPO_DIR / "build"):
        candidate = build / "bench" / name
        if os.access(candidate, os.X_OK):
            return candidate
    return None


def standalone_tool(name: str, program: Path, data_dir: Path) -> Path:
    """A bench tool of one source file: built, else compiled into the data directory."""
    source = BENCH_DIR / f"{name}.cpp"
    found = built_tool(name, program)
    if found and found.stat().st_mtime >= source.stat().st_mtime:
        return found
    built = data_dir / name
    if not os.access(built, os.X_OK) or built.stat().st_mtime < source.stat().st_mtime:
        compiler = os.environ.get("CXX", "c++")
        print(f"building {built} with {compiler}", flush=True)
        subprocess.run([compiler, "-O2", "-std=c++20", "-o", str(built), str(source)], check=True)
    return built


def parse_arguments() -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="sets: " + "; ".join(f"{s.name}: {s.describe()}" for s in FULL_SETS.values())
        + "; SWEEP: the shape sweep; MISTYPED: numbers of cases typed too large; EXPORTS: sets "
        + " and ".join(EXPORT_SETS) + " as CSV exports beside their free-form runs")
    parser.add_argument("sets", nargs="*", metavar="SET",
                        help="data sets to run, of " + " ".join(FULL_SETS) + " SWEEP MISTYPED EXPORTS (default: all)")
    parser.add_argument("--program", default=str(REPO_DIR / "build" / "aggregate"),
                        help="the aggregate executable (default: %(default)s)")
    parser.add_argument("--baseline",
                        help="an earlier build of aggregate, run beside the program in every "
                        "round and held against it (e.g. main's build)")
    parser.add_argument("--data-dir", default=str(BENCH_DIR / "data"),
                        help="where data files and outputs go (default: %(default)s)")
    parser.add_argument("--quick", action="store_true",
                        help="small sets and sweep shapes, for a fast try")
    parser.add_argument("--tools", default=",".join(t for t in peers.TOOLS if t != "baseline"),
                        help="comma-separated floors and peers to run where a set names them "
                        "(default: %(default)s)")
    parser.add_argument("--repeat", type=int,
                        help="rounds; each tool's median is shown (default: 5, 1 with --quick)")
    parser.add_argument("--timeout", type=float, default=900,
                        help="seconds before a tool is killed (default: %(default)s)")
    parser.add_argument("--keep-outputs", action="store_true",
                        help="keep the tools' output files in the data directory")
    parser.add_argument("--micro", action="store_true",
                        help="also run phase_benchmarks from the build directory")
    parser.add_argument("--micro-args", default="",
                        help="arguments for phase_benchmarks, e.g. --benchmark_filter=Writing")
    args = parser.parse_args()
    table = QUICK_SETS if args.quick else FULL_SETS
    args.names = [n.upper() for n in args.sets] or list(table) + ["SWEEP", "MISTYPED", "EXPORTS"]
    unknown = [n for n in args.names if n not in table and n not in ("SWEEP", "MISTYPED", "EXPORTS")]
    if args.repeat is None:
        args.repeat = 1 if args.quick else 5
    args.tool_list = [t.strip() for t in args.tools.split(",") if t.strip()]
    bad_tools = [t for t in args.tool_list if t not in peers.TOOLS or t == "baseline"]
    if unknown or bad_tools or args.repeat < 1:
        parser.error(f"unknown sets {unknown} or tools {bad_tools}" if unknown or bad_tools
                     else "--repeat must be at least 1")
    args.table = table
    return args


def make_setting(args: argparse.Namespace) -> Setting:
    """What every set runs with; notes what is missing and leaves it out."""
    program = Path(args.program).resolve()
    data_dir = Path(args.data_dir).resolve()
    data_dir.mkdir(parents=True, exist_ok=True)
    tools = list(args.tool_list)
    if "program" in tools and not os.access(program, os.X_OK):
        print(f"note: {program} is not there; running the other tools only")
        tools.remove("program")
    baseline = Path(args.baseline).resolve() if args.baseline else None
    if baseline is not None and "program" in tools:
        if os.access(baseline, os.X_OK):
            tools.append("baseline")
        else:
            print(f"note: {baseline} is not there; no baseline")
            baseline = None
    parse_only = built_tool("parse_only", program)
    if parse_only is None and "parse" in tools:
        print("note: parse_only is not built (configure with -DAGGREGATE_BENCHMARKS=ON): "
              "no parse-only floor")
        tools.remove("parse")
    for tool, why in peers.missing_peers().items():
        if tool in tools:
            print(f"note: {peers.TOOLS[tool].title} skipped: {why}")
            tools.remove(tool)
    return Setting(runner=Runner(args.timeout, dict(os.environ, LC_ALL="C")),
                   program=program, baseline=baseline, parse_only=parse_only,
                   write_only=standalone_tool("write_only", program, data_dir),
                   pandas=peers.pandas_python() if "pandas" in tools else None,
                   digester=standalone_tool("count_digest", program, data_dir),
                   generator=standalone_tool("generate_data", program, data_dir),
                   data_dir=data_dir, tools=tuple(tools), repeat=args.repeat,
                   keep_outputs=args.keep_outputs)


def run_micro(args: argparse.Namespace, program: Path) -> bool:
    """Runs phase_benchmarks; returns whether it ended well."""
    micro = built_tool("phase_benchmarks", program)
    if micro is None:
        print("\nphase_benchmarks: not built (configure with -DAGGREGATE_BENCHMARKS=ON)")
        return True
    print(f"\nphase_benchmarks: {micro}", flush=True)
    return subprocess.run([str(micro)] + shlex.split(args.micro_args)).returncode == 0


def main() -> int:
    args = parse_arguments()
    setting = make_setting(args)
    print(f"machine: {report.machine_state()}")
    print(f"program: {setting.program if 'program' in setting.tools else '(not run)'}")
    if setting.baseline:
        print(f"baseline: {setting.baseline}, run beside the program in every round")
    print(f"memory:  {setting.runner.memory_method()}; for the pipelines, the largest process")
    print(f"timing:  wall time of the whole run, data file in the page cache; {args.repeat} "
          f"round(s), one tool after the other, the median shown; a peer over "
          f"{REPEAT_WITHIN:g} times the fastest peer's time in the first round runs once")
    print("floors:  cat FILE > /dev/null, the program's reader alone (bench/parse_only), and the "
          "writing of the pattern file's bytes from memory (bench/write_only); on distinct "
          "patterns the program is held to the reader and the writing together")
    print("note:    the awk hash counts whole lines as text, so it is right only when every "
          "case is one line spelled alike (the generated files are). sort | uniq -c gives "
          "the records in text order, every other tool in pattern order; the records are "
          "compared without regard to order, and the order checked where a tool gives it.")
    print("note:    sort and DuckDB use two threads, pandas and awk one.")

    failed = False
    sets = {}
    for name in [n for n in args.names if n in args.table]:
        data_set = args.table[name]
        print(f"\nSet {name}{' (quick)' if args.quick else ''}: {data_set.describe()}", flush=True)
        sets[name] = run_set(data_set, setting)
        report.report_set(sets[name])
        failed = failed or bool(sets[name].problems)

    sweep = None
    if "SWEEP" in args.names:
        shapes = sweep_shapes(args.quick)
        print(f"\nShape sweep: {len(shapes)} shapes, files of about {SWEEP_BYTES // MIB} MiB "
              f"(at most {SWEEP_CASES:,} cases), repeated = drawn from {SWEEP_PATTERNS:,} "
              f"patterns; median wall seconds; lead = fastest peer / aggregate; need = the "
              f"lead to reach; parse = the parse-only floor", flush=True)
        sweep = []
        for shape in shapes:
            sweep.append(run_set(shape, setting, quiet=True))
            print(".", end="", flush=True)
        report.report_sweep(sweep)
        failed = failed or any(o.problems for o in sweep)

    mistyped = None
    if "MISTYPED" in args.names and "program" in setting.tools:
        mistyped = run_mistyped(setting)
        report.report_mistyped(mistyped)

    exported = None
    if "EXPORTS" in args.names and "program" in setting.tools:
        exported = {}
        for name in EXPORT_SETS:
            data_set = args.table[name]
            print(f"\nExport {name}{' (quick)' if args.quick else ''}: {data_set.describe()}, as a CSV with a "
                  f"header row beside the same values parted by blanks; the export within {EXPORT_RATIO:g}x",
                  flush=True)
            exported[name] = run_exports(data_set, setting)
            report_exports(exported[name])

    if sets:
        report.report_summary(sets)
    met = report.report_targets(sets, sweep, mistyped, exported)
    if args.micro:
        failed = not run_micro(args, setting.program) or failed
    return 1 if failed or not met else 0


if __name__ == "__main__":
    sys.exit(main())
