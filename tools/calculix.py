#!/usr/bin/env python3
"""Writes a CalculiX input (M3D3 membrane elements, NLGEOM) for the model of
a velora model file, and reads back the displacements that CalculiX prints.

    ccx_membrane.py write input.txt model.inp [--thickness T]
    ccx -i model            # writes model.dat
    ccx_membrane.py displacement model.dat NODE    # prints ux uy uz
    ccx_membrane.py compare output.txt model.dat   # velora against CalculiX

The mesh, the supports, the loads and the pressures are those of the model
file, node and element numbers included. velora's `young` is the modulus of
a sheet of unit thickness (E t); CalculiX's membrane has a thickness, so it
gets E = young / T with a small T (default 0.001) and the same E t. The
pressure follows the deformed surface in both. A positive CalculiX pressure
pushes into the face it is put on; on face 1 of a membrane (the side
opposite its normal, the right-hand rule on its node order) it pushes along
the normal, as velora's does. Self-weight is not written.
"""
import sys


def numbers_after_marker(lines, start):
    """Index of the line after the next marker line (first character ':')."""
    i = start
    while not lines[i].startswith(":"):
        i += 1
    return i + 1


def read_model(path):
    lines = open(path).read().split("\n")
    i = numbers_after_marker(lines, 0)
    i = numbers_after_marker(lines, i)
    young, poisson, _density = map(float, lines[i].split()[:3])

    def section(i, fields):
        i = numbers_after_marker(lines, i)
        n = int(lines[i].split()[0])
        records = []
        if n > 0:
            i += 2
            for k in range(n):
                records.append(lines[i + k].split()[:fields])
            i += n
        return i, records

    i, nodes = section(i, 4)
    i, elems = section(i, 4)
    i, fixes = section(i, 3)
    i, loads = section(i, 3)
    i, pressures = section(i, 2)
    return young, poisson, nodes, elems, fixes, loads, pressures


def write(model, inp, thickness):
    young, poisson, nodes, elems, fixes, loads, pressures = read_model(model)
    with open(inp, "w") as f:
        f.write("*NODE, NSET=NALL\n")
        for k, x, y, z in nodes:
            f.write(f"{k}, {x}, {y}, {z}\n")
        f.write("*ELEMENT, TYPE=M3D3, ELSET=EALL\n")
        for e, a, b, c in elems:
            f.write(f"{e}, {a}, {b}, {c}\n")
        f.write("*INITIAL CONDITIONS, TYPE=TEMPERATURE\nNALL, 0\n")
        f.write("*MATERIAL, NAME=SHEET\n*ELASTIC\n")
        f.write(f"{float(young) / thickness:.17g}, {poisson}\n")
        f.write("*EXPANSION\n1.0\n")
        f.write(f"*MEMBRANE SECTION, ELSET=EALL, MATERIAL=SHEET\n{thickness:.17g}\n")
        f.write("*BOUNDARY\n")
        for k, axis, value in fixes:
            f.write(f"{k}, {axis}, {axis}, {value}\n")
        # A flat membrane has no stiffness across its plane until it is
        # stretched, and Newton's method cannot start from it. Step 1 cools
        # the sheet by 0.001 (expansion coefficient 1), which puts it under a
        # small tension; step 2 applies the loads; step 3 warms it back, so
        # the last result is the unstressed membrane under its loads alone.
        f.write("*STEP, NLGEOM\n*STATIC\n*TEMPERATURE\nNALL, -0.001\n*END STEP\n")
        # Increments are chosen by CalculiX, from 5% of the load.
        f.write("*STEP, NLGEOM, INC=1000\n*STATIC\n0.05, 1.0, 1e-6, 0.1\n")
        if loads:
            f.write("*CLOAD\n")
            for k, axis, value in loads:
                f.write(f"{k}, {axis}, {value}\n")
        if pressures:
            f.write("*DLOAD\n")
            for e, p in pressures:
                f.write(f"{e}, P1, {p}\n")
        f.write("*END STEP\n")
        f.write("*STEP, NLGEOM, INC=1000\n*STATIC\n0.05, 1.0, 1e-6, 0.1\n*TEMPERATURE\nNALL, 0\n")
        f.write("*NODE PRINT, NSET=NALL\nU\n*END STEP\n")


def displacement(dat, node):
    """The displacements of the node in the last block CalculiX printed."""
    found = None
    for line in open(dat):
        parts = line.split()
        if len(parts) == 4 and parts[0] == str(node):
            try:
                found = [float(v) for v in parts[1:]]
            except ValueError:
                pass
    if found is None:
        sys.exit(f"{dat}: no displacement of node {node}")
    print(" ".join(f"{v:.9e}" for v in found))


def last_block(dat):
    """node -> (ux, uy, uz) of the last displacement block CalculiX printed."""
    block = {}
    for line in open(dat):
        if "displacements" in line:
            block = {}
            continue
        parts = line.split()
        if len(parts) == 4:
            try:
                block[int(parts[0])] = [float(v) for v in parts[1:]]
            except ValueError:
                pass
    return block


def velora_displacements(report):
    """node -> (ux, uy, uz) from a velora report "output.txt"."""
    out, on = {}, False
    for line in open(report):
        if "Displ Z" in line:
            on = True
            continue
        if on and "Coord Z" in line:
            break
        parts = line.split()
        if on and len(parts) == 4:
            out[int(parts[0])] = [float(v) for v in parts[1:]]
    return out


def compare(report, dat):
    """The largest difference of the displacement vectors of any node,
    relative to the largest displacement, and the node where it occurs."""
    a, b = velora_displacements(report), last_block(dat)
    umax = max(sum(v * v for v in u) ** 0.5 for u in b.values())
    worst, node = 0.0, 0
    for k, u in a.items():
        d = sum((x - y) ** 2 for x, y in zip(u, b[k])) ** 0.5
        if d > worst:
            worst, node = d, k
    print(f"largest displacement {umax:.6e}; largest difference {worst:.3e} "
          f"({100 * worst / umax:.3f}%) at node {node}")


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "write":
        t = float(sys.argv[5]) if len(sys.argv) >= 6 and sys.argv[4] == "--thickness" else 0.001
        write(sys.argv[2], sys.argv[3], t)
    elif len(sys.argv) == 4 and sys.argv[1] == "compare":
        compare(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 4 and sys.argv[1] == "displacement":
        displacement(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
