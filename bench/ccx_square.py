#!/usr/bin/python3
"""The generator's square solved by CalculiX (Debian calculix-ccx, program
ccx) on one thread, side by side with velora1: whole-process time, peak
memory and the centre deflection.

Needs: ccx, the programs square and velora1 of a release build, and
python3-numpy (the model reader is compare.py's). GNU time (/usr/bin/time)
gives the peak memory. Installs nothing.

Usage: /usr/bin/python3 bench/ccx_square.py --build build/release [--sizes 32 64]
       [--thickness 1 ...] [--tight] [--keep DIR]

The CalculiX model is the one in velora's "input.txt", read from the file:
the same nodes and triangles (M3D3 membranes, the node order kept, so the
element normals are the same), the same prescribed displacements, the
material with E = young / thickness (velora's young is the modulus of a
sheet of unit thickness, so with the default thickness 1 E is young), and
the element pressures as a pressure on the membrane. NLGEOM makes the
pressure follow the deformed surface, as velora's loads do between major
iterations.

A flat membrane has no stiffness across its plane until it is stretched, so
a Newton solve from the flat state meets a singular tangent (ccx answers with
displacements of 1e11 and gives up). The steps therefore are:
  1. every node held across the plane (Z), the membrane cooled by one degree
     with an expansion coefficient of 1e-3: a uniform tension of about
     young * 1e-3 / (1 - poisson), flat;
  2. the hold across the plane released (only the model's own supports
     remain) and the pressure applied;
  3. the temperature returned to zero with the pressure held, which takes the
     tension away again.
Steps 2 and 3 start with the whole step as one increment, which ccx cuts
back when an increment does not converge (and when ccx gives up, with
smaller first increments): at n = 24 that took 3 increments
and 20 iterations in 25 s, against 7 increments, 31 iterations and 36 s
when starting with a quarter and a half of the steps.
The end of step 3 is the equilibrium of the model itself (no temperature,
the model's supports and pressure), which is what velora solves; only the
path to it differs.

--tight tightens ccx's convergence test (residual force 1e-7 instead of
0.005 of the average force) for the accuracy comparison; the default keeps
ccx's own settings, which are what its users time.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (the model reader, the centre node, the report reader)

PRESTRAIN = 1e-3  # expansion coefficient times the cooling of step 1


def model_has_uniform_pressure(model):
    p = model["pressure"]
    return len(p) > 0 and bool((p == p[0]).all())


def write_ccx_input(model, path, centre, thickness=1.0, tight=False, increments=(1.0, 1.0)):
    """Writes the CalculiX input of a velora model (compare.read_model's
    dictionary) to path; the centre node's displacements are printed to the
    .dat file at the end of every increment of the last step. increments:
    the first increment of steps 2 and 3, as a fraction of the step (ccx
    then adapts it)."""
    coord, elem, fixed, displ = model["coord"], model["elem"], model["fixed"], model["displ"]
    if abs(model["density"]) > 0 or abs(model["action"]).max(initial=0.0) > 0:
        raise ValueError("only models loaded by pressure alone are written (no self-weight, no nodal forces)")
    if len(coord) and (coord[:, 2] != coord[0, 2]).any():
        raise ValueError("only flat models in a plane Z = constant are written (step 1 holds them along Z)")
    out = []
    out.append("** velora model, written by bench/ccx_square.py")
    out.append("*NODE, NSET=NALL")
    out.extend("%d, %.17g, %.17g, %.17g" % (k + 1, c[0], c[1], c[2]) for k, c in enumerate(coord))
    out.append("*ELEMENT, TYPE=M3D3, ELSET=EALL")
    out.extend("%d, %d, %d, %d" % (k + 1, e[0] + 1, e[1] + 1, e[2] + 1) for k, e in enumerate(elem))
    out.append("*NSET, NSET=CENTRE")
    out.append("%d" % centre)
    # The nodes that step 1 holds across the plane: those free along Z.
    flat = [p + 1 for p in range(len(coord)) if not fixed[p, 2]]
    out.append("*NSET, NSET=FLAT")
    out.extend(", ".join("%d" % p for p in flat[k:k + 16]) for k in range(0, len(flat), 16))
    out.append("*MATERIAL, NAME=SHEET")
    out.append("*ELASTIC")
    out.append("%.17g, %.17g" % (model["young"] / thickness, model["poisson"]))
    out.append("*EXPANSION")
    out.append("%.17g" % PRESTRAIN)
    out.append("*MEMBRANE SECTION, ELSET=EALL, MATERIAL=SHEET")
    out.append("%.17g" % thickness)
    out.append("*INITIAL CONDITIONS, TYPE=TEMPERATURE")
    out.append("NALL, 0.0")

    supports = []
    for p in range(len(coord)):
        for a in range(3):
            if fixed[p, a]:
                supports.append("%d, %d, %d, %.17g" % (p + 1, a + 1, a + 1, displ[p, a]))
    controls = []
    if tight:
        # Residual force at most 1e-7 of the average force (ccx: 0.005),
        # corrections at most 1e-6 of the increment (ccx: 0.01): converged
        # far past the 2e-4 of the comparison.
        controls = ["*CONTROLS, PARAMETERS=FIELD", "1e-7, 1e-6"]

    # Step 1: flat, every node held across the plane, cooled: a uniform tension.
    out.append("*STEP, NLGEOM, INC=1000")
    out.append("*STATIC")
    out.append("1.0, 1.0")
    out.extend(controls)
    out.append("*BOUNDARY")
    out.extend(supports)
    if flat:
        out.append("FLAT, 3, 3, 0.0")
    out.append("*TEMPERATURE")
    out.append("NALL, -1.0")
    out.append("*END STEP")
    # Step 2: the hold across the plane released, the pressure applied.
    out.append("*STEP, NLGEOM, INC=1000")
    out.append("*STATIC")
    out.append("%.17g, 1.0, 1e-6, 1.0" % increments[0])
    out.extend(controls)
    out.append("*BOUNDARY, OP=NEW")
    out.extend(supports)
    out.append("*DLOAD")
    # ccx expands a membrane into a volume element of the given thickness and
    # loads its face on the side of the normal (node order by the right
    # hand; the labels P1 and P2 give the same load). A positive pressure
    # pushes along the normal, as velora's does; scripts_test.py holds the
    # sign against velora's.
    if model_has_uniform_pressure(model):
        out.append("EALL, P2, %.17g" % model["pressure"][0])
    else:
        out.extend("%d, P2, %.17g" % (k + 1, p) for k, p in enumerate(model["pressure"]))
    out.append("*END STEP")
    # Step 3: the tension taken away; the pressure stays.
    out.append("*STEP, NLGEOM, INC=1000")
    out.append("*STATIC")
    out.append("%.17g, 1.0, 1e-6, 1.0" % increments[1])
    out.extend(controls)
    out.append("*TEMPERATURE")
    out.append("NALL, 0.0")
    out.append("*NODE PRINT, NSET=CENTRE")
    out.append("U")
    out.append("*END STEP")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def read_last_displacement(dat_path, node):
    """The displacement (x, y, z) of node in the last block of ccx's .dat file."""
    last = None
    with open(dat_path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 4 and parts[0] == str(node):
                try:
                    last = tuple(float(v) for v in parts[1:])
                except ValueError:
                    continue
    if last is None:
        raise RuntimeError("node %d has no displacement in %s" % (node, dat_path))
    return last


def ccx_counts(log_text):
    """Increments and Newton iterations (= factorizations) of a ccx run,
    from its console log."""
    iterations = len(re.findall(r"^\s*iteration \d+", log_text, re.M))
    increments = len(re.findall(r"^\s*increment \d+ attempt \d+", log_text, re.M))
    return increments, iterations


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


def run_ccx(directory, job="square", threads=1):
    """Runs ccx on directory/job.inp with threads threads (OMP_NUM_THREADS,
    CCX_NPROC_*): a dictionary of wall seconds, cpu seconds and peak memory
    in KiB (None without GNU time), increments and iterations."""
    env = dict(os.environ)
    for k in ("OMP_NUM_THREADS", "CCX_NPROC_STIFFNESS", "CCX_NPROC_EQUATION_SOLVER", "CCX_NPROC_RESULTS",
              "NUMBER_OF_CPUS", "OPENBLAS_NUM_THREADS"):
        env[k] = str(threads)
    cmd = ["ccx", job]
    timed = os.path.exists("/usr/bin/time")
    if timed:
        cmd = ["/usr/bin/time", "-v"] + cmd
    t = time.perf_counter()
    r = subprocess.run(cmd, cwd=directory, env=env, capture_output=True, text=True)
    seconds = time.perf_counter() - t
    with open(os.path.join(directory, job + ".log"), "w") as f:
        f.write(r.stdout)
    if r.returncode != 0 or "*ERROR" in r.stdout:
        raise RuntimeError("ccx failed in %s (status %d): %s" % (directory, r.returncode,
                                                                 "\n".join(r.stdout.splitlines()[-5:])))
    peak, cpu = gnu_time_figures(r.stderr) if timed else (None, None)
    increments, iterations = ccx_counts(r.stdout)
    return {"seconds": seconds, "cpu": cpu, "peak": peak, "increments": increments, "iterations": iterations}


# The first increments of steps 2 and 3 tried in turn: ccx's fastest way
# first; when ccx gives up ("too many cutbacks", as it does at n = 32 with
# thickness 1 starting from whole steps), smaller ones.
INCREMENTS = ((1.0, 1.0), (0.25, 0.5), (0.05, 0.1))


def solve_with_ccx(input_path, directory, centre, thickness=1.0, tight=False, threads=1):
    """Writes and runs the CalculiX model of velora's input_path in
    directory: run_ccx's dictionary with the centre deflection along Z
    added as "w", the first increments that succeeded as "start" and the
    wall seconds of the attempts that failed before as "failed_seconds"."""
    model = compare.read_model(input_path)
    failed = 0.0
    for k, increments in enumerate(INCREMENTS):
        write_ccx_input(model, os.path.join(directory, "square.inp"), centre, thickness, tight, increments)
        t = time.perf_counter()
        try:
            r = run_ccx(directory, "square", threads)
        except RuntimeError as e:
            failed += time.perf_counter() - t
            if "too many cutbacks" not in str(e) or k + 1 == len(INCREMENTS):
                raise
            continue
        r["w"] = read_last_displacement(os.path.join(directory, "square.dat"), centre)[2]
        r["start"] = increments
        r["failed_seconds"] = failed
        return r


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
