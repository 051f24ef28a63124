#!/usr/bin/python3
"""Whole-process timings of velora1 and velora2 on square models, side by
side with what a Python user would write instead:

  numpy    velora's own method transcribed: the same energy, loads, line
           search and two-loop recursion, every sum in the order the C++
           code adds, so it takes the same path (the report's iteration
           counts and energy are checked equal at every size, the number
           of evaluations on the first size, counted in velora1 with
           valgrind's callgrind when it is there): the time ratio measures
           the implementation, not the method;
  scipy    the same energy minimised by scipy's L-BFGS-B (history 3 and
           10) to the same stopping rule: another method, for scale.

Needs: python3-numpy and python3-scipy (Debian packages; run with
/usr/bin/python3, the interpreter they install into), the programs square,
velora1 and velora2 of a release build, and, for the per-evaluation ratio,
the Google Benchmark program solver_green_benchmark of a build configured
with -DBUILD_BENCHMARKS=ON. GNU time (/usr/bin/time) gives the peak
memory when present; otherwise it is read from /proc while the program runs.
Installs nothing.

Usage: /usr/bin/python3 bench/compare.py --build build/bench [--sizes 10 20 40 80]
       [--runs 5] [--large-runs 1] [--large-from 80] [--python-up-to 80] [--no-scipy]

For every size n: square writes input.txt (half side 1, young 1000,
poisson 0.3, pressure 1); each solver is timed as a whole process (median
of --runs runs, --large-runs from n = --large-from on); the Python peers read
the same input.txt and run major iterations like the solvers (loads frozen
during one minimiser run, refreshed after it, stop when the largest residual
is at most the allowable residue, which is mntol times the largest initial
residual). The centre deflections must agree to 1e-3.
"""

import argparse
import json
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

try:
    import numpy as np
    from scipy.optimize import minimize
except ImportError:  # pragma: no cover - environment message
    sys.exit("compare.py needs numpy and scipy: apt-get install python3-numpy python3-scipy, "
             "then run it with /usr/bin/python3")


# ---------------------------------------------------------------- the model

def read_model(path):
    """Reads input.txt: seven sections, each after a line starting with ':'."""
    with open(path) as f:
        lines = f.read().split("\n")
    markers = [k for k, line in enumerate(lines) if line.startswith(":")][:7] + [len(lines)]
    # Each section's numbers follow its marker; the labels of the next
    # section come after them and are never reached (the counts are known).
    sections = [" ".join(lines[markers[k] + 1:markers[k + 1]]).split() for k in range(7)]
    p, mat, nodes, elems, cons, loads, press = sections
    m = {}
    m["lstol"], m["maxls"], m["mntol"], m["mnref"] = float(p[0]), int(p[1]), float(p[2]), float(p[3])
    m["maxminor"], m["maxlist"], m["maxmajor"] = int(p[4]), int(p[5]), int(p[6])
    m["young"], m["poisson"], m["density"] = map(float, mat[:3])
    nnode = int(nodes[0])
    t = np.array(nodes[1:1 + 4 * nnode], dtype=float).reshape(nnode, 4)
    m["coord"] = t[:, 1:4].copy()
    nelem = int(elems[0])
    t = np.array(elems[1:1 + 4 * nelem], dtype=np.int64).reshape(nelem, 4)
    m["elem"] = t[:, 1:4] - 1
    ncons = int(cons[0])
    t = np.array(cons[1:1 + 3 * ncons], dtype=float).reshape(ncons, 3)
    fixed = np.zeros((nnode, 3), dtype=bool)
    displ = np.zeros((nnode, 3))
    for node, axis, value in t:
        fixed[int(node) - 1, int(axis) - 1] = True
        displ[int(node) - 1, int(axis) - 1] = value
    m["fixed"], m["displ"] = fixed, displ
    nload = int(loads[0])
    t = np.array(loads[1:1 + 4 * nload], dtype=float).reshape(nload, 4)
    action = np.zeros((nnode, 3))
    for row in t:
        action[int(row[0]) - 1] += row[1:4]
    m["action"] = action
    npress = int(press[0])
    t = np.array(press[1:1 + 2 * npress], dtype=float).reshape(npress, 2)
    pressure = np.zeros(nelem)
    pressure[t[:, 0].astype(np.int64) - 1] = t[:, 1]
    m["pressure"] = pressure
    return m


def ordered_sum(v):
    """The sum of v from 0.0 in index order, as the C++ loops add (numpy's
    sum and dot add in blocks, which changes last bits)."""
    return float(np.cumsum(v)[-1]) if len(v) else 0.0


def odot(a, b):
    """a.b from 0.0 in index order: the minimiser's dot products."""
    return ordered_sum(a * b)


class Membrane:
    """Energy, gradient and loads of the membrane, all elements at once,
    each operation in the order the C++ kernel does it, so the results are
    the same bit for bit and the minimiser takes the same path."""

    FROM = (1, 2, 0)  # side k runs from vertex FROM[k] to vertex TO[k]
    TO = (2, 0, 1)

    def __init__(self, m, green):
        self.m = m
        self.green = green
        elem = m["elem"]
        p = m["coord"][elem]                                # (nelem, 3 vertices, 3 axes)
        vec = p[:, self.TO, :] - p[:, self.FROM, :]         # (nelem, 3 sides, 3 axes)
        length = np.sqrt((vec[:, :, 0] * vec[:, :, 0] + vec[:, :, 1] * vec[:, :, 1]) + vec[:, :, 2] * vec[:, :, 2])
        self.length = length
        self.dir = vec / length[:, :, None]
        d = self.dir

        def dot3(p, q):
            return (p[:, 0] * q[:, 0] + p[:, 1] * q[:, 1]) + p[:, 2] * q[:, 2]
        c1 = np.minimum(-dot3(d[:, 1], d[:, 2]), 1.0)
        c2 = np.minimum(-dot3(d[:, 2], d[:, 0]), 1.0)
        s1 = np.sqrt(1.0 - c1 * c1)
        s2 = np.sqrt(1.0 - c2 * c2)
        c3 = s1 * s2 - c1 * c2
        s3 = s2 * c1 + s1 * c2
        nu = m["poisson"]
        f = (m["young"] / (1.0 - nu * nu)) * 0.5
        k = np.empty((len(elem), 3, 3))
        k[:, 0, 0] = ((1.0 + c1 * c1) - nu * (s1 * s1)) * f / (s2 * s2) / (s3 * s3)
        k[:, 0, 1] = ((c1 * c2 - c3) + (nu * s1) * s2) * f / s1 / s2 / (s3 * s3)
        k[:, 0, 2] = ((c1 * c3 - c2) + (nu * s1) * s3) * f / s1 / (s2 * s2) / s3
        k[:, 1, 1] = ((1.0 + c2 * c2) - nu * (s2 * s2)) * f / (s1 * s1) / (s3 * s3)
        k[:, 1, 2] = ((c2 * c3 - c1) + (nu * s2) * s3) * f / (s1 * s1) / s2 / s3
        k[:, 2, 2] = ((1.0 + c3 * c3) - nu * (s3 * s3)) * f / (s1 * s1) / (s2 * s2)
        k[:, 1, 0], k[:, 2, 0], k[:, 2, 1] = k[:, 0, 1], k[:, 0, 2], k[:, 1, 2]
        self.stiff = k
        self.area = ((length[:, 0] * length[:, 1]) * s3) * 0.5
        # Unknowns: the free components in node and axis order.
        free = ~m["fixed"].reshape(-1)
        self.free = np.flatnonzero(free)
        self.nfree = len(self.free)
        self.full = m["displ"].reshape(-1).copy()           # displacement of every component
        comp = (3 * elem[:, :, None] + np.arange(3)[None, None, :]).reshape(len(elem), 9)
        self.comp = comp                                     # component of each element's 9 terms
        # bincount adds its weights in input order from 0.0: listing each
        # free component's -force first starts its sum there, as the C++
        # gradient starts at -force and adds the element terms in order.
        self.grad_index = np.concatenate([self.free, comp.reshape(-1)])
        self.force = np.zeros(3 * len(m["coord"]))
        self.evaluations = 0

    def displacements(self, x):
        self.full[self.free] = x
        return self.full.reshape(-1, 3)

    def energy(self, x):
        """Total potential energy at the unknowns x and its gradient."""
        self.evaluations += 1
        u = self.displacements(x)[self.m["elem"]]             # (nelem, 3, 3)
        a = self.dir + (u[:, self.TO, :] - u[:, self.FROM, :]) / self.length[:, :, None]
        s = (a[:, :, 0] * a[:, :, 0] + a[:, :, 1] * a[:, :, 1]) + a[:, :, 2] * a[:, :, 2]
        if self.green:
            eps = 0.5 * (s - 1.0)
            b = a / self.length[:, :, None]
        else:
            lam = np.sqrt(s)
            eps = (s - 1.0) / (lam + 1.0)
            b = a / (lam * self.length)[:, :, None]
        k = self.stiff
        e0, e1, e2 = eps[:, 0], eps[:, 1], eps[:, 2]
        an = np.empty_like(eps)
        an[:, 0] = self.area * ((k[:, 0, 0] * e0 + k[:, 0, 1] * e1) + k[:, 0, 2] * e2)
        an[:, 1] = self.area * ((k[:, 0, 1] * e0 + k[:, 1, 1] * e1) + k[:, 1, 2] * e2)
        an[:, 2] = self.area * ((k[:, 0, 2] * e0 + k[:, 1, 2] * e1) + k[:, 2, 2] * e2)
        strain = 0.5 * ((an[:, 0] * e0 + an[:, 1] * e1) + an[:, 2] * e2)
        t = an[:, :, None] * b                               # (nelem, side, axis)
        grad = np.empty((len(an), 3, 3))
        grad[:, 0] = t[:, 1] - t[:, 2]
        grad[:, 1] = t[:, 2] - t[:, 0]
        grad[:, 2] = t[:, 0] - t[:, 1]
        ff = self.force[self.free]
        # f: the load potential in node and axis order, then the element
        # energies in element order, one chain.
        f = ordered_sum(np.concatenate([-(ff * x), strain]))
        gfull = np.bincount(self.grad_index, weights=np.concatenate([-ff, grad.reshape(-1)]),
                            minlength=len(self.full))
        return f, gfull[self.free]

    def setforce(self, x):
        """Applied loads, then the self-weight, then the pressure on the
        current shape, each added in element order (bincount from the
        previous value listed first)."""
        m = self.m
        elem = m["elem"]
        nnode = len(m["coord"])
        force = m["action"].copy()
        w = (self.area * m["density"]) / 3.0
        force[:, 2] = np.bincount(np.concatenate([np.arange(nnode), elem.reshape(-1)]),
                                  weights=np.concatenate([force[:, 2], -np.repeat(w, 3)]), minlength=nnode)
        pos = m["coord"] + self.displacements(x)
        p = pos[elem]
        a = p[:, 2] - p[:, 1]
        b = p[:, 0] - p[:, 2]
        w = m["pressure"] / 6.0
        nvec = np.empty((len(elem), 3))
        nvec[:, 0] = (a[:, 1] * b[:, 2] - a[:, 2] * b[:, 1]) * w
        nvec[:, 1] = (a[:, 2] * b[:, 0] - a[:, 0] * b[:, 2]) * w
        nvec[:, 2] = (a[:, 0] * b[:, 1] - a[:, 1] * b[:, 0]) * w
        flat = force.reshape(-1)
        terms = np.repeat(nvec[:, None, :], 3, axis=1).reshape(-1)   # element, vertex, axis
        self.force = np.bincount(np.concatenate([np.arange(len(flat)), self.comp.reshape(-1)]),
                                 weights=np.concatenate([flat, terms]), minlength=len(flat))


# ------------------------------------------- the same method, in numpy

class Halt(Exception):
    """The line search was handed a direction that does not descend."""


def cubic(a, b, fa, fb, ga, gb):
    """Step of the cubic through (a, fa, ga), (b, fb, gb) at its local
    minimum, written as the C++ line search writes it; the midpoint when
    the step leaves [a, b] or there is no minimum."""
    if ga == 0.0:
        return a
    if gb == 0.0:
        return b
    z = ((3.0 * (fa - fb)) / (b - a) + ga) + gb
    p = math.sqrt(abs(ga)) * math.sqrt(abs(gb))
    az = abs(z)
    if (ga < 0.0) != (gb < 0.0):
        if p <= az:
            r = p / az
            w = az * math.sqrt(1.0 + r * r)
        else:
            r = az / p
            w = p * math.sqrt(1.0 + r * r)
    else:
        if p <= az:
            r = p / az
            w = az * math.sqrt(1.0 - r * r)
        else:
            return (a + b) * 0.5
    mm = gb - (ga * gb) / (z + w) if z > 0.0 else (gb + w) - z
    c = b - ((b - a) * mm) / ((gb - ga) + 2.0 * w)
    return c if a <= c <= b else (a + b) * 0.5


def linesearch(fun, maxls, lstol, f, x, g, d):
    """Bracket by doubling from step 1, then cubic steps until the slope has
    dropped to lstol times the first and the value is no higher than both
    ends, at most max(1, maxls) of them. Returns (value, x, g) of the last
    trial."""
    x0 = x
    s0 = odot(d, g)
    if s0 >= 0.0:
        raise Halt()
    t = -(s0 * lstol)

    def trial(step):
        xt = x0 + step * d
        value, gt = fun(xt)
        return value, odot(d, gt), xt, gt

    low = (0.0, f, s0)
    hv, hs, x, g = trial(1.0)
    high = (1.0, hv, hs)
    while high[2] < 0.0 and high[1] < low[1]:
        low = high
        step = 2.0 * high[0]
        hv, hs, x, g = trial(step)
        high = (step, hv, hs)
    k = 1
    while True:
        a = cubic(low[0], high[0], low[1], high[1], low[2], high[2])
        fa, sa, x, g = trial(a)
        if (fa <= low[1] and fa <= high[1] and abs(sa) <= t) or k >= maxls:
            return fa, x, g
        if sa < 0.0:
            low = (a, fa, sa)
        else:
            high = (a, fa, sa)
        k += 1


def direction(pairs, g):
    """-H.g by the two-loop recursion over pairs [s, y, ys, alpha], oldest
    first, from the initial matrix (ys/y.y of the newest pair) I."""
    newest = pairs[-1]
    d = g.copy()
    newest[3] = odot(newest[0], d) / newest[2]
    gamma = newest[2] / odot(newest[1], newest[1])
    m = len(pairs)
    for j in range(1, m):                       # newest to oldest
        done, p = pairs[m - j], pairs[m - 1 - j]
        d = d - done[3] * done[1]
        p[3] = odot(p[0], d) / p[2]
    oldest = pairs[0]
    d = gamma * (d - oldest[3] * oldest[1])
    coefficient = oldest[3] - odot(oldest[1], d) / oldest[2]
    for j in range(1, m):                       # oldest to newest
        done, p = pairs[j - 1], pairs[j]
        d = d + coefficient * done[0]
        coefficient = p[3] - odot(p[1], d) / p[2]
    return -(d + coefficient * newest[0])


def lbfgs(fun, maxlist, maxminor, maxls, gtol, lstol, x):
    """Limited-memory BFGS as velora's minimiser runs it: steepest descent
    at full length first, then the two-loop direction over the max(1,
    maxlist) newest pairs; stops after maxminor line searches or once the
    largest gradient component is at most gtol. Returns (value, x, g,
    line searches)."""
    value, g = fun(x)
    d = -g
    iterations = 1
    x_old, g_old = x, g
    value, x, g = linesearch(fun, maxls, lstol, value, x, g, d)
    s, y = x - x_old, g - g_old
    pairs = [[s, y, odot(s, y), 0.0]]
    while iterations < maxminor and np.abs(g).max(initial=0.0) > gtol:
        iterations += 1
        d = direction(pairs, g)
        x_old, g_old = x, g
        value, x, g = linesearch(fun, maxls, lstol, value, x, g, d)
        s, y = x - x_old, g - g_old
        if iterations > maxlist:
            pairs.pop(0)
        pairs.append([s, y, odot(s, y), 0.0])
    return value, x, g, iterations


def numpy_solve(input_path, green):
    """velora's method end to end in numpy: the driver's major iterations
    around lbfgs. Returns (seconds, evaluations, majors, minor iterations of
    the last, energy, membrane, x)."""
    start = time.perf_counter()
    m = read_model(input_path)
    mntol = m["mntol"] if m["mntol"] > 0 else 0.001
    mem = Membrane(m, green)
    x = np.zeros(mem.nfree)
    mem.setforce(x)
    energy, g = mem.energy(x)
    residue = m["mnref"] * mntol if m["mnref"] > 0 else np.abs(g).max(initial=0.0) * mntol
    major = minor = 0
    while residue < np.abs(g).max(initial=0.0) and major < m["maxmajor"]:
        major += 1
        _, x, g, minor = lbfgs(mem.energy, m["maxlist"], m["maxminor"], m["maxls"], residue, m["lstol"], x)
        mem.setforce(x)
        energy, g = mem.energy(x)
    return time.perf_counter() - start, mem.evaluations, major, minor, energy, mem, x


def python_solve(input_path, green, history):
    """Major iterations with scipy's L-BFGS-B; returns (seconds, evaluations,
    majors, centre deflection)."""
    start = time.perf_counter()
    m = read_model(input_path)
    mem = Membrane(m, green)
    x = np.zeros(mem.nfree)
    mem.setforce(x)
    _, g = mem.energy(x)
    residue = m["mnref"] * m["mntol"] if m["mnref"] > 0 else np.abs(g).max() * m["mntol"]
    major = 0
    while residue < np.abs(g).max() and major < m["maxmajor"]:
        major += 1
        r = minimize(mem.energy, x, jac=True, method="L-BFGS-B",
                     options={"maxcor": history, "gtol": residue, "ftol": 0.0,
                              "maxiter": m["maxminor"], "maxfun": 10 ** 9})
        x = r.x
        mem.setforce(x)
        _, g = mem.energy(x)
    seconds = time.perf_counter() - start
    return seconds, mem.evaluations, major, mem, x


def numpy_evaluation_ns(input_path, green, repeats=15):
    m = read_model(input_path)
    mem = Membrane(m, green)
    rng = np.random.default_rng(1)
    x = 1e-3 * rng.standard_normal(mem.nfree)
    mem.setforce(x)
    times = []
    for _ in range(repeats):
        t = time.perf_counter()
        mem.energy(x)
        times.append(time.perf_counter() - t)
    return statistics.median(times) * 1e9


# ---------------------------------------------------------- the programs

def centre_node(n):
    """Number of the node at the centre of the square (lattice point 0, 0)."""
    r = n
    return (r // 2) * (2 * n + 1) + (r % 2) * (n + 1) + n // 2 + 1


def deflection_from_report(path, node):
    with open(path) as f:
        lines = f.read().split("\n")
    i = next(k for k, line in enumerate(lines) if line.startswith(" Node") and "Displ X" in line)
    for line in lines[i + 1:]:
        parts = line.split()
        if len(parts) == 4 and parts[0] == str(node):
            return float(parts[3])
    raise RuntimeError("node %d not in %s" % (node, path))


def run_timed(program, cwd):
    """Wall time and peak resident memory (KiB) of one run."""
    if os.path.exists("/usr/bin/time"):
        t = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-v", program], cwd=cwd, capture_output=True, text=True)
        seconds = time.perf_counter() - t
        if r.returncode != 0:
            raise RuntimeError("%s failed: %s" % (program, r.stderr))
        peak = next(int(line.split(":")[1]) for line in r.stderr.splitlines()
                    if "Maximum resident set size" in line)
        return seconds, peak
    peak = [0]
    t = time.perf_counter()
    p = subprocess.Popen([program], cwd=cwd, stdout=subprocess.DEVNULL)

    def watch():
        while p.poll() is None:
            try:
                with open("/proc/%d/status" % p.pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak[0] = max(peak[0], int(line.split()[1]))
            except OSError:
                pass
            time.sleep(0.01)

    w = threading.Thread(target=watch)
    w.start()
    p.wait()
    seconds = time.perf_counter() - t
    w.join()
    if p.returncode != 0:
        raise RuntimeError("%s failed" % program)
    return seconds, peak[0]


def write_square(directory, n):
    with open(os.path.join(directory, "square.txt"), "w") as f:
        f.write(" ndiv      halfside\n:\n%5d     1.0\n\n young  poisson\n:\n1000.0  0.3\n\n"
                " pressure\n:\n1.0\n" % n)


def benchmark_evaluation_ns(build, n):
    """ns per evaluation of the C++ objective at square n, from the suite."""
    exe = os.path.join(build, "bench", "solver_green_benchmark")
    if not os.path.exists(exe):
        return None
    # As the programs run: the hardware's thread count (threads:0).
    r = subprocess.run([exe, "--benchmark_filter=^objective/n:%d/threads:0/" % n, "--benchmark_format=json",
                        "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true"],
                       capture_output=True, text=True)
    if r.returncode != 0 or not r.stdout.strip():
        return None
    for b in json.loads(r.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            return b["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return None


def velora1_evaluations(exe, directory):
    """Energy evaluations of one velora1 run on directory/input.txt, counted
    by valgrind's callgrind as the calls of the energy evaluator (the
    program does not print them); None without valgrind. Runs in a copy of
    the directory, so the timed runs' files stay."""
    if not (shutil.which("valgrind") and shutil.which("callgrind_annotate")):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copy(os.path.join(directory, "input.txt"), tmp)
        out = os.path.join(tmp, "callgrind.out")
        r = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, exe], cwd=tmp,
                           capture_output=True, text=True)
        if r.returncode != 0:
            return None
        tree = subprocess.run(["callgrind_annotate", "--tree=caller", out], capture_output=True,
                              text=True).stdout.split("\n")
    # The callers of the evaluator precede its own line ("*"), each with
    # its number of calls ("(1,978x)").
    for k, line in enumerate(tree):
        if "*" in line and "EnergyEvaluator::operator()" in line:
            calls = 0
            for caller in reversed(tree[:k]):
                if "<" not in caller:
                    break
                m = re.search(r"\(([\d,]+)x\)", caller)
                if m:
                    calls += int(m.group(1).replace(",", ""))
            return calls
    return None


def report_summary(path):
    """Major iterations, last minor iterations and total potential energy
    as the report prints them."""
    values = {}
    with open(path) as f:
        for line in f:
            for key in ("Major Iterations", "Last Minor Iterations", "Total Potential Energy"):
                if line.startswith("| " + key):
                    values[key] = line.split("|")[2].strip()
    return values


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/bench", help="build folder with square/, solver/ and bench/")
    ap.add_argument("--sizes", type=int, nargs="+", default=[10, 20, 40, 80, 160])
    ap.add_argument("--runs", type=int, default=5, help="runs per program and size (median)")
    ap.add_argument("--large-from", type=int, default=80, help="sizes from here on use --large-runs")
    ap.add_argument("--large-runs", type=int, default=1)
    ap.add_argument("--python-up-to", type=int, default=80, help="largest size solved in Python")
    ap.add_argument("--no-scipy", action="store_true", help="only the numpy transcription of velora's method")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    square = os.path.join(build, "programs", "square")
    solvers = {"velora1": os.path.join(build, "programs", "velora1"),
               "velora2": os.path.join(build, "programs", "velora2")}
    for p in [square] + list(solvers.values()):
        if not os.path.exists(p):
            sys.exit("missing %s: build the release programs first" % p)

    failures = 0
    # numpy: velora's own method transcribed (same evaluations); scipy3 and
    # scipy10: L-BFGS-B with history 3 and 10. x: seconds over velora1's.
    print("%5s %8s | %9s %9s %8s %8s | %9s %6s %7s | %9s %9s %6s %6s | %7s %7s | %s" % (
        "n", "elements", "velora1 s", "velora2 s", "B/elem1", "B/elem2", "numpy s", "x", "evals",
        "scipy3 s", "scipy10 s", "x3", "x10", "evals3", "evals10", "centre deflection v1 / numpy / m3 / m10"))
    with tempfile.TemporaryDirectory() as tmp:
        for n in args.sizes:
            d = os.path.join(tmp, "n%d" % n)
            os.mkdir(d)
            write_square(d, n)
            subprocess.run([square], cwd=d, check=True, stdout=subprocess.DEVNULL)
            nelem = 4 * n * n
            runs = args.large_runs if n >= args.large_from else args.runs
            times, peaks, deflections, summaries = {}, {}, {}, {}
            for name, exe in solvers.items():
                results = [run_timed(exe, d) for _ in range(runs)]
                times[name] = statistics.median(r[0] for r in results)
                peaks[name] = max(r[1] for r in results)
                deflections[name] = deflection_from_report(os.path.join(d, "output.txt"), centre_node(n))
                summaries[name] = report_summary(os.path.join(d, "output.txt"))
            line = "%5d %8d | %9.3f %9.3f %8.0f %8.0f |" % (
                n, nelem, times["velora1"], times["velora2"], peaks["velora1"] * 1024 / nelem,
                peaks["velora2"] * 1024 / nelem)
            if n <= args.python_up_to:
                inp = os.path.join(d, "input.txt")
                w1 = deflections["velora1"]
                t, evals, major, minor, energy, mem, x = numpy_solve(inp, True)
                wn = mem.displacements(x)[centre_node(n) - 1, 2]
                line += " %9.3f %6.1f %7d |" % (t, t / times["velora1"], evals)
                # The same method must take the same path: the report's
                # counters and energy, and on the smallest model the count
                # of evaluations.
                summary = summaries["velora1"]
                numpy_summary = {"Major Iterations": str(major), "Last Minor Iterations": str(minor),
                                 "Total Potential Energy": "%.8E" % energy}
                if summary != numpy_summary:
                    failures += 1
                    line += " PATH DIFFERS (%s against %s) |" % (summary, numpy_summary)
                if n == args.sizes[0]:
                    cc = velora1_evaluations(solvers["velora1"], d)
                    if cc is None:
                        line += " (evaluations of velora1 not counted: no valgrind) |"
                    elif cc != evals:
                        failures += 1
                        line += " EVALUATIONS DIFFER (velora1 %d) |" % cc
                    else:
                        line += " (velora1 the same) |"
                py = {}
                for h in (3, 10):
                    if args.no_scipy:
                        py[h] = (float("nan"), 0, float("nan"))
                        continue
                    t, evals, major, mem, x = python_solve(inp, True, h)
                    py[h] = (t, evals, mem.displacements(x)[centre_node(n) - 1, 2])
                line += " %9.3f %9.3f %6.1f %6.1f | %7d %7d |" % (
                    py[3][0], py[10][0], py[3][0] / times["velora1"], py[10][0] / times["velora1"],
                    py[3][1], py[10][1])
                line += " %.6f / %.6f / %.6f / %.6f" % (w1, wn, py[3][2], py[10][2])
                for name, w in (("numpy", wn), ("m=3", py[3][2]), ("m=10", py[10][2])):
                    if abs(w - w1) > 1e-3:
                        failures += 1
                        line += "  MISMATCH(%s)" % name
            print(line, flush=True)
            if n == 80 or n == args.sizes[-1]:
                ns_np = numpy_evaluation_ns(os.path.join(d, "input.txt"), True)
                ns_cc = benchmark_evaluation_ns(build, n)
                text = "n = %d: one evaluation, numpy %.0f us" % (n, ns_np / 1e3)
                if ns_cc:
                    text += ", velora1 objective %.0f us, ratio %.1f" % (ns_cc / 1e3, ns_np / ns_cc)
                print(text, flush=True)
    if failures:
        print("%d check(s) failed: centre deflections more than 1e-3 apart, or the numpy transcription "
              "took another number of evaluations than velora1" % failures)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
