#!/usr/bin/python3
"""The generator's square solved by CalculiX (Debian calculix-ccx, program
ccx) on one thread, side by side with velora1: whole-process time, peak
memory and the centre deflection.

Needs: ccx, the programs square and velora1 of a release build, and
python3-numpy and python3-scipy (compare.py, which writes the square and
reads velora's report, imports them). GNU time (/usr/bin/time) gives the
peak memory. Installs nothing.

Usage: /usr/bin/python3 bench/ccx_square.py --build build/release [--sizes 32 64]
       [--thickness 1 ...] [--tight] [--keep DIR]

The CalculiX model is tools/calculix.py's (the module's docstring gives
its rules: the mesh, the thickness, the pressure's face and sign, the three
steps that start ccx from a stretched flat sheet). Steps 2 and 3 start
with the whole step as one increment, which ccx cuts back when an
increment does not converge (and when ccx gives up, with smaller first
increments): at n = 24 that took 3 increments and 20 iterations in 25 s,
against 7 increments, 31 iterations and 36 s when starting with a quarter
and a half of the steps.

--tight tightens ccx's convergence test (residual force 1e-7 instead of
0.005 of the average force) for the accuracy comparison; the default keeps
ccx's own settings, which are what its users time.
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import calculix  # noqa: E402  (the CalculiX model, ccx's runs and its output)
import compare  # noqa: E402  (the square, its centre node, velora's report)


def gnu_time_figures(text):
    """Peak resident memory (KiB) and CPU seconds (user + system) from the
    report of GNU time -v; None for what the text does not hold."""
    peak, cpu = None, None
    for line in text.splitlines():
        key, _, value = line.strip().rpartition(": ")
        if key == "Maximum resident set size (kbytes)":
            peak = int(value)
        elif key in ("User time (seconds)", "System time (seconds)"):
            cpu = (cpu or 0.0) + float(value)
    return peak, cpu


def solve_with_ccx(input_path, directory, centre, thickness=1.0, tight=False, threads=1):
    """The CalculiX model of velora's input_path solved in directory
    (calculix.solve, under GNU time when /usr/bin/time is there): a
    dictionary of wall "seconds", "cpu" seconds and "peak" memory in KiB
    (None without GNU time), "increments" and "iterations", the centre
    deflection along Z "w", the first increments that succeeded "start"
    and the wall seconds of the attempts that failed before
    "failed_seconds"."""
    model = calculix.read_model(input_path)
    timed = os.path.exists("/usr/bin/time")
    r = calculix.solve(model, directory, "square", thickness, tight, [centre], threads,
                       ["/usr/bin/time", "-v"] if timed else ())
    peak, cpu = gnu_time_figures(r["stderr"]) if timed else (None, None)
    return {"seconds": r["seconds"], "cpu": cpu, "peak": peak, "increments": r["increments"],
            "iterations": r["iterations"], "w": r["displacements"][centre][2], "start": r["start"],
            "failed_seconds": r["failed_seconds"]}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/release", help="build folder with square/ and solver/")
    ap.add_argument("--sizes", type=int, nargs="+", default=[32, 64])
    ap.add_argument("--thickness", type=float, nargs="+", default=[1.0], help="one ccx run per thickness")
    ap.add_argument("--tight", action="store_true", help="tighten ccx's convergence test")
    ap.add_argument("--tolerance", type=float, default=2e-4, help="largest relative difference accepted")
    ap.add_argument("--keep", help="work in this folder (kept) instead of a temporary one")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    square = os.path.join(build, "programs", "square")
    velora1 = os.path.join(build, "programs", "velora1")
    for p in (square, velora1):
        if not os.path.exists(p):
            sys.exit("missing %s: build the release programs first" % p)

    failures = 0
    print("%5s %8s %9s | %10s %10s | %10s %10s %6s %6s | %12s %12s %10s" % (
        "n", "elements", "thickness", "velora1 s", "ccx s", "velora KB", "ccx KB", "incr", "iters",
        "w velora1", "w ccx", "relative"))
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.abspath(args.keep) if args.keep else tmp
        for n in args.sizes:
            d = os.path.join(root, "n%d" % n)
            os.makedirs(d, exist_ok=True)
            compare.write_square(d, n)
            subprocess.run([square], cwd=d, check=True, stdout=subprocess.DEVNULL)
            centre = compare.centre_node(n)
            tv, pv = compare.run_timed(velora1, d)
            wv = compare.deflection_from_report(os.path.join(d, "output.txt"), centre)
            for t in args.thickness:
                c = os.path.join(d, "ccx_t%g" % t)
                os.makedirs(c, exist_ok=True)
                r = solve_with_ccx(os.path.join(d, "input.txt"), c, centre, t, args.tight)
                rel = (r["w"] - wv) / abs(wv)
                flag = "" if abs(rel) <= args.tolerance else "  DIFFERS"
                failures += bool(flag)
                print("%5d %8d %9g | %10.3f %10.3f | %10d %10s %6d %6d | %12.8f %12.8f %+10.2e%s" % (
                    n, 4 * n * n, t, tv, r["seconds"], pv, r["peak"] if r["peak"] is not None else "-",
                    r["increments"], r["iterations"], wv, r["w"], rel, flag), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
