#!/usr/bin/env python3
"""Benchmarks the census against its own Setup API calls.

For each N, plants N devices (bench/devices.py) into a Wine prefix and alternates the census
program with census_baseline.exe, which makes the same Setup API calls and nothing else; the
ratio of each census run to the baseline run beside it is the program's own share. Then counts
instructions on the simulated platform with callgrind for the census and the baseline, at the
same N, whose difference per device is the program's own work. Then, with --inprocess, times
the census and the same calls inside one process (census_inprocess.exe), many rounds, for each
width given, in a 64-bit prefix of its own: no process start weighs on the ratio. Writes
results.json, ratio-vs-n.png and RESULTS.md into OUT_DIR.

usage: wine_bench.py --arch win32|win64 --census EXE --baseline EXE --sim-bench EXE
                     --prefix DIR --out OUT_DIR [--inprocess-prefix DIR
                     --inprocess x86=EXE --inprocess x64=EXE] N [N ...]
       wine_bench.py --report-only DIR    renders DIR/RESULTS.md and the plot from
                                          DIR/results.json again"""

import argparse
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import devices  # noqa: E402
import winetest  # noqa: E402

# Wall times under Wine vary by tens of percent from run to run (and come in steps of about
# 50 ms), so the smaller lists get more runs.
def reps(n):
    return 21 if n <= 1000 else 7


def plant(prefix, devs):
    lines = prefix.clear_lines() + [""] + prefix.record_lines("absent")
    for instance, hw, compat in devs:
        props = {"HardwareID": winetest.reg_hex(7, winetest.multi_sz(hw))}
        if compat:
            props["CompatibleIDs"] = winetest.reg_hex(7, winetest.multi_sz(compat))
        lines += prefix.device_lines(instance, props)
    prefix.import_reg(lines)


def server_cpu(prefix):
    """CPU seconds the prefix's wineserver has used: it answers every registry query."""
    total = 0.0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix.path}".encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            continue
    return total


def timed(prefix, exe):
    """Wall time of one run, and its CPU time: the process's own and the wineserver's."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    server = server_cpu(prefix)
    start = time.perf_counter()
    r = prefix.wine([exe])
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime +
           server_cpu(prefix) - server)
    return wall, cpu, r


def wine_figures(prefix, census, baseline, n):
    devs, matches = devices.generate(n)
    plant(prefix, devs)
    timed(prefix, census)  # warm-up: caches, the prefix's services
    timed(prefix, baseline)
    t_census, t_baseline, cpu_census, cpu_baseline = [], [], [], []
    result = None
    for _ in range(reps(n)):
        t, cpu, r = timed(prefix, census)
        t_census.append(t)
        cpu_census.append(cpu)
        result = (r.returncode, r.stdout.count(b"\r\n"), prefix.read_record())
        t, cpu, _ = timed(prefix, baseline)
        t_baseline.append(t)
        cpu_baseline.append(cpu)
    status, lines, record = result
    ok = record == matches and lines == matches and status == matches % 256
    pairs = sorted(c / b for c, b in zip(t_census, t_baseline))
    quart = statistics.quantiles(pairs, n=4) if len(pairs) > 1 else [pairs[0]] * 3
    med_c, med_b = statistics.median(t_census), statistics.median(t_baseline)
    return {
        "n": n, "matches": matches, "record": record, "lines": lines, "exit_status": status,
        "result_ok": ok, "reps": len(t_census),
        "census_median_s": med_c, "baseline_median_s": med_b,
        "ratio": statistics.median(pairs), "ratio_quartiles": [quart[0], quart[2]],
        "ratio_range": [pairs[0], pairs[-1]],
        "census_spread_s": [min(t_census), max(t_census)],
        "baseline_spread_s": [min(t_baseline), max(t_baseline)],
        "census_cpu_median_s": statistics.median(cpu_census),
        "baseline_cpu_median_s": statistics.median(cpu_baseline),
        "cpu_ratio": statistics.median(cpu_census) / statistics.median(cpu_baseline),
    }


# Rounds of the in-process benchmark: a round at N = 10,000 takes about 50 s under Wine.
def rounds(n):
    return 201 if n <= 100 else 41 if n <= 1000 else 7


def quartiles(values):
    q = statistics.quantiles(values, n=4) if len(values) > 1 else [values[0]] * 3
    return q[0], statistics.median(values), q[2]


def inprocess_figures(prefix, exes, n):
    """The census and its calls alone, timed inside one process, for each (width, program):
    the median of the per-round ratios and their quartiles."""
    devs, matches = devices.generate(n)
    plant(prefix, devs)
    figures = []
    for width, exe in exes:
        loader = "wine" if width == "x86" else prefix.loader
        r = subprocess.run([loader, exe, str(rounds(n))], env=prefix.env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, timeout=3600, check=True)
        fields = {line.split()[0]: line.split()[1:]
                  for line in r.stderr.decode().splitlines() if line.strip()}
        census = [float(t) for t in fields["census"]]
        baseline = [float(t) for t in fields["baseline"]]
        q1, med, q3 = quartiles([c / b for c, b in zip(census, baseline)])
        figures.append({"n": n, "width": width, "rounds": len(census), "matches": matches,
                        "count": int(fields["count"][0]), "ratio": med,
                        "ratio_quartiles": [q1, q3],
                        "census_median_s": statistics.median(census),
                        "baseline_median_s": statistics.median(baseline)})
    return figures


def instructions(sim_bench, mode, tsv):
    """Instructions executed inside the census (or one wait poll, or the baseline), callees
    included."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        fn = {"census": "CountPresentDongles*", "poll": "WalkPresentDongles*",
              "baseline": "BaselineCalls*"}[mode]
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                        f"--toggle-collect={fn}", sim_bench, mode, tsv], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out) as f:
            for line in f:
                if line.startswith("summary:") or line.startswith("totals:"):
                    return int(line.split()[1])
    raise RuntimeError("no totals in callgrind output")


def callgrind_figures(sim_bench, n):
    devs, matches = devices.generate(n)
    with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as f:
        for instance, hw, compat in devs:
            f.write(f"{instance}\t{'|'.join(hw)}\t{'|'.join(compat)}\n")
        tsv = f.name
    try:
        census = instructions(sim_bench, "census", tsv)
        baseline = instructions(sim_bench, "baseline", tsv)
        poll = instructions(sim_bench, "poll", tsv)
    finally:
        os.unlink(tsv)
    return {"n": n, "matches": matches, "census_instructions": census,
            "baseline_instructions": baseline, "own_instructions": census - baseline,
            "poll_instructions": poll,
            "own_per_device": (census - baseline) / n}


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    ns = [r["n"] for r in results]
    med = [r["ratio"] for r in results]
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=110)
    ax.vlines(ns, [r["ratio_range"][0] for r in results], [r["ratio_range"][1] for r in results],
              colors="0.7", linewidth=1, label="range of the runs")
    ax.errorbar(ns, med, yerr=[[m - r["ratio_quartiles"][0] for m, r in zip(med, results)],
                               [r["ratio_quartiles"][1] - m for m, r in zip(med, results)]],
                marker="o", capsize=5, linestyle="-", label="median, with quartiles")
    ax.axhline(1.0, color="0.3", linewidth=0.8)
    ax.axhline(1.05, color="tab:red", linewidth=0.8, linestyle="--", label="goal: 1.05")
    ax.set_xscale("log")
    ax.set_xlabel("devices planted (N)")
    ax.set_ylabel("wall time, census run / baseline run beside it")
    ax.set_title("The program's share of a census under Wine")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)


def machine(loader):
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run([loader, "--version"], capture_output=True, text=True).stdout.strip()
    return {"cpu": cpu, "cores": os.cpu_count(), "kernel": platform.release(), "wine": wine,
            "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())}


def main():
    if sys.argv[1:2] == ["--report-only"] and len(sys.argv) == 3:
        # Renders RESULTS.md and the plot again from DIR/results.json, measuring nothing.
        with open(os.path.join(sys.argv[2], "results.json")) as f:
            results = json.load(f)
        plot(results["wine"], os.path.join(sys.argv[2], "ratio-vs-n.png"))
        write_report(results, os.path.join(sys.argv[2], "RESULTS.md"))
        return 0
    ap = argparse.ArgumentParser(usage=__doc__)
    for name in ("--census", "--baseline", "--sim-bench", "--prefix", "--out"):
        ap.add_argument(name, required=True)
    ap.add_argument("--arch", choices=("win32", "win64"), required=True)
    ap.add_argument("--inprocess-prefix")
    ap.add_argument("--inprocess", action="append", default=[],
                    help="WIDTH=EXE: census_inprocess.exe built for x86 or x64")
    ap.add_argument("ns", nargs="+", type=int)
    a = ap.parse_args()
    exes = [tuple(x.split("=", 1)) for x in a.inprocess]
    prefix = winetest.Prefix(a.prefix, a.arch)
    wine = []
    with prefix.session():
        for n in a.ns:
            wine.append(wine_figures(prefix, a.census, a.baseline, n))
            r = wine[-1]
            print(f"N={n}: ratio {r['ratio']:.3f} (CPU {r['cpu_ratio']:.3f})  "
                  f"census {r['census_median_s']:.3f} s  baseline {r['baseline_median_s']:.3f} s  "
                  f"result {r['record']} (planted {r['matches']}, "
                  f"{'ok' if r['result_ok'] else 'WRONG'})", flush=True)
    grind = []
    for n in a.ns:
        grind.append(callgrind_figures(a.sim_bench, n))
        g = grind[-1]
        print(f"N={n}: {g['own_per_device']:.1f} own instructions per device "
              f"(census {g['census_instructions']}, baseline {g['baseline_instructions']})",
              flush=True)
    inprocess = []
    if exes:
        prefix64 = winetest.Prefix(a.inprocess_prefix, "win64")
        with prefix64.session():
            for n in a.ns:
                inprocess += inprocess_figures(prefix64, exes, n)
                for r in inprocess[-len(exes):]:
                    q = r["ratio_quartiles"]
                    print(f"N={n} {r['width']} in one process: ratio {r['ratio']:.3f} "
                          f"({q[0]:.3f}-{q[1]:.3f}), {r['rounds']} rounds, count {r['count']} "
                          f"(planted {r['matches']})", flush=True)
    results = {"machine": machine(prefix.loader), "arch": a.arch,
               "program": os.path.basename(a.census), "wine": wine, "callgrind": grind,
               "inprocess": inprocess, "exe_size": os.path.getsize(a.census)}
    os.makedirs(a.out, exist_ok=True)
    with open(os.path.join(a.out, "results.json"), "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    plot(wine, os.path.join(a.out, "ratio-vs-n.png"))
    write_report(results, os.path.join(a.out, "RESULTS.md"))
    return 0 if all(r["result_ok"] for r in wine) and \
        all(r["count"] == r["matches"] for r in inprocess) else 1


def write_report(res, path):
    m = res["machine"]
    bits = "32-bit" if res["arch"] == "win32" else "64-bit"
    lines = [
        "# Benchmark results", "",
        f"Measured {m['date']} on {m['cpu']} ({m['cores']} cores), Linux {m['kernel']}, "
        f"{m['wine']}, {bits} Wine, `{res['program']}`. Made by `bench/run`; raw figures in "
        "`results.json`.", "",
        "## The program's share of the census under Wine", "",
        f"Each run is a whole process under Wine: `{res['program']}` against "
        "`census_baseline.exe`, which makes the same Setup API calls (the device list, both "
        "identifier reads of every device, the release) and nothing else, alternated, after one "
        "warm-up run of each. The ratio is the median of the ratios of each census run to the "
        "baseline run beside it, with their quartiles; the CPU ratio is of the median CPU times "
        "of the process and of the prefix's wineserver, which answers every registry query.", "",
        "| N | ratio census / baseline (quartiles) | census median (range) | "
        "baseline median (range) | CPU ratio | runs | result (planted) |",
        "|---|---|---|---|---|---|---|",
    ]
    for r in res["wine"]:
        q = r["ratio_quartiles"]
        lines.append(
            f"| {r['n']} | **{r['ratio']:.3f}** ({q[0]:.3f}–{q[1]:.3f}) | "
            f"{r['census_median_s']:.3f} s ({r['census_spread_s'][0]:.3f}–"
            f"{r['census_spread_s'][1]:.3f}) | {r['baseline_median_s']:.3f} s "
            f"({r['baseline_spread_s'][0]:.3f}–{r['baseline_spread_s'][1]:.3f}) | "
            f"{r['cpu_ratio']:.3f} | {r['reps']} | {r['record']} ({r['matches']}), "
            f"exit status {r['exit_status']}, {r['lines']} lines |")
    lines += ["", "![ratio against N](ratio-vs-n.png)", ""]
    if res.get("inprocess"):
        lines += ["## The program's share inside one process", "",
                  "`census_inprocess.exe` takes the census as `donglecensus.exe` does "
                  "(`CountPresentDongles`: the device list, the rule, the lines, sent to NUL, and "
                  "the record) and makes the baseline's calls, timed with "
                  "QueryPerformanceCounter inside one process, one of each a round, the order "
                  "swapped every round, after one warm-up of each, in a 64-bit prefix with both "
                  "widths. No process start weighs on either. The ratio is the median of the "
                  "rounds' ratios, with their quartiles.", "",
                  "| N | width | ratio census / baseline (quartiles) | census median | "
                  "baseline median | rounds | count (planted) |",
                  "|---|---|---|---|---|---|---|"]
        for r in res["inprocess"]:
            q = r["ratio_quartiles"]
            lines.append(f"| {r['n']} | {r['width']} | **{r['ratio']:.3f}** ({q[0]:.3f}–"
                         f"{q[1]:.3f}) | {r['census_median_s']:.4f} s | "
                         f"{r['baseline_median_s']:.4f} s | {r['rounds']} | {r['count']} "
                         f"({r['matches']}) |")
        lines.append("")
    lines += [
              "## The program's own work, in instructions", "",
              "On the simulated platform, under `valgrind --tool=callgrind`, counting the "
              "instructions inside `CountPresentDongles` and inside the baseline's calls "
              "(callees included); their difference is the program's own work. A poll is one "
              "poll of `donglectl wait`: the census's walk and rule without the record.", "",
              "| N | census | baseline | own | own per device | one wait poll |",
              "|---|---|---|---|---|---|"]
    for g in res["callgrind"]:
        lines.append(f"| {g['n']} | {g['census_instructions']:,} | "
                     f"{g['baseline_instructions']:,} | {g['own_instructions']:,} | "
                     f"{g['own_per_device']:.1f} | {g['poll_instructions']:,} |")
    g = res["callgrind"]
    lines += ["", "## Size", "", f"`{res['program']}` as built: {res['exe_size']:,} bytes "
              f"({res['exe_size'] / 1024:.1f} KiB), the static C++ and GCC runtimes included."]

    worst = max(r["ratio"] for r in res["wine"])
    inproc = res.get("inprocess") or []
    worst_in = max((r["ratio"] for r in inproc), default=None)
    within = all(abs(q / r["ratio"] - 1) <= 0.05 for r in inproc for q in r["ratio_quartiles"])
    # Flat per-device work between the two largest lists: at the smallest, the census's fixed
    # work (the record's key, the process) weighs on every device.
    flat = (abs(g[-1]["own_per_device"] / g[-2]["own_per_device"] - 1)
            if len(g) > 1 else None)
    verdict = lambda ok: "met" if ok else "NOT met"  # noqa: E731
    lines += ["", "## Goals", "",
              f"- census / baseline ≤ 1.05 at every N, whole processes: "
              f"{verdict(worst <= 1.05)} (the highest median ratio is {worst:.3f}).",
              (f"- census / baseline ≤ 1.05 at every N, inside one process: "
               f"{verdict(worst_in <= 1.05)} (the highest median ratio is {worst_in:.3f}; the "
               f"quartiles {'lie' if within else 'do NOT lie'} within ±5 % of the median at every "
               f"N and width)." if worst_in is not None else
               "- census / baseline ≤ 1.05 inside one process: not measured."),
              (f"- own instructions per device at N = {g[-1]['n']:,} within 5 % of those at "
               f"N = {g[-2]['n']:,}: {verdict(flat <= 0.05)} ({100 * flat:.2f} %)."
               if flat is not None else
               "- own instructions per device the same at every N (within 5 %): not measured "
               "(one size only)."),
              f"- stripped exe ≤ 64 KiB: {verdict(res['exe_size'] <= 65536)}."
              if res["arch"] == "win32" else
              "- stripped exe ≤ 64 KiB: not measured (the x64 build is a test program, not the "
              "release)."]
    big, small = res["wine"][-1], res["wine"][0]
    share = g[-1]["own_instructions"] / g[-1]["baseline_instructions"]
    iqr = max(r["ratio_quartiles"][1] - r["ratio_quartiles"][0] for r in res["wine"])
    spread = max(max(r["census_spread_s"][1] / r["census_median_s"] - 1,
                     1 - r["census_spread_s"][0] / r["census_median_s"]) for r in res["wine"])
    lines += ["", "## Reading the figures", "",
              f"The program's own work is {g[-1]['own_per_device']:,.0f} instructions per device "
              f"at N = {g[-1]['n']:,}: {100 * share:.1f} % of the instructions of the platform "
              f"calls it makes on the simulated platform, which does far less than Wine does. "
              f"Under Wine the device list and the reads cost "
              f"{1000 * big['baseline_median_s'] / big['n']:.2f} ms per device at "
              f"N = {big['n']:,}"
              + (f" ({1000 * small['baseline_median_s'] / small['n']:.2f} ms at "
                 f"N = {small['n']:,})" if small is not big else "")
              + ", so the ratio stays within the noise of timing whole "
              f"processes: single runs lay up to {100 * spread:.0f} % from their median, and "
              f"the quartiles of the ratio span up to {iqr:.3f}.", "",
              f"One poll of `donglectl wait` at N = {g[-1]['n']:,} costs "
              f"{g[-1]['poll_instructions']:,} instructions on the simulated platform, "
              f"{100 * g[-1]['poll_instructions'] / g[-1]['census_instructions']:.1f} % of a "
              f"census, since it makes the same device list and reads and skips only the record; "
              f"under Wine it costs what a census costs, about {big['census_median_s']:.1f} s at "
              f"N = {big['n']:,}, so at that size the 0.5 s poll interval is taken up by the poll "
              f"itself and wait answers within one poll's time.", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    sys.exit(main())
