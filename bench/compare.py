#!/usr/bin/python3
"""Whole-process timings of velora1 (its default method and --method
newton) and velora2 on square models, side by side with what a Python user
would write instead:

  numpy    velora's own method transcribed: the same energy, loads, line
           search and two-loop recursion, every sum in the order the C++
           code adds, so it takes the same path (the report's iteration
           counts and energy are checked equal at every size, the number
           of evaluations on the first size, counted in velora1 with
           valgrind's callgrind when it is there): the time ratio measures
           the implementation, not the method;
  scipy    the same energy minimised by scipy's L-BFGS-B (history 3 and
           10) to the same stopping rule: another method, for scale.

Both peers are written as a competent numpy user writes them: the energy
over all elements at once on index arrays and buffers set up once, laid
out so that every operation runs over contiguous rows, the gradient
gathered per unknown (faster than np.bincount or np.add.at), no Python loop
over elements. The transcription's sums are ordered chains (np.cumsum),
which costs it about a tenth of its time against np.dot; the scipy peer
uses np.dot and numpy's sum. The peers run with glibc's allocation
thresholds raised (MALLOC_MMAP_THRESHOLD_, MALLOC_TRIM_THRESHOLD_,
MALLOC_TOP_PAD_, see ALLOCATOR; the script starts itself again with them
unless they are set or --default-allocator is given), as a numpy user would
set them so that large temporaries are not mapped and unmapped on every
call; the C++ programs run in the environment the script was started with.
The peers are timed inside this process from reading input.txt to the
solution (the interpreter's start and the imports are not counted).

Needs: python3-numpy and python3-scipy (Debian packages; run with
/usr/bin/python3, the interpreter they install into), the programs square,
velora1 and velora2 of a release build, and, for the per-evaluation ratio,
the Google Benchmark program solver_green_benchmark of a build configured
with -DBUILD_BENCHMARKS=ON. GNU time (/usr/bin/time) gives the peak
memory when present; otherwise it is read from /proc while the program runs.
Installs nothing.

Usage: /usr/bin/python3 bench/compare.py --build build/release [--sizes 10 20 40 80]
       [--runs 3] [--large-runs 1] [--large-from 80] [--python-up-to 80] [--no-scipy]
       [--default-allocator]

For every size n: square writes input.txt (half side 1, young 1000,
poisson 0.3, pressure 1); every round runs each program once, one after the
other (--runs rounds, --large-runs from n = --large-from on); the table
gives median seconds and the median of each round's ratio. The Python peers
read the same input.txt and run major iterations like the solvers (loads
frozen during one minimiser run, refreshed after it, stop when the largest
residual is at most the allowable residue, which is mntol times the largest
initial residual). The centre deflections must agree to 1e-3.
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
    t = np.array(loads[1:1 + 3 * nload], dtype=float).reshape(nload, 3)
    action = np.zeros((nnode, 3))
    # A load record is node, axis, value; a later record for the same node
    # and axis replaces the earlier one, as the solvers read it.
    for node, axis, value in t:
        action[int(node) - 1, int(axis) - 1] = value
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
    """Energy, gradient and loads of the membrane, all elements at once.

    Written as a numpy user would write it for speed: everything that does
    not change during a solve (index arrays, reference geometry, stiffness,
    buffers) is set up once; the per-element arrays are laid out axis by
    side by element, so every operation runs over whole contiguous rows
    (no strided columns, no Python loop over elements); one take gathers
    the element displacements and one np.bincount assembles the gradient.

    Each operation is the C++ kernel's, in its order. With ordered (the
    transcription) the sums are too, so the results are the same bit for
    bit and the minimiser takes the same path: the energy is one chain
    (load potential in node and axis order, then the element energies in
    element order, np.cumsum, about ten times slower than np.dot), and each
    gradient component starts at -force and adds its element terms in
    element order (np.bincount adds its weights in input order from 0.0, so
    the weights list -force of every free component first, then the element
    terms element by element, which costs one transposed copy). Without it
    (the scipy peer) the energy is np.dot plus numpy's sum and the terms go
    to bincount in the order they are computed: the same energy, its last
    bits rounded differently."""

    FROM = (1, 2, 0)  # side k runs from vertex FROM[k] to vertex TO[k]
    TO = (2, 0, 1)

    def __init__(self, m, green, ordered=True):
        self.m = m
        self.green = green
        self.ordered = ordered
        elem = m["elem"]
        nelem = len(elem)
        p = m["coord"][elem]                                # (nelem, 3 vertices, 3 axes)
        vec = p[:, self.TO, :] - p[:, self.FROM, :]         # (nelem, 3 sides, 3 axes)
        length = np.sqrt((vec[:, :, 0] * vec[:, :, 0] + vec[:, :, 1] * vec[:, :, 1]) + vec[:, :, 2] * vec[:, :, 2])
        d = vec / length[:, :, None]

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
        k = np.empty((3, 3, nelem))                         # (row, column, element)
        k[0, 0] = ((1.0 + c1 * c1) - nu * (s1 * s1)) * f / (s2 * s2) / (s3 * s3)
        k[0, 1] = ((c1 * c2 - c3) + (nu * s1) * s2) * f / s1 / s2 / (s3 * s3)
        k[0, 2] = ((c1 * c3 - c2) + (nu * s1) * s3) * f / s1 / (s2 * s2) / s3
        k[1, 1] = ((1.0 + c2 * c2) - nu * (s2 * s2)) * f / (s1 * s1) / (s3 * s3)
        k[1, 2] = ((c2 * c3 - c1) + (nu * s2) * s3) * f / (s1 * s1) / s2 / s3
        k[2, 2] = ((1.0 + c3 * c3) - nu * (s3 * s3)) * f / (s1 * s1) / (s2 * s2)
        k[1, 0], k[2, 0], k[2, 1] = k[0, 1], k[0, 2], k[1, 2]
        self.stiff = k
        self.area = ((length[:, 0] * length[:, 1]) * s3) * 0.5
        self.length = np.ascontiguousarray(length.T)       # (side, element)
        self.dir = np.ascontiguousarray(d.transpose(2, 1, 0))  # (axis, side, element)
        # Unknowns: the free components in node and axis order. The gather
        # reads from [x, displ of the held components], so x is copied in
        # whole and never scattered.
        fixed = m["fixed"].reshape(-1)
        self.free = np.flatnonzero(~fixed)
        held = np.flatnonzero(fixed)
        self.nfree = nfree = len(self.free)
        position = np.empty(len(fixed), dtype=np.int64)     # component -> place in [x, held]
        position[self.free] = np.arange(nfree)
        position[held] = nfree + np.arange(len(held))
        self.xd = np.concatenate([np.zeros(nfree), m["displ"].reshape(-1)[held]])
        comp = 3 * elem[:, :, None] + np.arange(3)[None, None, :]   # (element, vertex, axis)
        self.comp = comp.reshape(nelem, 9)
        self.gather = np.ascontiguousarray(position[comp].transpose(2, 1, 0))  # (axis, vertex, element)
        # The gradient: each free component gathers its own terms, rather
        # than the terms being scattered into it (np.bincount, np.add.at;
        # this is faster and needs no reordering). Row 0 of the gather is
        # the component's -force, rows 1... its element terms in element
        # order, padded with a zero, so g = ((-force + t1) + t2) + ..., the
        # order in which the C++ gradient adds them.
        nslot = 9 * nelem
        self.slots = np.zeros(nslot + nfree + 1)           # terms (vertex, axis, element), -force, 0
        self.terms = self.slots[:nslot].reshape(3, 3, nelem)
        self.minus_force = self.slots[nslot:nslot + nfree]
        owner = position[comp].reshape(-1)                 # (element, vertex, axis) -> place in [x, held]
        slot = (np.arange(9).reshape(3, 3)[None] * nelem + np.arange(nelem)[:, None, None]).reshape(-1)
        keep = owner < nfree
        owner, slot = owner[keep], slot[keep]
        order = np.argsort(owner, kind="stable")           # by component, each in element order
        owner, slot = owner[order], slot[order]
        count = np.bincount(owner, minlength=nfree)
        rank = np.arange(len(owner)) - (np.cumsum(count) - count)[owner]
        gather = np.full((1 + count.max(initial=0), nfree), nslot + nfree, dtype=np.intp)
        gather[0] = nslot + np.arange(nfree)
        gather[1 + rank, owner] = slot
        self.assemble = gather
        self.rows = np.empty(gather.shape)
        self.chain = np.empty(nfree + nelem)                # load potential, then element energies
        self.partial = np.empty(nfree + nelem)
        self.u = np.empty((3, 3, nelem))
        self.a = np.empty((3, 3, nelem))
        self.tmp = np.empty((3, nelem))
        self.s = np.empty((3, nelem))
        self.lam = np.empty((3, nelem))
        self.eps = np.empty((3, nelem))
        self.an = np.empty((3, nelem))
        self.kq = np.empty((3, 3, nelem))
        self.full = m["displ"].reshape(-1).copy()
        self.force = np.zeros(3 * len(m["coord"]))
        self.evaluations = 0

    def displacements(self, x):
        """Displacement of every node and axis at the unknowns x."""
        self.full[self.free] = x
        return self.full.reshape(-1, 3)

    def energy(self, x):
        """Total potential energy at the unknowns x and its gradient."""
        self.evaluations += 1
        nfree = self.nfree
        xd, u, a, tmp, eps = self.xd, self.u, self.a, self.tmp, self.eps
        xd[:nfree] = x
        np.take(xd, self.gather, out=u, mode="clip")         # (axis, vertex, element); "raise" buffers
        for side in range(3):                                # a = dir + (u[to] - u[from]) / length
            np.subtract(u[:, self.TO[side]], u[:, self.FROM[side]], out=a[:, side])
        np.divide(a, self.length, out=a)
        np.add(self.dir, a, out=a)
        s = np.multiply(a[0], a[0], out=self.s)              # (side, element)
        np.multiply(a[1], a[1], out=tmp)
        s += tmp
        np.multiply(a[2], a[2], out=tmp)
        s += tmp
        if self.green:
            np.subtract(s, 1.0, out=eps)
            eps *= 0.5
            np.divide(a, self.length, out=a)                 # b
        else:
            lam = np.sqrt(s, out=self.lam)                   # eps = (s - 1) / (lam + 1), b = a / (lam length)
            np.subtract(s, 1.0, out=eps)
            np.add(lam, 1.0, out=tmp)
            eps /= tmp
            lam *= self.length
            np.divide(a, lam, out=a)
        kq, an = self.kq, self.an
        np.multiply(self.stiff, eps, out=kq)                 # kq[i, j] = k[i, j] eps[j]
        np.add(kq[:, 0], kq[:, 1], out=an)
        an += kq[:, 2]
        an *= self.area                                      # an[i] = area ((k_i0 e0 + k_i1 e1) + k_i2 e2)
        np.multiply(an, eps, out=tmp)
        strain = self.chain[nfree:]
        np.add(tmp[0], tmp[1], out=strain)
        strain += tmp[2]
        strain *= 0.5
        np.multiply(a, an, out=a)                            # t[axis, side] = an[side] b[axis, side]
        terms = self.terms                                   # (vertex, axis, element)
        np.subtract(a[:, 1], a[:, 2], out=terms[0])
        np.subtract(a[:, 2], a[:, 0], out=terms[1])
        np.subtract(a[:, 0], a[:, 1], out=terms[2])
        if self.ordered:
            np.multiply(self.minus_force, x, out=self.chain[:nfree])
            f = float(np.cumsum(self.chain, out=self.partial)[-1])
        else:
            f = float(np.dot(self.minus_force, x) + strain.sum())
        rows = np.take(self.slots, self.assemble, out=self.rows, mode="clip")
        g = rows[0].copy()
        for row in rows[1:]:
            g += row
        return f, g

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
        np.negative(self.force[self.free], out=self.minus_force)


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
    """-H.g by the two-loop recursion over pairs [s, y, ys, alpha, yy], oldest
    first, from the initial matrix (ys/yy of the newest pair) I."""
    newest = pairs[-1]
    d = g.copy()
    newest[3] = odot(newest[0], d) / newest[2]
    gamma = newest[2] / newest[4]
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
    pairs = [[s, y, odot(s, y), 0.0, odot(y, y)]]
    while iterations < maxminor and np.abs(g).max(initial=0.0) > gtol:
        iterations += 1
        d = direction(pairs, g)
        x_old, g_old = x, g
        value, x, g = linesearch(fun, maxls, lstol, value, x, g, d)
        s, y = x - x_old, g - g_old
        if iterations > maxlist:
            pairs.pop(0)
        pairs.append([s, y, odot(s, y), 0.0, odot(y, y)])
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
    mntol = m["mntol"] if m["mntol"] > 0 else 0.001
    mem = Membrane(m, green, ordered=False)
    x = np.zeros(mem.nfree)
    mem.setforce(x)
    _, g = mem.energy(x)
    residue = m["mnref"] * mntol if m["mnref"] > 0 else np.abs(g).max() * mntol
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


def run_timed(program, cwd, args=(), env=None):
    """Wall time and peak resident memory (KiB) of one run of program with
    args in cwd (env: its environment, None for this process's)."""
    command = [program] + list(args)
    if os.path.exists("/usr/bin/time"):
        t = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, capture_output=True, text=True, env=env)
        seconds = time.perf_counter() - t
        if r.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(command), r.stderr))
        peak = next(int(line.split(":")[1]) for line in r.stderr.splitlines()
                    if "Maximum resident set size" in line)
        return seconds, peak
    peak = [0]
    t = time.perf_counter()
    p = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, env=env)

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
        raise RuntimeError("%s failed" % " ".join(command))
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


# glibc's allocator as a numpy user tunes it: without this, every temporary
# above the mmap threshold (128 KiB at first) is mapped and unmapped, and
# freed memory at the top of the heap is given back and faulted in again,
# on every call. 32 MiB is the largest mmap threshold glibc accepts.
ALLOCATOR = (("MALLOC_MMAP_THRESHOLD_", "33554432"), ("MALLOC_TRIM_THRESHOLD_", "1073741824"),
             ("MALLOC_TOP_PAD_", "268435456"))
ADDED = "COMPARE_ALLOCATOR_ADDED"  # the names this script added, for the C++ programs to run without


def peer_environment(environ):
    """environ with the allocator thresholds raised where the user has not
    set them, and the names added listed under ADDED."""
    env = dict(environ)
    added = [k for k, _ in ALLOCATOR if k not in env]
    env.update((k, v) for k, v in ALLOCATOR if k in added)
    env[ADDED] = ",".join(added)
    return env


def program_environment(environ):
    """The environment the C++ programs run in: environ without what
    peer_environment added (they run as a user runs them)."""
    added = set(filter(None, environ.get(ADDED, "").split(",")))
    return {k: v for k, v in environ.items() if k not in added and k != ADDED}


def load():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/bench", help="build folder with square/, solver/ and bench/")
    ap.add_argument("--sizes", type=int, nargs="+", default=[10, 20, 40, 80])
    ap.add_argument("--runs", type=int, default=3, help="rounds per size: every program once per round (median)")
    ap.add_argument("--large-from", type=int, default=80, help="sizes from here on use --large-runs")
    ap.add_argument("--large-runs", type=int, default=1)
    ap.add_argument("--python-up-to", type=int, default=80, help="largest size solved in Python")
    ap.add_argument("--no-scipy", action="store_true", help="only the numpy transcription of velora's method")
    ap.add_argument("--default-allocator", action="store_true",
                    help="run the Python peers with glibc's default allocation thresholds")
    args = ap.parse_args()
    if not args.default_allocator and ADDED not in os.environ:
        # The thresholds are read when the process starts: start again with them.
        sys.stdout.flush()
        os.execve(sys.executable, [sys.executable, os.path.abspath(__file__)] + sys.argv[1:],
                  peer_environment(os.environ))
    env = program_environment(os.environ)
    build = os.path.abspath(args.build)
    square = os.path.join(build, "programs", "square")
    velora1 = os.path.join(build, "programs", "velora1")
    velora2 = os.path.join(build, "programs", "velora2")
    for p in (square, velora1, velora2):
        if not os.path.exists(p):
            sys.exit("missing %s: build the release programs first" % p)
    programs = (("velora1", velora1, ()), ("newton", velora1, ("--method", "newton")), ("velora2", velora2, ()))
    print("Python peers: numpy %s, scipy %s; allocator: %s" % (
        np.__version__, __import__("scipy").__version__,
        "glibc's defaults" if args.default_allocator else
        " ".join("%s=%s" % (k, os.environ.get(k)) for k, _ in ALLOCATOR)))

    failures = 0
    # Seconds: medians over the rounds; ratios: medians of each round's
    # ratio (the programs of one round run one after the other).
    print("| n | elements | load | velora1 s | newton s | velora2 s | numpy s | scipy m=3 s | scipy m=10 s "
          "| numpy / velora1 | m=3 / velora1 | m=10 / velora1 | m=3 / newton | m=10 / newton "
          "| evaluations velora1 / numpy / m=3 / m=10 | B/elem velora1 / newton "
          "| centre deflection velora1 / newton / numpy / m=3 / m=10 |")
    print("|" + "---:|" * 16 + "---|")
    with tempfile.TemporaryDirectory() as tmp:
        for n in args.sizes:
            d = os.path.join(tmp, "n%d" % n)
            os.mkdir(d)
            write_square(d, n)
            subprocess.run([square], cwd=d, check=True, stdout=subprocess.DEVNULL)
            inp = os.path.join(d, "input.txt")
            centre = centre_node(n)
            nelem = 4 * n * n
            rounds = args.large_runs if n >= args.large_from else args.runs
            python = n <= args.python_up_to
            histories = () if args.no_scipy or not python else (3, 10)
            times = {}
            peaks, deflections, evaluations, notes = {}, {}, {}, []
            loads = [load()]
            for _ in range(rounds):
                for name, exe, options in programs:
                    seconds, peak = run_timed(exe, d, options, env)
                    times.setdefault(name, []).append(seconds)
                    peaks[name] = max(peaks.get(name, 0), peak)
                    out = os.path.join(d, "output.txt")
                    deflections[name] = deflection_from_report(out, centre)
                    if name == "velora1":
                        summary = report_summary(out)
                if python:
                    t, evals, major, minor, energy, mem, x = numpy_solve(inp, True)
                    times.setdefault("numpy", []).append(t)
                    evaluations["numpy"] = evals
                    deflections["numpy"] = mem.displacements(x)[centre - 1, 2]
                    # The same method must take the same path: the report's
                    # counters and energy.
                    numpy_summary = {"Major Iterations": str(major), "Last Minor Iterations": str(minor),
                                     "Total Potential Energy": "%.8E" % energy}
                    if summary != numpy_summary:
                        failures += 1
                        notes.append("PATH DIFFERS (%s against %s)" % (summary, numpy_summary))
                for h in histories:
                    t, evals, major, mem, x = python_solve(inp, True, h)
                    times.setdefault("m=%d" % h, []).append(t)
                    evaluations["m=%d" % h] = evals
                    deflections["m=%d" % h] = mem.displacements(x)[centre - 1, 2]
                loads.append(load())
            if python and n == args.sizes[0]:
                # ... and, on the first size, the count of evaluations.
                cc = velora1_evaluations(velora1, d)
                if cc is None:
                    notes.append("evaluations of velora1 not counted: no valgrind")
                elif cc != evaluations["numpy"]:
                    failures += 1
                    notes.append("EVALUATIONS DIFFER (velora1 %d, numpy %d)" % (cc, evaluations["numpy"]))
                else:
                    evaluations["velora1"] = cc

            def seconds(name):
                return "%.3f" % statistics.median(times[name]) if name in times else "-"

            def ratio(peer, base):
                if peer not in times:
                    return "-"
                return "%.1f" % statistics.median(p / b for p, b in zip(times[peer], times[base]))

            def count(name):
                return "{:,}".format(evaluations[name]).replace(",", " ") if name in evaluations else "-"

            def deflection(name):
                return "%.6f" % deflections[name] if name in deflections else "-"

            print("| %d | %s | %.1f to %.1f | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s "
                  "| %s / %s / %s / %s | %.0f / %.0f | %s |" % (
                      n, "{:,}".format(nelem).replace(",", " "), min(loads), max(loads),
                      seconds("velora1"), seconds("newton"), seconds("velora2"), seconds("numpy"),
                      seconds("m=3"), seconds("m=10"), ratio("numpy", "velora1"), ratio("m=3", "velora1"),
                      ratio("m=10", "velora1"), ratio("m=3", "newton"), ratio("m=10", "newton"),
                      count("velora1"), count("numpy"), count("m=3"), count("m=10"),
                      peaks["velora1"] * 1024 / nelem, peaks["newton"] * 1024 / nelem,
                      " / ".join(deflection(k) for k in ("velora1", "newton", "numpy", "m=3", "m=10"))), flush=True)
            w1 = deflections["velora1"]
            for name, w in deflections.items():
                if abs(w - w1) > 1e-3:
                    failures += 1
                    notes.append("MISMATCH(%s): centre deflection %.6f against velora1's %.6f" % (name, w, w1))
            for note in notes:
                print("n = %d: %s" % (n, note), flush=True)
            if python and (n == 80 or n == args.sizes[-1]):
                ns_np = numpy_evaluation_ns(inp, True)
                ns_cc = benchmark_evaluation_ns(build, n)
                text = "n = %d: one evaluation, numpy %.0f us" % (n, ns_np / 1e3)
                if ns_cc:
                    text += ", velora1 objective %.0f us, ratio %.1f" % (ns_cc / 1e3, ns_np / ns_cc)
                print(text, flush=True)
    if failures:
        print("%d check(s) failed: centre deflections more than 1e-3 apart, or the numpy transcription "
              "took another path or number of evaluations than velora1" % failures)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
