#!/usr/bin/env python3
"""The inflated sphere of the gas verification (VERIFICATION.md, section 9), as a model file.

  sphere_octant.py model   [--n 16] [--kappa 1.0 | --pressure P] [-o input.txt]
  sphere_octant.py stretch [output.txt]
  sphere_octant.py closed  [--kappa 1.0 | --pressure P]

model: one octant x, y, z >= 0 of the unit sphere (young 1000, poisson 0.3):
the face (1,0,0), (0,1,0), (0,0,1) of the octahedron cut into n x n
triangles, its nodes projected onto the sphere, normals outward, each node
on a symmetry plane held across it. Its elements bound a chamber of gas
(ambient 100, gauge 1000 at the reference volume, p V^kappa constant,
volume measured from the origin, where the three planes meet), or, with
--pressure, take that fixed pressure instead.

stretch: the mean radius of the deformed nodes of a solved octant (the
deformed coordinates of output.txt).

closed: the closed form of that stretch, Green law: the gauge pressure
(E t / (1 - nu)) (l^2 - 1) / (l R) in equilibrium with the gas at l^3 V0,
1100 l^(-3 kappa) - 100 (or with the fixed pressure), by bisection.
"""

import argparse
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wrinkling_models import model_text  # noqa: E402

YOUNG, POISSON, AMBIENT, GAUGE = 1000.0, 0.3, 100.0, 1000.0


def model(args):
    n = args.n
    nodes, index, cons = [], {}, []
    for i in range(n + 1):
        for j in range(n + 1 - i):
            p = (i / n, j / n, (n - i - j) / n)
            r = math.sqrt(sum(c * c for c in p))
            nodes.append(tuple(c / r for c in p))
            index[i, j] = len(nodes)
            for axis, on in ((1, i == 0), (2, j == 0), (3, i + j == n)):
                if on:
                    cons.append((len(nodes), axis, 0.0))
    tris = []
    for i in range(n):
        for j in range(n - i):
            tris.append((index[i, j], index[i + 1, j], index[i, j + 1]))
            if i + j + 1 < n:
                tris.append((index[i + 1, j], index[i + 1, j + 1], index[i, j + 1]))
    params = (0.1, 20, 1e-7, 0.0, 4000, 3, 50)
    pressures, extra = [], ""
    if args.pressure is not None:
        pressures = [(e, args.pressure) for e in range(1, len(tris) + 1)]
    else:
        extra = ("chamber kappa ambient gauge volume x y z\n:chambers\n1\n\n1 %r %r %r 0.0 0.0 0.0 0.0\n"
                 "first last chamber\n:enclosures\n1\n\n1 %d 1\n" % (args.kappa, AMBIENT, GAUGE, len(tris)))
    with open(args.output, "w") as f:
        f.write(model_text(params, (YOUNG, POISSON, 0.0), nodes, tris, cons, pressures, False, (), extra))


def stretch(args):
    with open(args.output) as f:
        lines = f.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith(" Node") and "Coord X" in line) + 3
    radii = []
    for line in lines[start:]:
        if not line.strip():
            break
        radii.append(math.sqrt(sum(float(v) ** 2 for v in line.split()[1:4])))
    print("%.6f" % (sum(radii) / len(radii)))


def closed(args):
    lo, hi = 1.0, 3.0
    for _ in range(200):
        s = 0.5 * (lo + hi)
        load = args.pressure if args.pressure is not None else (GAUGE + AMBIENT) * s ** (-3 * args.kappa) - AMBIENT
        if load > YOUNG / (1 - POISSON) * (s * s - 1) / s:
            lo = s
        else:
            hi = s
    print("%.6f" % (0.5 * (lo + hi)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="what", required=True)
    m = sub.add_parser("model", help="the octant's model file")
    m.add_argument("--n", type=int, default=16)
    m.add_argument("-o", "--output", default="input.txt")
    c = sub.add_parser("closed", help="the closed form of the stretch")
    for p in (m, c):
        p.add_argument("--kappa", type=float, default=1.0)
        p.add_argument("--pressure", type=float, help="a fixed pressure instead of the gas")
    s = sub.add_parser("stretch", help="the mean radius of a solved octant")
    s.add_argument("output", nargs="?", default="output.txt")
    args = parser.parse_args()
    if args.what == "model" and args.n < 1:
        sys.exit("sphere_octant.py: n must be at least 1")
    {"model": model, "stretch": stretch, "closed": closed}[args.what](args)


if __name__ == "__main__":
    main()
