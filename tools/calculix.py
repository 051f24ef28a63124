#!/usr/bin/python3
"""velora's models solved by CalculiX (Debian calculix-ccx, program ccx):
the one writer of the CalculiX input of a velora model file and the one
reader of what ccx prints. Plain Python, no numpy.

    calculix.py write input.txt model.inp [--thickness T] [--tight]
                [--increments A B] [--print NODE ...]
    ccx -i model                                   # writes model.dat
    calculix.py displacement model.dat NODE        # prints ux uy uz
    calculix.py compare output.txt model.dat [--tolerance PERCENT]

Imported by bench/ccx_square.py and bench/newton_compare.py (read_model,
solve, displacement); tests/calculix_lshape.sh and VERIFICATION.md use the
command line. A model file that cannot be read, or a model the CalculiX
input cannot hold, is reported as "FILE:LINE: what was expected" (exit
status 1) and no file is written; a usage error exits with status 2.

The CalculiX model is the model file's own:
  - the same nodes and triangles, node and element numbers kept, as M3D3
    membranes with their vertex order kept;
  - a sheet of thickness T (default 0.001) with E = young / T: velora's
    young is the modulus of a sheet of unit thickness (E t), so E t is the
    same. ccx expands every membrane into a wedge of that thickness and
    loads the wedge's face half a thickness off the mid-surface that velora
    loads; the difference falls in proportion to T (BENCHMARKS.md,
    "Thickness"), so T must be small beside the deflection;
  - the same prescribed displacements, applied forces (*CLOAD; dead loads
    in both programs) and element pressures (*DLOAD); NLGEOM makes the
    pressure follow the deformed surface, as velora's does between major
    iterations. Self-weight is refused rather than left out.

The pressure's face and sign (PRESSURE_RULE below; held against velora1
by calculix_ccx_test.py, measured in VERIFICATION.md, "The pressure's face
and sign in CalculiX"): velora's pressure on an element acts along
n = (P2 - P1) x (P3 - P1) of its vertex order, towards the viewer who sees
the vertices counter-clockwise (model/loads.cpp). ccx loads an M3D3
membrane along the normal of the right-hand rule on its node order, the
same n, a positive pressure pushing along n, and it gives the same load
whatever face label the *DLOAD line names (P, P1, P2, P3). So the sign is
carried by keeping the vertex order, never by the label; P1 is written.
The load sits on the face of the expanded wedge on the side of n, half a
thickness off the mid-surface, hence the small thickness.

A flat membrane has no stiffness across its plane until it is stretched,
so a Newton solve from the flat state meets a singular tangent (ccx
answers with displacements of 1e11 and gives up). The input therefore has
three steps:
  1. the sheet cooled by one degree with an expansion coefficient of 1e-3,
     a uniform tension of about young * 1e-3 / (1 - poisson), with every
     node that is free along Z held there when the model is flat in a
     plane Z = constant (a curved model is left free);
  2. that hold released (only the model's own supports remain) and the
     loads applied;
  3. the temperature returned to zero with the loads held, which takes
     the tension away again.
The end of step 3 is the equilibrium of the model itself, which is what
velora solves; only the path to it differs. Steps 2 and 3 start from
their whole length as one increment, which ccx cuts back where it must;
solve() tries smaller first increments when ccx gives up ("too many
cutbacks"). --tight asks ccx for a residual force of 1e-7 of the average
force (its own test: 0.005) and corrections of 1e-6 of the increment
(0.01), converged far past the comparisons' 2e-4.
"""

import argparse
import os
import re
import subprocess
import sys
import time

PRESTRAIN = 1e-3  # expansion coefficient times the cooling of step 1

# The face label of every pressure line. ccx 2.20 gives the same load for
# any label of an M3D3 membrane (module docstring); the sign comes from the
# element's node order, kept from the model file.
PRESSURE_RULE = "P1"

# The first increments of steps 2 and 3, as fractions of the step, tried in
# turn: ccx's fastest way first; when ccx gives up ("too many cutbacks", as
# it does on the square of n = 32 with thickness 1 from whole steps),
# smaller ones.
INCREMENTS = ((1.0, 1.0), (0.25, 0.5), (0.05, 0.1))


class ModelError(Exception):
    """A model file that cannot be read, or a model that the CalculiX input
    cannot hold: the message says where and what was expected."""


class CalculixError(Exception):
    """ccx failed, or its output lacks what was asked for."""


class Model:
    """A velora model, 1-based as in the file.

    young, poisson, density: the material record;
    coord: #nodes x 3 coordinates, coord[k - 1] for node k;
    elem: #elements x 3 node numbers in vertex order, elem[e - 1];
    constraints: {(node, axis): prescribed displacement}, axis 1..3;
    loads: {(node, axis): applied force};
    pressure: #elements pressures (0.0 where the file gives none).
    """

    def __init__(self, young, poisson, density, coord, elem, constraints=None, loads=None, pressure=None):
        self.young, self.poisson, self.density = float(young), float(poisson), float(density)
        self.coord = [tuple(float(v) for v in c) for c in coord]
        self.elem = [tuple(int(v) for v in e) for e in elem]
        self.constraints = dict(constraints or {})
        self.loads = dict(loads or {})
        self.pressure = [float(p) for p in pressure] if pressure is not None else [0.0] * len(self.elem)


# ---------------------------------------------------------------- the model file

_INT = re.compile(r"[+-]?[0-9]+\Z")
_REAL = re.compile(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\Z")


class _Reader:
    """The model file as velora reads it (platform/text_reader.cpp):
    sections start after a marker line (first character ':'); numbers are
    separated by blanks and line ends; a record ends with its line."""

    def __init__(self, path):
        self.path = path
        try:
            with open(path, newline="") as f:
                text = f.read()
        except (OSError, UnicodeDecodeError) as e:
            raise ModelError("%s: cannot be read: %s" % (path, e)) from None
        self.lines = [line.rstrip("\r") for line in text.split("\n")]
        if text.endswith("\n"):
            self.lines.pop()
        self.line = 0  # index of the current line
        self.col = 0  # index into the current line's tokens
        self.tokens = None

    def where(self):
        return "%s:%d" % (self.path, max(min(self.line, len(self.lines) - 1), 0) + 1)

    def fail(self, message):
        raise ModelError("%s: %s" % (self.where(), message))

    def scan(self, section):
        while self.line < len(self.lines):
            text = self.lines[self.line]
            self.line += 1
            self.tokens = None
            if text.startswith(":"):
                return
        self.fail("the file ends before the marker line (a line beginning with ':') of the %s section" % section)

    def token(self, what):
        while True:
            if self.tokens is None:
                if self.line >= len(self.lines):
                    self.fail("the file ends where %s was expected" % what)
                self.tokens, self.col = self.lines[self.line].split(), 0
            if self.col < len(self.tokens):
                self.col += 1
                return self.tokens[self.col - 1]
            self.line += 1
            self.tokens = None

    def int(self, what):
        t = self.token(what)
        if not _INT.match(t):
            self.fail("expected an integer (%s), found \"%s\"" % (what, t[:20]))
        return int(t)

    def real(self, what):
        t = self.token(what)
        if not _REAL.match(t):
            self.fail("expected a real number (%s), found \"%s\"" % (what, t[:20]))
        return float(t)

    def skip_line(self):
        """To the start of the next line: the rest of the current record's
        line when a number was read from it, else one whole line."""
        self.line += 1
        self.tokens = None


def read_model(path):
    """The Model of a velora model file ("input.txt")."""
    r = _Reader(path)
    r.scan("parameters")
    for name in ("lstol", "maxls", "mntol", "mnref", "maxminor", "maxlist", "maxmajor"):
        r.token(name)
    r.skip_line()
    r.scan("material")
    young, poisson, density = r.real("young"), r.real("poisson"), r.real("density")
    r.skip_line()

    def count(section, table=False):
        r.scan(section)
        n = r.int("the record count of the %s section" % section)
        if n > len(r.lines) - r.line - 1:  # every record ends with its line
            r.fail("the %s section counts %d records, more than the %d lines that follow" % (
                section, n, len(r.lines) - r.line - 1))
        r.skip_line()
        # The line after the count is skipped whole, whatever it holds; the
        # record sections skip it only when they have records.
        if n > 0 or table:
            r.skip_line()
        return max(n, 0)

    def number(what, size, section, record):
        k = r.int(what)
        if not 1 <= k <= size:
            r.fail("%s %d of the %s section names %s %d (valid 1..%d)" % (
                "record", record, section, what.split()[0], k, size))
        return k

    nnode = count("nodes", table=True)
    coord = [None] * nnode
    for rec in range(1, nnode + 1):
        k = number("node number", nnode, "nodes", rec)
        coord[k - 1] = (r.real("coord x"), r.real("coord y"), r.real("coord z"))
        r.skip_line()
    nelem = count("elements", table=True)
    elem = [None] * nelem
    for rec in range(1, nelem + 1):
        e = number("element number", nelem, "elements", rec)
        elem[e - 1] = tuple(number("node of vertex %d" % v, nnode, "elements", rec) for v in (1, 2, 3))
        r.skip_line()
    for what, table in (("node", coord), ("element", elem)):
        missing = [i + 1 for i, v in enumerate(table) if v is None]
        if missing:
            raise ModelError("%s: %s %d has no record in the %ss section" % (path, what, missing[0], what))

    def node_axis_values(section):
        values = {}
        for rec in range(1, count(section) + 1):
            k = number("node number", nnode, section, rec)
            axis = number("axis", 3, section, rec)
            values[(k, axis)] = r.real("value")  # a later record replaces an earlier one
            r.skip_line()
        return values

    constraints = node_axis_values("constraints")
    loads = node_axis_values("loads")
    pressure = [0.0] * nelem
    for rec in range(1, count("pressures") + 1):
        e = number("element number", nelem, "pressures", rec)
        pressure[e - 1] = r.real("pressure")
        r.skip_line()
    return Model(young, poisson, density, coord, elem, constraints, loads, pressure)


# ---------------------------------------------------------------- the CalculiX input

def _g(v):
    return "%.17g" % v


def write_input(model, thickness=0.001, tight=False, increments=INCREMENTS[0], print_nodes=None):
    """The text of the CalculiX input of model (module docstring). The
    displacements of print_nodes (node numbers; None: every node) are
    printed to the .dat file at the end of every increment of the last
    step."""
    if not thickness > 0:
        raise ModelError("thickness %r: expected a positive sheet thickness" % thickness)
    if model.density != 0:
        raise ModelError("density %s: self-weight is not written for CalculiX; give density 0" % _g(model.density))
    coord = model.coord
    out = ["** velora model, written by tools/calculix.py"]
    out.append("*NODE, NSET=NALL")
    out.extend("%d, %s, %s, %s" % (k + 1, _g(c[0]), _g(c[1]), _g(c[2])) for k, c in enumerate(coord))
    out.append("*ELEMENT, TYPE=M3D3, ELSET=EALL")
    # The vertex order kept: it carries the pressure's sign (PRESSURE_RULE).
    out.extend("%d, %d, %d, %d" % (e + 1, a, b, c) for e, (a, b, c) in enumerate(model.elem))
    if print_nodes is not None:
        out.append("*NSET, NSET=PRINTED")
        out.extend("%d" % k for k in print_nodes)
    # The hold across the plane of step 1, for a model flat in Z = constant:
    # the nodes free along Z.
    flat_model = len(coord) > 0 and all(c[2] == coord[0][2] for c in coord)
    flat = [k for k in range(1, len(coord) + 1) if (k, 3) not in model.constraints] if flat_model else []
    if flat:
        out.append("*NSET, NSET=FLAT")
        out.extend(", ".join("%d" % p for p in flat[k:k + 16]) for k in range(0, len(flat), 16))
    out.append("*MATERIAL, NAME=SHEET")
    out.append("*ELASTIC")
    out.append("%s, %s" % (_g(model.young / thickness), _g(model.poisson)))
    out.append("*EXPANSION")
    out.append(_g(PRESTRAIN))
    out.append("*MEMBRANE SECTION, ELSET=EALL, MATERIAL=SHEET")
    out.append(_g(thickness))
    out.append("*INITIAL CONDITIONS, TYPE=TEMPERATURE")
    out.append("NALL, 0.0")

    supports = ["%d, %d, %d, %s" % (k, a, a, _g(v)) for (k, a), v in sorted(model.constraints.items())]
    controls = ["*CONTROLS, PARAMETERS=FIELD", "1e-7, 1e-6"] if tight else []

    # Step 1: cooled, held across the plane: a uniform tension.
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
    # Step 2: the hold released, the loads applied.
    out.append("*STEP, NLGEOM, INC=1000")
    out.append("*STATIC")
    out.append("%s, 1.0, 1e-6, 1.0" % _g(increments[0]))
    out.extend(controls)
    out.append("*BOUNDARY, OP=NEW")
    out.extend(supports)
    loads = [(k, a, v) for (k, a), v in sorted(model.loads.items()) if v != 0]
    if loads:
        out.append("*CLOAD")
        out.extend("%d, %d, %s" % (k, a, _g(v)) for k, a, v in loads)
    p = model.pressure
    if p and p[0] != 0 and all(v == p[0] for v in p):
        out.append("*DLOAD")
        out.append("EALL, %s, %s" % (PRESSURE_RULE, _g(p[0])))
    elif any(v != 0 for v in p):
        out.append("*DLOAD")
        out.extend("%d, %s, %s" % (e + 1, PRESSURE_RULE, _g(v)) for e, v in enumerate(p) if v != 0)
    out.append("*END STEP")
    # Step 3: the tension taken away; the loads stay.
    out.append("*STEP, NLGEOM, INC=1000")
    out.append("*STATIC")
    out.append("%s, 1.0, 1e-6, 1.0" % _g(increments[1]))
    out.extend(controls)
    out.append("*TEMPERATURE")
    out.append("NALL, 0.0")
    out.append("*NODE PRINT, NSET=%s" % ("NALL" if print_nodes is None else "PRINTED"))
    out.append("U")
    out.append("*END STEP")
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------- what ccx prints

def _node_rows(lines):
    """(node, (x, y, z)) of the lines that hold a node number and three reals."""
    for line in lines:
        parts = line.split()
        if len(parts) == 4 and _INT.match(parts[0]):
            try:
                yield int(parts[0]), tuple(float(v) for v in parts[1:])
            except ValueError:
                continue


def read_dat(path):
    """node -> (ux, uy, uz) of the last displacement block of ccx's .dat
    file (*NODE PRINT prints one per increment; the last is the result)."""
    blocks, current = [], None
    try:
        with open(path) as f:
            for line in f:
                parts = line.split()
                if parts and re.match(r"[A-Za-z]", parts[0]):
                    # A block's header: displacements, or another quantity.
                    current = {} if parts[0] == "displacements" else None
                    if current is not None:
                        blocks.append(current)
                elif current is not None:
                    current.update(_node_rows([line]))
    except OSError as e:
        raise CalculixError("%s: cannot be read: %s" % (path, e)) from None
    if not blocks or not blocks[-1]:
        raise CalculixError("%s: no displacements (did ccx finish? its input needs *NODE PRINT ... U)" % path)
    return blocks[-1]


def displacement(path, node):
    """(ux, uy, uz) of node in the last displacement block of path."""
    block = read_dat(path)
    if node not in block:
        raise CalculixError("%s: node %d has no displacement in the last block" % (path, node))
    return block[node]


def read_report(path):
    """node -> (ux, uy, uz) of velora's report "output.txt"."""
    try:
        with open(path) as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise CalculixError("%s: cannot be read: %s" % (path, e)) from None
    start = next((i for i, line in enumerate(lines) if "Displ Z" in line), None)
    if start is None:
        raise CalculixError("%s: no displacement table (a line with \"Displ Z\")" % path)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith(" Node")), len(lines))
    return dict(_node_rows(lines[start + 1:end]))


def compare(velora, ccx):
    """(largest displacement of ccx, largest difference of the displacement
    vectors of any node, that node) of two node -> (ux, uy, uz) tables."""
    if set(velora) != set(ccx):
        extra = sorted(set(velora) ^ set(ccx))
        raise CalculixError("the two results hold different nodes (node %d is in one only)" % extra[0])
    umax = max((sum(v * v for v in u) ** 0.5 for u in ccx.values()), default=0.0)
    worst, node = 0.0, 0
    for k in sorted(velora):
        d = sum((x - y) ** 2 for x, y in zip(velora[k], ccx[k])) ** 0.5
        if d > worst:
            worst, node = d, k
    return umax, worst, node


def ccx_counts(log_text):
    """Increments and Newton iterations (= factorizations) of a ccx run,
    from its console log."""
    iterations = len(re.findall(r"^\s*iteration \d+", log_text, re.M))
    increments = len(re.findall(r"^\s*increment \d+ attempt \d+", log_text, re.M))
    return increments, iterations


# ---------------------------------------------------------------- running ccx

def run(directory, job, threads=1, prefix=()):
    """Runs ccx on directory/job.inp with threads threads (OMP_NUM_THREADS,
    CCX_NPROC_*), the command after prefix (e.g. GNU time): the finished
    process (its console log also in directory/job.log) and the wall
    seconds. A failure of ccx raises CalculixError with its last lines."""
    env = dict(os.environ)
    for k in ("OMP_NUM_THREADS", "CCX_NPROC_STIFFNESS", "CCX_NPROC_EQUATION_SOLVER", "CCX_NPROC_RESULTS",
              "NUMBER_OF_CPUS", "OPENBLAS_NUM_THREADS"):
        env[k] = str(threads)
    t = time.perf_counter()
    try:
        r = subprocess.run(list(prefix) + ["ccx", job], cwd=directory, env=env, capture_output=True, text=True)
    except OSError as e:
        raise CalculixError("cannot run ccx (Debian package calculix-ccx): %s" % e) from None
    seconds = time.perf_counter() - t
    with open(os.path.join(directory, job + ".log"), "w") as f:
        f.write(r.stdout)
    if r.returncode != 0 or "*ERROR" in r.stdout:
        raise CalculixError("ccx failed in %s (status %d): %s" % (directory, r.returncode,
                                                                 "\n".join(r.stdout.splitlines()[-5:])))
    return r, seconds


def solve(model, directory, job="model", thickness=0.001, tight=False, print_nodes=None, threads=1, prefix=()):
    """Writes model's CalculiX input to directory/job.inp and runs ccx,
    from whole steps and then from the smaller first increments of
    INCREMENTS while ccx gives up with too many cutbacks. A dictionary:
    "displacements" (node -> (ux, uy, uz) of the last block), "increments"
    and "iterations" of the run that succeeded, its first increments
    "start", its wall "seconds", the wall seconds of the attempts that
    failed before ("failed_seconds") and its standard error ("stderr")."""
    failed = 0.0
    for k, increments in enumerate(INCREMENTS):
        text = write_input(model, thickness, tight, increments, print_nodes)
        with open(os.path.join(directory, job + ".inp"), "w") as f:
            f.write(text)
        t = time.perf_counter()
        try:
            r, seconds = run(directory, job, threads, prefix)
        except CalculixError as e:
            failed += time.perf_counter() - t
            if "too many cutbacks" not in str(e) or k + 1 == len(INCREMENTS):
                raise
            continue
        increments_run, iterations = ccx_counts(r.stdout)
        return {"displacements": read_dat(os.path.join(directory, job + ".dat")), "increments": increments_run,
                "iterations": iterations, "start": increments, "seconds": seconds, "failed_seconds": failed,
                "stderr": r.stderr}


# ---------------------------------------------------------------- command line

def main(argv=None):
    ap = argparse.ArgumentParser(prog="calculix.py", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="command", required=True)
    w = sub.add_parser("write", help="write the CalculiX input of a velora model file")
    w.add_argument("model", help="velora model file (input.txt)")
    w.add_argument("inp", help="CalculiX input to write (job.inp)")
    w.add_argument("--thickness", type=float, default=0.001, help="sheet thickness; E = young / thickness")
    w.add_argument("--tight", action="store_true", help="tighten ccx's convergence test")
    w.add_argument("--increments", type=float, nargs=2, default=INCREMENTS[0], metavar=("A", "B"),
                   help="first increments of steps 2 and 3 (fractions of the step)")
    w.add_argument("--print", type=int, nargs="+", dest="nodes", metavar="NODE",
                   help="print these nodes' displacements (default: every node)")
    d = sub.add_parser("displacement", help="the last displacements of a node in ccx's .dat")
    d.add_argument("dat")
    d.add_argument("node", type=int)
    c = sub.add_parser("compare", help="velora's displacements against ccx's, node by node")
    c.add_argument("report", help="velora's report (output.txt)")
    c.add_argument("dat", help="ccx's .dat")
    c.add_argument("--tolerance", type=float, metavar="PERCENT",
                   help="exit with status 1 when the largest difference exceeds PERCENT of the largest displacement")
    args = ap.parse_args(argv)
    try:
        if args.command == "write":
            model = read_model(args.model)
            if args.nodes:
                bad = [k for k in args.nodes if not 1 <= k <= len(model.coord)]
                if bad:
                    raise ModelError("--print %d: no such node (valid 1..%d)" % (bad[0], len(model.coord)))
            text = write_input(model, args.thickness, args.tight, tuple(args.increments), args.nodes)
            with open(args.inp, "w") as f:
                f.write(text)
        elif args.command == "displacement":
            print(" ".join("%.9e" % v for v in displacement(args.dat, args.node)))
        else:
            umax, worst, node = compare(read_report(args.report), read_dat(args.dat))
            percent = 100 * worst / umax if umax > 0 else 0.0
            print("largest displacement %.6e; largest difference %.3e (%.3f%%) at node %d" % (
                umax, worst, percent, node))
            if args.tolerance is not None and not percent <= args.tolerance:
                print("the results differ by more than %g%%" % args.tolerance)
                return 1
    except (ModelError, CalculixError, OSError) as e:
        print("calculix.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
