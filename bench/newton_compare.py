#!/usr/bin/python3
"""The second-order method against the default one, CalculiX and the scipy
peer: whole processes, side by side in one run, on the generator's squares.

Needs: the programs square and velora1 of a release build; for the CalculiX
rows ccx (Debian calculix-ccx); for the scipy rows python3-numpy and
python3-scipy (run with /usr/bin/python3). GNU time (/usr/bin/time) gives
the peak memory. Installs nothing.

Usage: /usr/bin/python3 bench/newton_compare.py --build build/release
       [--sizes 20 40 80 200 500] [--default-up-to 80] [--runs 1]
       [--ccx-sizes 32 64] [--ccx-thickness 1 0.001] [--scipy-sizes 40 80]

For every size n of --sizes: square writes input.txt (half side 1, young
1000, poisson 0.3, pressure 1); velora1 solves it with the default method
(only up to --default-up-to: beyond it the default method takes hours, and
its time is estimated from the measured sizes as stated in the table) and
with the second-order method. Each row gives wall and CPU time (user +
system, from GNU time; on a loaded machine the CPU time is the steadier
figure, as long as the program's threads do not wait on each other), peak
resident memory
per element, major iterations, the Newton steps, factorizations and regions the
program reports, and the centre deflection with its relative difference
from the default method's.

The second-order method is selected by --method newton, and --newton-counts
asks it for the line "newton: steps S factorizations F failed X evaluations
E cg iterations C ..." on standard error. (A build from before those options
is run as it was then: VELORA_METHOD=newton where it lacks --method, and
VELORA_NEWTON_COUNTS=1 where it lacks --newton-counts, so that an older
binary can be measured beside a newer one.)

--ccx-sizes: the same models solved by CalculiX on one thread (M3D3
membranes, NLGEOM, follower pressure: tools/calculix.py's model, run and
timed by ccx_square.py), once per
--ccx-thickness with E = young / thickness, beside velora1 with the
second-order method. --scipy-sizes: the same against the numpy/scipy
L-BFGS-B peer of compare.py (history 10).

The load of the machine (uptime) is printed before and after every part.
"""

import argparse
import math
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import calculix  # noqa: E402
import compare  # noqa: E402
import ccx_square  # noqa: E402

COUNTS_LINE = re.compile(r"^newton:((?:\s+[a-z][a-z ]*?\s+-?\d+)+)\s*$", re.M)
COUNT = re.compile(r"([a-z][a-z ]*?)\s+(-?\d+)")


def parse_counts(stderr_text):
    """The last "newton: name value ..." line of a run's standard error as a
    dictionary (a name of several words joined by "_"), or {} when there is
    none."""
    found = COUNTS_LINE.findall(stderr_text)
    if not found:
        return {}
    return {name.strip().replace(" ", "_"): int(value) for name, value in COUNT.findall(found[-1])}


def parse_summary(report_path):
    """Major iterations and last minor iterations from the head of output.txt."""
    summary = {}
    with open(report_path) as f:
        for _, line in zip(range(12), f):
            m = re.match(r"\|\s*(Major Iterations|Last Minor Iterations)\s*\|\s*(\d+)\s*\|", line)
            if m:
                summary[m.group(1)] = int(m.group(2))
    return summary.get("Major Iterations"), summary.get("Last Minor Iterations")


def run_process(cmd, cwd, env=None):
    """Wall seconds, peak resident KiB and CPU seconds (None without GNU
    time) and standard error of one run; a failing run raises."""
    timed = os.path.exists("/usr/bin/time")
    full = (["/usr/bin/time", "-v"] + cmd) if timed else cmd
    t = time.perf_counter()
    r = subprocess.run(full, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - t
    if r.returncode != 0:
        raise RuntimeError("%s failed in %s: %s" % (" ".join(cmd), cwd, r.stderr[-2000:]))
    peak, cpu = ccx_square.gnu_time_figures(r.stderr) if timed else (None, None)
    return seconds, peak, cpu, r.stderr


def options_of(velora1):
    """The set of velora1's options among --method and --newton-counts
    (asked in an empty folder, where a program without options fails on the
    missing input.txt and writes nothing)."""
    with tempfile.TemporaryDirectory() as d:
        r = subprocess.run([velora1, "--help"], cwd=d, capture_output=True, text=True)
        if r.returncode != 0:
            return set()
        return {o for o in ("--method", "--newton-counts") if o in r.stdout}


def solve(velora1, directory, newton, options):
    """One whole-process solve of directory/input.txt: a dictionary of time,
    peak memory, counts and the centre deflection."""
    env = dict(os.environ)
    for old in ("VELORA_METHOD", "VELORA_NEWTON_COUNTS"):
        env.pop(old, None)
    cmd = [velora1]
    if newton:
        if "--method" in options:
            cmd += ["--method", "newton"]
        else:
            env["VELORA_METHOD"] = "newton"
        if "--newton-counts" in options:
            cmd += ["--newton-counts"]
        else:
            env["VELORA_NEWTON_COUNTS"] = "1"
    seconds, peak, cpu, stderr = run_process(cmd, directory, env)
    majors, minors = parse_summary(os.path.join(directory, "output.txt"))
    row = {"seconds": seconds, "cpu": cpu, "peak": peak, "majors": majors, "minors": minors}
    row.update(parse_counts(stderr))
    return row


def deflection(directory, n):
    return compare.deflection_from_report(os.path.join(directory, "output.txt"), compare.centre_node(n))


def load():
    with open("/proc/loadavg") as f:
        return "load %s" % " ".join(f.read().split()[:3])


def make_square(root, n, square):
    d = os.path.join(root, "n%d" % n)
    os.makedirs(d, exist_ok=True)
    compare.write_square(d, n)
    subprocess.run([square], cwd=d, check=True, stdout=subprocess.DEVNULL)
    return d


def per_element(peak, n):
    return "-" if peak is None else "%.0f" % (peak * 1024 / (4 * n * n))


def estimate_default(measured, n):
    """Seconds of the default method at n, extrapolated from the two largest
    measured sizes by the power law through them."""
    sizes = sorted(measured)
    if len(sizes) < 2:
        return None, None
    a, b = sizes[-2], sizes[-1]
    exponent = math.log(measured[b] / measured[a]) / math.log(b / a)
    return measured[b] * (n / b) ** exponent, exponent


def times(row):
    """ "wall / cpu" seconds of a run."""
    cpu = "-" if row.get("cpu") is None else "%.2f" % row["cpu"]
    return "%.2f / %s" % (row["seconds"], cpu)


def ratios(slow, fast):
    """ "wall / cpu" ratio of two runs."""
    cpu = "-" if slow.get("cpu") is None or not fast.get("cpu") else "%.1f" % (slow["cpu"] / fast["cpu"])
    return "%.1f / %s" % (slow["seconds"] / fast["seconds"], cpu)


def relative(w, reference, tolerance=None):
    rel = (w - reference) / abs(reference)
    text = "%+.2e" % rel
    if tolerance is not None and abs(rel) > tolerance:
        text += " (over %.0e)" % tolerance
    return text, tolerance is not None and abs(rel) > tolerance


def part_methods(args, velora1, square, root, options):
    print("\n## velora1: default method against --method newton (%s)" % load(), flush=True)
    print("| n | elements | default s wall / cpu | newton s wall / cpu | speed-up wall / cpu | default B/elem"
          " | newton B/elem | factor B/elem | majors d / n | newton steps | factorizations (failed) | cg iterations"
          " | evaluations | regions (their steps) | w default | w newton | relative |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    measured = {}
    failures = 0
    for n in args.sizes:
        d = make_square(root, n, square)
        default = None
        if n <= args.default_up_to:
            runs = [solve(velora1, d, False, options) for _ in range(args.runs)]
            default = min(runs, key=lambda r: r["seconds"])
            default["w"] = deflection(d, n)
            measured[n] = default["seconds"]
        runs = [solve(velora1, d, True, options) for _ in range(args.runs)]
        newton = min(runs, key=lambda r: r["seconds"])
        newton["w"] = deflection(d, n)
        if default:
            td, speed, mem_d = times(default), ratios(default, newton), per_element(default["peak"], n)
            majors = "%s / %s" % (default["majors"], newton["majors"])
            wd = "%.8f" % default["w"]
            rel_text, over = relative(newton["w"], default["w"], args.tolerance)
            failures += over
        else:
            est, exponent = estimate_default(measured, n)
            td = "%.0f (estimated, n^%.2f)" % (est, exponent) if est else "-"
            speed = "%.0f (estimated)" % (est / newton["seconds"]) if est else "-"
            mem_d, majors, wd, rel_text = "-", "- / %s" % newton["majors"], "-", "-"
        fact = newton.get("factorizations")
        fact_text = "-" if fact is None else "%d (%d)" % (fact, newton.get("failed", 0))
        factor = newton.get("factor_entries")
        factor_text = "-" if factor is None else "%.0f" % (8.0 * factor / (4 * n * n))
        regions = newton.get("regions")
        regions_text = "-" if regions is None else "%d (%d)" % (regions, newton.get("region_steps", 0))
        print("| %d | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %.8f | %s |" % (
            n, 4 * n * n, td, times(newton), speed, mem_d, per_element(newton["peak"], n), factor_text, majors,
            newton.get("steps", "-"), fact_text, newton.get("cg_iterations", "-"), newton.get("evaluations", "-"),
            regions_text, wd, newton["w"], rel_text),
            flush=True)
    print("(%s)" % load())
    return failures


def part_ccx(args, velora1, square, root, options):
    print("\n## velora1 --method newton against CalculiX on one thread (%s)" % load(), flush=True)
    print("| n | elements | thickness | newton s wall / cpu | ccx s wall / cpu | ccx / newton wall / cpu"
          " | newton B/elem | ccx B/elem | ccx increments / iterations | w newton | w ccx | relative |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|")
    for n in args.ccx_sizes:
        d = make_square(root, n, square)
        newton = solve(velora1, d, True, options)
        newton["w"] = deflection(d, n)
        for t in args.ccx_thickness:
            c = os.path.join(d, "ccx_t%g" % t)
            os.makedirs(c, exist_ok=True)
            r = ccx_square.solve_with_ccx(os.path.join(d, "input.txt"), c, compare.centre_node(n), t)
            start = "" if r["start"] == calculix.INCREMENTS[0] else " (first increments %g, %g after %.0f s)" % (
                r["start"][0], r["start"][1], r["failed_seconds"])
            print("| %d | %d | %g | %s | %s | %s | %s | %s | %d / %d%s | %.8f | %.8f | %s |" % (
                n, 4 * n * n, t, times(newton), times(r), ratios(r, newton), per_element(newton["peak"], n),
                per_element(r["peak"], n), r["increments"], r["iterations"], start, newton["w"], r["w"],
                relative(r["w"], newton["w"])[0]), flush=True)
    print("(%s)" % load())


def part_scipy(args, velora1, square, root, options):
    print("\n## velora1 --method newton against the scipy L-BFGS-B peer, history 10 (%s)" % load(), flush=True)
    print("| n | elements | newton s wall / cpu | scipy s wall / cpu | scipy / newton wall / cpu | scipy evaluations"
          " | w newton | w scipy | relative |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for n in args.scipy_sizes:
        d = make_square(root, n, square)
        newton = solve(velora1, d, True, options)
        newton["w"] = deflection(d, n)
        cpu = time.process_time()
        seconds, evaluations, _, mem, x = compare.python_solve(os.path.join(d, "input.txt"), True, 10)
        peer = {"seconds": seconds, "cpu": time.process_time() - cpu}
        w = mem.displacements(x)[compare.centre_node(n) - 1, 2]
        print("| %d | %d | %s | %s | %s | %d | %.8f | %.8f | %s |" % (
            n, 4 * n * n, times(newton), times(peer), ratios(peer, newton), evaluations, newton["w"], w,
            relative(w, newton["w"])[0]), flush=True)
    print("(%s)" % load())


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/release", help="build folder with square/ and solver/")
    ap.add_argument("--sizes", type=int, nargs="*", default=[20, 40, 80, 200, 500])
    ap.add_argument("--default-up-to", type=int, default=80, help="largest n solved with the default method")
    ap.add_argument("--runs", type=int, default=1, help="runs per program and size (the fastest is kept)")
    ap.add_argument("--tolerance", type=float, default=1e-4, help="largest relative deflection difference")
    ap.add_argument("--ccx-sizes", type=int, nargs="*", default=[32, 64])
    ap.add_argument("--ccx-thickness", type=float, nargs="+", default=[1.0, 0.001])
    ap.add_argument("--scipy-sizes", type=int, nargs="*", default=[40, 80])
    ap.add_argument("--keep", help="work in this folder (kept) instead of a temporary one")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    square = os.path.join(build, "programs", "square")
    velora1 = os.path.join(build, "programs", "velora1")
    for p in (square, velora1):
        if not os.path.exists(p):
            sys.exit("missing %s: build the release programs first" % p)
    options = options_of(velora1)
    print("velora1 selects the method by %s and prints its counts by %s" % (
        "--method newton" if "--method" in options else "VELORA_METHOD=newton",
        "--newton-counts" if "--newton-counts" in options else "VELORA_NEWTON_COUNTS=1"))
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.abspath(args.keep) if args.keep else tmp
        failures = 0
        if args.sizes:
            failures += part_methods(args, velora1, square, root, options)
        if args.ccx_sizes:
            part_ccx(args, velora1, square, root, options)
        if args.scipy_sizes:
            part_scipy(args, velora1, square, root, options)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
