#!/usr/bin/env python3
"""The wrinkling verification models (VERIFICATION.md, section 8), as model files.

  wrinkling_models.py shear  [--nx 40] [--ny 10] [--gamma 1e-3] [--wrinkling] [-o input.txt]
  wrinkling_models.py airbag [--n 32] [--wrinkling] [--gas V0 [--kappa 1.4] [--load F]] [--mnref R] [-o input.txt]
  wrinkling_models.py volume  [output.txt]

shear: a sheet of length 4 and width 1 (young 1000, poisson 0.3), its long
edges y = 0 and y = 1 clamped, the edge y = 1 moved along its length by
gamma (gamma = delta / width), every node held in its plane: in its middle
tension-field theory gives uniaxial tension at 45 degrees and a shear force
per length young * gamma / 4.

airbag: the square airbag of the literature (two square sheets of diagonal
1.2 m sewn along their edges and inflated): thickness 0.6 mm, E 588 MPa
(young = E t = 352800 N/m), poisson 0.4, pressure 5 kPa; the upper sheet's
quarter [0, a/2]^2 (a = 1.2 / sqrt 2 the side) in n x n cells of two
triangles each, symmetry on its inner edges x = 0 and y = 0, the sewn edges
x = a/2 and y = a/2 held out of plane. The centre deflection is node 1's Z.
With --gas V0 the sheet is not pressed by a fixed pressure but bounds a
chamber of air (ambient 101325, kappa 1.4 unless given) whose gauge
pressure is 5 kPa at the volume V0 (that of the quarter inflated by 5 kPa:
`volume` prints it), closed by the symmetry planes x = 0, y = 0 and the
mid-plane z = 0 through the origin. --load F pushes node 1 down by F.

volume: the volume between the deformed sheet of a solved airbag (the
deformed coordinates of output.txt, the elements of input.txt beside it)
and the mid-plane, measured from the origin.

The model files use only the standard library and the free-form reader's
rules (docs/model-file.md): a marker line before each section.
"""

import argparse
import math
import sys


def model_text(params, material, nodes, elements, constraints, pressures, wrinkling, loads=(), extra=""):
    out = []
    out.append("lstol maxls mntol mnref maxminor maxlist maxmajor")
    out.append(":")
    out.append("%r %d %r %r %d %d %d" % params)
    out.append("young poisson density")
    out.append(":")
    out.append("%r %r %r" % material)
    out.append("node x y z")
    out.append(":")
    out.append("%d" % len(nodes))
    out.append("")
    for k, p in enumerate(nodes, 1):
        out.append("%d %r %r %r" % (k, p[0], p[1], p[2]))
    out.append("element nodes")
    out.append(":")
    out.append("%d" % len(elements))
    out.append("")
    for e, t in enumerate(elements, 1):
        out.append("%d %d %d %d" % (e, t[0], t[1], t[2]))
    out.append("node axis displ")
    out.append(":")
    out.append("%d" % len(constraints))
    if constraints:
        out.append("")
    for node, axis, value in constraints:
        out.append("%d %d %r" % (node, axis, value))
    out.append("node axis force")
    out.append(":")
    out.append("%d" % len(loads))
    if loads:
        out.append("")
    for node, axis, value in loads:
        out.append("%d %d %r" % (node, axis, value))
    out.append("element pressure")
    out.append(":")
    out.append("%d" % len(pressures))
    if pressures:
        out.append("")
    for e, p in pressures:
        out.append("%d %r" % (e, p))
    if wrinkling:
        out.append("wrinkling")
        out.append(":wrinkling")
        out.append("on")
    return "\n".join(out) + "\n" + extra


def grid(nx, ny, width, height):
    """Nodes (row by row from y = 0) and triangles of nx x ny cells, each
    cut along alternating diagonals, counterclockwise seen from +z."""
    nodes = [(width * i / nx, height * j / ny, 0.0) for j in range(ny + 1) for i in range(nx + 1)]
    tris = []
    for j in range(ny):
        for i in range(nx):
            a = j * (nx + 1) + i + 1
            b, c, d = a + 1, a + nx + 1, a + nx + 2
            if (i + j) % 2 == 0:
                tris += [(a, b, d), (a, d, c)]
            else:
                tris += [(a, b, c), (b, d, c)]
    return nodes, tris


def shear(args):
    length, width = 4.0, 1.0
    nodes, tris = grid(args.nx, args.ny, length, width)
    delta = args.gamma * width
    cons = []
    for k, (x, y, _) in enumerate(nodes, 1):
        if y == 0.0 or y == width:
            cons += [(k, 1, delta if y == width else 0.0), (k, 2, 0.0)]
        cons.append((k, 3, 0.0))
    params = (0.1, 20, 1e-6, 0.0, 30 * len(nodes), 3, 20)
    return model_text(params, (1000.0, 0.3, 0.0), nodes, tris, cons, [], args.wrinkling)


def airbag(args):
    half = 0.5 * 1.2 / math.sqrt(2.0)
    nodes, tris = grid(args.n, args.n, half, half)
    cons = []
    for k, (x, y, _) in enumerate(nodes, 1):
        if x == 0.0:
            cons.append((k, 1, 0.0))
        if y == 0.0:
            cons.append((k, 2, 0.0))
        if abs(x - half) < 1e-12 or abs(y - half) < 1e-12:
            cons.append((k, 3, 0.0))
    params = (0.1, 20, 1e-3, args.mnref, 30 * len(nodes), 3, args.maxmajor)
    pressures = [(e, 5000.0) for e in range(1, len(tris) + 1)]
    extra, loads = "", []
    if args.gas is not None:
        pressures = []
        extra = ("chamber kappa ambient gauge volume x y z\n:chambers\n1\n\n1 %r 101325.0 5000.0 %r 0.0 0.0 0.0\n"
                 "first last chamber\n:enclosures\n1\n\n1 %d 1\n" % (args.kappa, args.gas, len(tris)))
    if args.load:
        loads = [(1, 3, -args.load)]
    return model_text(params, (352800.0, 0.4, 0.0), nodes, tris, cons, pressures, args.wrinkling, loads, extra)


def volume(args):
    """The signed volume from the origin of the triangles of input.txt at
    the deformed coordinates of output.txt."""
    def section(lines, marker):
        return next(i for i, line in enumerate(lines) if line.strip() == marker)
    with open(args.output) as f:
        out = f.read().split("\n")
    start = next(i for i, line in enumerate(out) if line.startswith(" Node") and "Coord X" in line) + 3
    coords = {}
    for line in out[start:]:
        if not line.strip():
            break
        k, x, y, z = line.split()
        coords[int(k)] = (float(x), float(y), float(z))
    with open(args.input) as f:
        lines = f.read().split("\n")
    i = section(lines, ":")  # parameters
    i = section(lines[i + 1:], ":") + i + 1  # material
    i = section(lines[i + 1:], ":") + i + 1  # nodes
    count = int(lines[i + 1])
    i = section(lines[i + 1:], ":") + i + 1  # elements
    count = int(lines[i + 1])
    tris = [tuple(int(v) for v in line.split()[1:4]) for line in lines[i + 3:i + 3 + count]]
    total = 0.0
    for t in tris:
        a, b, c = (coords[k] for k in t)
        total += (a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
                  a[2] * (b[0] * c[1] - b[1] * c[0]))
    print("%.9g" % (total / 6.0))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="model", required=True)
    s = sub.add_parser("shear", help="the sheet in shear")
    s.add_argument("--nx", type=int, default=40)
    s.add_argument("--ny", type=int, default=10)
    s.add_argument("--gamma", type=float, default=1e-3)
    a = sub.add_parser("airbag", help="the square airbag, quarter model")
    a.add_argument("--n", type=int, default=32)
    a.add_argument("--maxmajor", type=int, default=20, help="most major iterations (the follower pressure converges slowly)")
    a.add_argument("--gas", type=float, help="a chamber of air at 5 kPa gauge at this volume, no fixed pressure")
    a.add_argument("--kappa", type=float, default=1.4)
    a.add_argument("--mnref", type=float, default=0.0, help="the reference residue (0: the initial residual)")
    a.add_argument("--load", type=float, default=0.0, help="a force pushing node 1 down")
    for p in (s, a):
        p.add_argument("--wrinkling", action="store_true", help="write :wrinkling on")
        p.add_argument("-o", "--output", default="input.txt")
    v = sub.add_parser("volume", help="the volume of a solved airbag")
    v.add_argument("output", nargs="?", default="output.txt")
    v.add_argument("--input", default="input.txt")
    args = parser.parse_args()
    if args.model == "volume":
        volume(args)
        return
    if min(getattr(args, "nx", 1), getattr(args, "ny", 1), getattr(args, "n", 1)) < 1:
        sys.exit("wrinkling_models.py: the cell counts must be at least 1")
    text = shear(args) if args.model == "shear" else airbag(args)
    with open(args.output, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
