"""Delimited exports against free-form values: the same numbers written as a CSV
with a header row, run as its export (aggregate --output P --header DATA.csv, its
counts from its one reading), beside the free-form file run with its counts
given; and the export run with --cases, for reference. Each runs in rounds, one
after the other, on the cached files; medians, peaks and the ratio are printed,
and the export must stay within EXPORT_RATIO of the free-form run.
"""

import filecmp
from dataclasses import dataclass
from pathlib import Path

import data_sets
from data_sets import DataSet
from measure import RunResult, Setting, median_run, run_command

EXPORT_RATIO = 1.25
EXPORT_SETS = ("A", "W")  # repeated patterns, and nearly every one distinct
EXPORT_RUNS = ("free form, counts given", "export, --header", "export, --header --cases")


@dataclass
class ExportOutcome:
    data_set: DataSet
    results: dict  # run title -> RunResult (the median run)
    same: bool     # every run wrote the same pattern file

    def ratio(self):
        free, export = self.results[EXPORT_RUNS[0]], self.results[EXPORT_RUNS[1]]
        return export.wall / free.wall if free.ok and export.ok else None


def ensure_csv(data_path: Path, nvars: int) -> Path:
    """The data file's values parted by commas under a header row q1,...,qN;
    made once, and again when the data file is newer."""
    csv_path = data_path.with_suffix(".csv")
    if csv_path.exists() and csv_path.stat().st_mtime >= data_path.stat().st_mtime:
        return csv_path
    header = ",".join(f"q{j + 1}" for j in range(nvars)).encode("ascii") + b"\r\n"
    with open(data_path, "rb") as source, open(csv_path, "wb") as target:
        target.write(header)
        for piece in iter(lambda: source.read(1 << 24), b""):
            target.write(piece.replace(b" ", b","))
    return csv_path


def run_exports(data_set: DataSet, setting: Setting) -> ExportOutcome:
    data_path = data_sets.ensure_data(setting.generator, data_set, setting.data_dir, quiet=False)
    csv_path = ensure_csv(data_path, data_set.nvars)
    print(f"  files: {data_path.name} and {csv_path.name}", flush=True)
    data_sets.warm_cache(data_path)
    data_sets.warm_cache(csv_path)
    counts = ["--cases", str(data_set.ncases)]
    arguments = {
        EXPORT_RUNS[0]: counts + ["--variables", str(data_set.nvars), data_path.name],
        EXPORT_RUNS[1]: ["--header", csv_path.name],
        EXPORT_RUNS[2]: ["--header"] + counts + [csv_path.name],
    }
    outputs = {title: setting.data_dir / f"out_export_{data_set.name}_{k}.txt"
               for k, title in enumerate(EXPORT_RUNS)}
    runs = {title: [] for title in EXPORT_RUNS}
    for round_number in range(setting.repeat):
        times = []
        for title in EXPORT_RUNS:
            outputs[title].unlink(missing_ok=True)
            argv = [str(setting.program), "--output", outputs[title].name] + arguments[title]
            r = run_command(setting.runner, "program", argv, setting.data_dir, Path("/dev/null"))
            runs[title].append(r)
            times.append(f"{r.wall:.3f}" if r.ok else "FAILED")
        print(f"  round {round_number + 1} (s): {', '.join(times)}", flush=True)
    results = {title: median_run(r) for title, r in runs.items()}
    same = all(outputs[t].exists() and filecmp.cmp(outputs[EXPORT_RUNS[0]], outputs[t], shallow=False)
               for t in EXPORT_RUNS)
    for path in outputs.values():
        if not setting.keep_outputs:
            path.unlink(missing_ok=True)
    return ExportOutcome(data_set, results, same)


def report_exports(outcome: ExportOutcome) -> None:
    base = outcome.results[EXPORT_RUNS[0]]
    print(f"  {'run':<28} {'median s':>9} {'peak MiB':>9} {'t/free':>7}")
    for title, r in outcome.results.items():
        if not r.ok:
            print(f"  {title:<28} FAILED: {r.problem}")
            continue
        peak = f"{r.peak_kib / 1024:9.1f}" if r.peak_kib is not None else f"{'?':>9}"
        print(f"  {title:<28} {r.wall:9.3f} {peak} {r.wall / base.wall if base.ok else 0:7.2f}")
    if not outcome.same:
        print("  the pattern files differ")


def export_targets(outcomes: dict, check) -> None:
    """The exports' targets, each told to `check(text, met)`."""
    for name, o in outcomes.items():
        value = o.ratio()
        shown = f"{value:.2f}" if value is not None else "not run"
        check(f"{name} as a CSV with a header: within {EXPORT_RATIO:g}x of its free-form run with counts "
              f"given, the same pattern file: {shown}",
              value is not None and value <= EXPORT_RATIO and o.same)
