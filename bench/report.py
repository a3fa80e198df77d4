"""The benchmark's printed report: the machine, each set's table with its floors,
the shape sweep in one table, and the targets, met or not.
"""

import os
from pathlib import Path
from typing import Optional

from data_sets import BASELINE_NOISE, FLOOR_RATIO, MIB, MISTYPED_CASES, MISTYPED_PEAK, \
    OUTPUT_FLOOR_RATIO, SORT_LEAD
from exports import export_targets
from measure import PHASE_NAMES, SetOutcome
from peers import FLOORS, PROGRAMS, TOOLS

SWEEP_COLUMNS = ("program", "sort", "awk", "duckdb", "pandas")


def machine_state() -> str:
    load = Path("/proc/loadavg").read_text().split()[:3]
    cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    available = ""
    for line in Path("/proc/meminfo").read_text().splitlines():
        if line.startswith("MemAvailable:"):
            available = f", memory available {int(line.split()[1]) // 1024:,} MiB"
    return f"load average {' '.join(load)}, nproc {cpus}{available}"


def mib(kib: Optional[int]) -> str:
    return f"{kib / 1024:9.1f}" if kib is not None else f"{'?':>9}"


def ratio(value: Optional[float], base: Optional[float], width: int = 7) -> str:
    if value is None or not base:
        return f"{'-':>{width}}"
    return f"{value / base:{width}.2f}"


def seconds(value: Optional[float], width: int = 9) -> str:
    return f"{value:{width}.3f}" if value is not None else f"{'-':>{width}}"


def report_set(outcome: SetOutcome) -> None:
    data_set = outcome.data_set
    program = outcome.results.get("program")
    base_wall = outcome.wall("program")
    base_peak = program.peak_kib if program and program.ok else None
    print(f"  {'tool':<24} {'median s':>9} {'runs':>4} {'peak MiB':>9} {'t/prog':>7} {'m/prog':>7}")
    for tool, r in outcome.results.items():
        if tool in FLOORS:
            continue
        title = TOOLS[tool].title
        if not r.ok:
            print(f"  {title:<24} {r.wall:9.3f} {r.runs:4} {mib(r.peak_kib)}   FAILED: {r.problem}")
            continue
        print(f"  {title:<24} {r.wall:9.3f} {r.runs:4} {mib(r.peak_kib)} {ratio(r.wall, base_wall)} "
              f"{ratio(r.peak_kib, base_peak)}")
        if tool in PROGRAMS:
            shown = "  ".join(f"{p} {r.phases[p]:.3f}" for p in PHASE_NAMES if p in r.phases)
            merged = "  (some lines came together: phases too short to part)" \
                if r.phases_merged else ""
            print(f"    phases (s): {shown}{merged}")
    floors = [f"{TOOLS[f].title} {outcome.wall(f):.3f} s (aggregate / it "
              f"{ratio(base_wall, outcome.wall(f)).strip()})"
              for f in FLOORS if outcome.wall(f) is not None]
    if data_set.distinct() and outcome.output_floor() is not None:
        floors.append(f"parse-only + writing {outcome.output_floor():.3f} s (aggregate / it "
                      f"{ratio(outcome.output_floor_ratio(), 1).strip()})")
    if floors:
        print(f"  floor: {'; '.join(floors)}")
    print(f"  this machine: cat > /dev/null {seconds(outcome.wall('cat')).strip()} s, "
          f"sort | uniq -c {seconds(outcome.wall('sort')).strip()} s; the floors: reader "
          f"{seconds(outcome.wall('parse')).strip()} s, reader + writing "
          f"{seconds(outcome.output_floor()).strip()} s")
    if base_peak is not None:
        within = outcome.within_memory()
        print(f"  memory: aggregate peak {mib(base_peak).strip()} MiB; case matrix "
              f"{data_set.matrix_bytes() / MIB:.1f} MiB; bound matrix + 8*ncases + 16 MiB = "
              f"{data_set.memory_bound() / MIB:.1f} MiB: {'within' if within else 'EXCEEDED'}")
    if outcome.problems:
        print("  results: DISAGREE")
        for problem in outcome.problems:
            print(f"    {problem}")
    else:
        compared = [t for t in outcome.results if t not in FLOORS]
        if len(compared) >= 2:
            print(f"  results: all {len(compared)} tools give the same records, "
                  f"the ordered ones in pattern order")


def report_sweep(outcomes: list) -> None:
    """One line per shape: the medians, the lead over the fastest peer and the one
    needed, the parse-only floor, on distinct patterns the floor of parsing and
    writing the output, and the program's peak memory."""
    titles = {"program": "aggregate", "baseline": "baseline", "sort": "sort|uniq", "awk": "awk",
              "duckdb": "DuckDB", "pandas": "pandas"}
    columns = SWEEP_COLUMNS[:1] + (("baseline",) if any("baseline" in o.results for o in outcomes)
                                   else ()) + SWEEP_COLUMNS[1:]
    print(f"\n  {'shape':<26} {'cases':>9} "
          + " ".join(f"{titles[t]:>9}" for t in columns)
          + f" {'lead':>6} {'need':>5} {'parse':>7} {'p/parse':>7} {'p/p+w':>7} {'peak MiB':>9} {'matrix':>7}"
          f"  memory  agree")
    for o in outcomes:
        cells = [seconds(o.wall(t)) if t in o.results else f"{'-':>9}" for t in columns]
        lead = o.lead()
        within = o.within_memory()
        program = o.results.get("program")
        print(f"  {o.data_set.name:<26} {o.data_set.ncases:>9,} {' '.join(cells)} "
              f"{ratio(lead, 1, 6)} {o.data_set.lead:5.1f} {seconds(o.wall('parse'), 7)} "
              f"{ratio(o.floor_ratio(), 1)} "
              f"{ratio(o.output_floor_ratio() if o.data_set.distinct() else None, 1)} "
              f"{mib(program.peak_kib if program else None)} "
              f"{o.data_set.matrix_bytes() / MIB:7.1f}  "
              f"{'within' if within else 'EXCEEDED' if within is not None else '?':<7} "
              f"{'yes' if not o.problems else 'NO: ' + '; '.join(o.problems)}"
              f"{'   <-- lead short' if lead is None or lead < o.data_set.lead else ''}")


def report_mistyped(outcomes: list) -> None:
    print(f"\nMistyped numbers of cases, each against a file of {MISTYPED_CASES:,} cases of "
          f"patterns that do not repeat; median wall seconds, highest peak:")
    for o in outcomes:
        matrix = o.ncases * o.nvars * 4 / MIB
        state = "end-of-file report" if o.run.ok else "FAILED: " + o.run.problem
        print(f"  {o.ncases:>13,} x {o.nvars} ({matrix:>8,.0f} MiB matrix): "
              f"{seconds(o.run.wall).strip()} s, peak {mib(o.run.peak_kib).strip()} MiB, {state}")


def phases_text(outcome: SetOutcome, tool: str) -> str:
    r = outcome.results.get(tool)
    if not r or not r.ok:
        return "-"
    return " / ".join(f"{r.phases[p]:.3f}" if p in r.phases else "-" for p in ("read", "sort", "write"))


def report_summary(sets: dict) -> None:
    """The sets in one table, a row for the program and one for the baseline where
    it ran; the floor is the reader and the writing together on distinct
    patterns, the reader alone on repeated ones."""
    print("\nSummary (medians in wall seconds; lead = sort | uniq -c / aggregate; floor = "
          "reader + writing on distinct patterns, reader alone on repeated ones):\n")
    print("| set | build | aggregate | `sort \\| uniq -c` | lead | cat | reader | floor "
          "| aggregate / floor | phases: read / sort / write | peak MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for name, o in sets.items():
        for tool in ("baseline", "program"):
            if tool not in o.results:
                continue
            build = "before" if tool == "baseline" else "after" if "baseline" in o.results else "this"
            lead, ratio_to_floor = o.sort_lead(tool), None
            if o.floor() and o.wall(tool):
                ratio_to_floor = o.wall(tool) / o.floor()
            print(f"| {name} | {build} | {seconds(o.wall(tool), 0)} | {seconds(o.wall('sort'), 0)} "
                  f"| {ratio(lead, 1, 0)} | {seconds(o.wall('cat'), 0)} | {seconds(o.wall('parse'), 0)} "
                  f"| {seconds(o.floor(), 0)} | {ratio(ratio_to_floor, 1, 0)} | {phases_text(o, tool)} "
                  f"| {mib(o.peak_kib(tool)).strip()} |")


class Targets:
    """Collects the targets as they are printed; all_met tells whether each was."""

    def __init__(self):
        self.all_met = True

    def check(self, text: str, met: bool) -> None:
        self.all_met = self.all_met and met
        print(f"  {'met    ' if met else 'NOT MET'}  {text}")


def lead_text(o: SetOutcome) -> str:
    fastest = o.fastest_peer()
    if o.lead() is None or fastest is None:
        return "not run"
    return f"{o.lead():.2f} ({TOOLS[fastest[1]].title} {fastest[0]:.3f} s / aggregate {o.wall('program'):.3f} s)"


def report_targets(sets: dict, sweep: Optional[list], mistyped: Optional[list],
                   exported: Optional[dict] = None) -> bool:
    """The targets of the sets that ran, met or not; returns whether all were met."""
    print("\nTargets (medians side by side in this run; lead = fastest peer / aggregate):")
    targets = Targets()
    outcomes = list(sets.values()) + (sweep or [])
    for name, o in sets.items():
        if o.data_set.lead is not None:
            lead = o.lead()
            targets.check(f"{name}: lead >= {o.data_set.lead:g}: {lead_text(o)}",
                          lead is not None and lead >= o.data_set.lead)
    if sweep is not None:
        short = [f"{o.data_set.name} {o.lead():.2f}" if o.lead() is not None
                 else f"{o.data_set.name} not run" for o in sweep
                 if o.lead() is None or o.lead() < o.data_set.lead]
        targets.check(f"sweep: lead >= 1.2, >= 2 on repeated patterns of 20 variables or more: "
                      f"short on {len(short)} of {len(sweep)} shapes"
                      + (f": {', '.join(short)}" if short else ""), not short)
    for name, o in sets.items():
        if not o.data_set.npatterns:
            continue
        value = o.floor_ratio()
        targets.check(f"{name}: aggregate within {FLOOR_RATIO:g}x of the parse-only "
                      f"pass: {ratio(value, 1).strip()}", value is not None and value <= FLOOR_RATIO)
    distinct = [(name, o) for name, o in sets.items() if o.data_set.distinct()]
    for name, o in distinct:
        value = o.output_floor_ratio()
        targets.check(f"{name}: aggregate within {OUTPUT_FLOOR_RATIO:g}x of the parse-only pass and "
                      f"the writing of its output: {ratio(value, 1).strip()}",
                      value is not None and value <= OUTPUT_FLOOR_RATIO)
    if sweep is not None:
        far = [f"{o.data_set.name} {ratio(o.output_floor_ratio(), 1).strip()}" for o in sweep
               if o.data_set.distinct() and (o.output_floor_ratio() is None
                                             or o.output_floor_ratio() > OUTPUT_FLOOR_RATIO)]
        targets.check(f"sweep: aggregate within {OUTPUT_FLOOR_RATIO:g}x of the parse-only pass and "
                      f"the writing of its output on distinct patterns: beyond on {len(far)} of "
                      f"{sum(o.data_set.distinct() for o in sweep)} shapes"
                      + (f": {', '.join(far)}" if far else ""), not far)
    if sweep is not None:
        repeated = [o for o in sweep if o.data_set.npatterns]
        far = [f"{o.data_set.name} {ratio(o.floor_ratio(), 1).strip()}" for o in repeated
               if o.floor_ratio() is None or o.floor_ratio() > FLOOR_RATIO]
        targets.check(f"sweep: aggregate within {FLOOR_RATIO:g}x of the parse-only pass on "
                      f"repeated patterns: beyond on {len(far)} of {len(repeated)} shapes"
                      + (f": {', '.join(far)}" if far else ""), not far)
    for name, o in distinct:
        value = o.sort_lead()
        targets.check(f"{name}: at least {SORT_LEAD:g}x ahead of sort | uniq -c: "
                      f"{ratio(value, 1).strip()}", value is not None and value >= SORT_LEAD)
    with_baseline = [(name, o) for name, o in sets.items() if o.wall("baseline") is not None]
    for name, o in with_baseline:
        peak, before = o.peak_kib(), o.peak_kib("baseline")
        targets.check(f"{name}: peak memory no more than the baseline's: {mib(peak).strip()} MiB "
                      f"against {mib(before).strip()}",
                      peak is not None and before is not None and peak <= before + 1024)
        if o.data_set.npatterns:
            value = o.floor_ratio("baseline")
            targets.check(f"{name}: repeated patterns no slower than the baseline, within "
                          f"{BASELINE_NOISE:g}x: {ratio(value, 1).strip()}x its time",
                          value is not None and value <= BASELINE_NOISE)
    beyond = [o.data_set.name for o in outcomes if o.within_memory() is False]
    unknown = [o.data_set.name for o in outcomes if o.within_memory() is None]
    targets.check("memory within the case matrix + 8 bytes a case + 16 MiB on every set"
                  + (f"; beyond on {', '.join(beyond)}" if beyond else "")
                  + (f"; not measured on {', '.join(unknown)}" if unknown else ""),
                  not beyond and not unknown)
    if mistyped is not None:
        beyond = [f"{o.ncases:,} x {o.nvars}" for o in mistyped
                  if not o.run.ok or o.run.peak_kib is None or o.run.peak_kib * 1024 > MISTYPED_PEAK]
        targets.check(f"a mistyped number of cases: the end-of-file report, peak under "
                      f"{MISTYPED_PEAK // MIB} MiB" + (f"; not on {', '.join(beyond)}" if beyond else ""),
                      not beyond)
    if exported is not None:
        export_targets(exported, targets.check)
    disagree = [o.data_set.name for o in outcomes if o.problems]
    targets.check("every tool gives the same records, the ordered ones in pattern order"
                  + (f"; not on {', '.join(disagree)}" if disagree else ""), not disagree)
    print("  memory on repeated patterns, aggregate's peak beside the case matrix (MiB):")
    for o in sets.values():
        program = o.results.get("program")
        if o.data_set.npatterns and program and program.ok:
            print(f"    {o.data_set.name}: {mib(program.peak_kib).strip()} of "
                  f"{o.data_set.matrix_bytes() / MIB:.1f}")
    return targets.all_met
