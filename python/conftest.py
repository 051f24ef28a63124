# What the module's tests share: the folders CTest passes in the
# environment, the programs to compare with, and a square membrane built in
# numpy, with the cells of the generator `square`.
import os
import subprocess

import numpy as np
import pytest

TESTDATA = os.environ.get("VELORA_TESTDATA", os.path.join(os.path.dirname(__file__), "..", "tests", "testdata"))
EXAMPLES = os.environ.get("VELORA_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "examples"))
PROGRAMS = os.environ.get("VELORA_PROGRAMS", "")


def program(name):
    path = os.path.join(PROGRAMS, name)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{name} is not built")
    return path


def run(name, folder, *args):
    """Runs a program in folder: (exit status, the failure report's message)."""
    done = subprocess.run([program(name), *args], cwd=folder, capture_output=True, text=True)
    report = done.stderr.strip()
    return done.returncode, report.split(" : ", 1)[1] if " : " in report else report


def square(n, half=1.0, pressure=0.01):
    """A square of 2 half sides, n divisions a side, each cell cut into four
    triangles at its centre, held along its edge, under a pressure."""
    import velora
    side = np.linspace(-half, half, n + 1)
    corners = np.array([(x, y, 0.0) for y in side for x in side])
    h = side[1] - side[0]
    centres = np.array([(x + h / 2, y + h / 2, 0.0) for y in side[:-1] for x in side[:-1]])
    nodes = np.vstack([corners, centres])
    triangles = []
    for j in range(n):
        for i in range(n):
            a, b = j * (n + 1) + i, j * (n + 1) + i + 1
            c, d = b + n + 1, a + n + 1
            m = len(corners) + j * n + i
            triangles += [(a, b, m), (b, c, m), (c, d, m), (d, a, m)]
    edge = np.isclose(np.abs(nodes[:, :2]).max(axis=1), half)
    fixed = np.repeat(edge[:, None], 3, axis=1)
    return velora.Model(nodes, triangles, fix=fixed, pressure=pressure)
