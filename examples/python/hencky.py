#!/usr/bin/env python3
"""A parameter study with the Python module: the centre deflection of a
clamped circular membrane against the pressure, beside Hencky's closed form

    w0 = C a (q a / (E t))^(1/3),  C = 0.6534 for Poisson's ratio 0.3

(VERIFICATION.md, section 1). The circle is meshed here in numpy, solved at
each pressure, and the curve is plotted with matplotlib into a PNG, without
a display:

    python3 hencky.py [--rings 8] [--output hencky.png]

Exit status 1 when a solve strays more than 0.5% from the closed form (the
mesh of 8 rings is within 0.15% over this range, and further from it as the
deflection grows, where Hencky's moderate-rotation theory departs from the
solvers' exact kinematics), 77 when matplotlib is missing.
"""
import argparse
import sys

import numpy as np
import velora

RADIUS, YOUNG, POISSON, C = 1.0, 1000.0, 0.3, 0.6534


def circle(rings):
    """A disc of `rings` rings about a centre node, ring i of 6 i nodes; the
    triangles between two rings follow their nodes by angle, counter-clockwise
    seen from +z, so that a positive pressure lifts the membrane."""
    nodes = [(0.0, 0.0, 0.0)]
    first = [0]  # index of each ring's first node
    for i in range(1, rings + 1):
        first.append(len(nodes))
        for k in range(6 * i):
            t = 2 * np.pi * k / (6 * i)
            nodes.append((RADIUS * i / rings * np.cos(t), RADIUS * i / rings * np.sin(t), 0.0))
    triangles = []
    for i in range(1, rings + 1):
        inner = [first[i - 1] + k for k in range(max(6 * (i - 1), 1))]
        outer = [first[i] + k for k in range(6 * i)]
        # The centre is a ring of one node and no sides.
        inner_sides = len(inner) if len(inner) > 1 else 0
        a = b = 0
        while a < inner_sides or b < len(outer):
            # Advance along the ring whose next node comes first by angle.
            if b < len(outer) and (a >= inner_sides or (b + 1) / len(outer) <= (a + 1) / len(inner)):
                triangles.append((inner[a % len(inner)], outer[b], outer[(b + 1) % len(outer)]))
                b += 1
            else:
                triangles.append((inner[a], outer[b % len(outer)], inner[(a + 1) % len(inner)]))
                a += 1
    nodes = np.array(nodes)
    triangles = np.array(triangles)
    rim = np.flatnonzero(np.isclose(np.hypot(nodes[:, 0], nodes[:, 1]), RADIUS))
    return nodes, triangles, {int(k): "xyz" for k in rim}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rings", type=int, default=8)
    parser.add_argument("--output", default="hencky.png")
    args = parser.parse_args()
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is missing (Debian python3-matplotlib)")
        return 77

    nodes, triangles, rim = circle(args.rings)
    pressures = np.geomspace(0.01, 2.0, 7)
    deflections = []
    for q in pressures:
        model = velora.Model(nodes, triangles, young=YOUNG, poisson=POISSON, fix=rim, pressure=q)
        result = velora.solve(model)
        if not result.converged:
            print(f"q = {q:.4g}: not converged in {result.major} major iterations")
            return 1
        deflections.append(result.displacement[0, 2])  # node 0 is the centre
    deflections = np.array(deflections)
    hencky = C * RADIUS * (pressures * RADIUS / YOUNG) ** (1 / 3)
    error = deflections / hencky - 1
    print(f"{'pressure':>10} {'velora':>10} {'Hencky':>10} {'error':>8}")
    for q, w, h, e in zip(pressures, deflections, hencky, error):
        print(f"{q:10.4g} {w:10.6f} {h:10.6f} {100 * e:+7.3f}%")

    fine = np.geomspace(pressures[0], pressures[-1], 100)
    fig, ax = plt.subplots(figsize=(6, 4))
    ax.plot(fine, C * RADIUS * (fine * RADIUS / YOUNG) ** (1 / 3), label="Hencky, C = 0.6534")
    ax.plot(pressures, deflections, "o", label=f"velora, {args.rings} rings ({len(triangles)} triangles)")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("pressure q")
    ax.set_ylabel("centre deflection w0")
    ax.set_title(f"Clamped circle, a = {RADIUS}, E t = {YOUNG}, nu = {POISSON}")
    ax.legend()
    fig.tight_layout()
    fig.savefig(args.output, dpi=100)
    print(f"wrote {args.output}")
    return 0 if np.all(np.abs(error) < 0.005) else 1


if __name__ == "__main__":
    sys.exit(main())
