#!/usr/bin/python3
"""The pressure's face and sign rule of tools/calculix.py held against a
known deflection: the square of n = 4 (half side 1, young 1000, poisson
0.3, pressure 1) solved by velora1 and by CalculiX, as the generator
writes it, with every element's vertex order reversed (the pressure then
acts along -Z in velora, (P2 - P1) x (P3 - P1)) and unequal pressures, and
with a force at the centre. Both programs must deflect the same way, the
centre within 2e-4 of velora1's (ccx_square.py's tolerance) and every
node within 0.05% of the largest displacement (calculix_lshape.sh's). A
pressure label or node order that turned the load, a wrong modulus or a
lost force is off by 1e-2 or more.

Usage: /usr/bin/python3 tools/calculix_ccx_test.py --build BUILD [unittest options]
Exit status 77 (skipped) without ccx (Debian calculix-ccx) or without the
programs square and velora1 in BUILD.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import calculix  # noqa: E402

BUILD = None
if "--build" in sys.argv:
    _k = sys.argv.index("--build")
    BUILD = os.path.abspath(sys.argv[_k + 1])
    del sys.argv[_k:_k + 2]

N = 4
CENTRE = 21  # the node at (0, 0) of the square of n = 4


def sections(text):
    """The model file split at its marker lines: [head, section 1, ...]."""
    parts, current = [], []
    for line in text.split("\n"):
        if line.startswith(":"):
            parts.append(current)
            current = []
        current.append(line)
    parts.append(current)
    return parts


def edit_records(part, edit):
    """part with edit(fields) applied to its record lines (after the count
    and the line after it), up to the next section's labels."""
    count = int(part[1].split()[0])
    for i in range(3, 3 + count):
        part[i] = "  ".join(edit(part[i].split()))
    return part


class AgainstVelora1(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        with open(os.path.join(cls.dir, "square.txt"), "w") as f:
            f.write(" ndiv      halfside\n:\n%5d     1.0\n\n young  poisson\n:\n1000.0  0.3\n\n"
                    " pressure\n:\n1.0\n" % N)
        subprocess.run([os.path.join(BUILD, "programs", "square")], cwd=cls.dir, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(cls.dir, "input.txt")) as f:
            cls.square = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def solve_both(self, name, text):
        """velora1's and ccx's displacements of the model file text."""
        d = os.path.join(self.dir, name)
        if os.path.isdir(d):
            return calculix.read_report(os.path.join(d, "output.txt")), calculix.read_dat(os.path.join(d, "model.dat"))
        os.mkdir(d)
        with open(os.path.join(d, "input.txt"), "w") as f:
            f.write(text)
        subprocess.run([os.path.join(BUILD, "programs", "velora1")], cwd=d, check=True, stdout=subprocess.DEVNULL)
        velora = calculix.read_report(os.path.join(d, "output.txt"))
        r = calculix.solve(calculix.read_model(os.path.join(d, "input.txt")), d, thickness=0.001, tight=True)
        return velora, r["displacements"]

    def agree(self, velora, ccx, sign):
        wv, wc = velora[CENTRE][2], ccx[CENTRE][2]
        self.assertGreater(sign * wv, 0.05)
        self.assertGreater(sign * wc, 0.05)
        self.assertLess(abs(wc - wv) / abs(wv), 2e-4, (wv, wc))
        umax, worst, node = calculix.compare(velora, ccx)
        self.assertLess(worst / umax, 5e-4, (worst, node))

    def test_the_square_as_generated_deflects_along_its_normal(self):
        # square orders every element counter-clockwise seen from +Z.
        self.agree(*self.solve_both("generated", self.square), +1)

    def test_reversed_vertex_order_and_unequal_pressures_deflect_the_other_way(self):
        parts = sections(self.square)
        edit_records(parts[4], lambda f: [f[0], f[1], f[3], f[2]])  # elements: vertices 2 and 3 swapped
        edit_records(parts[7], lambda f: [f[0], "1.0" if int(f[0]) % 2 else "0.8"])  # pressures
        velora, ccx = self.solve_both("reversed", "\n".join("\n".join(p) for p in parts))
        self.agree(velora, ccx, -1)

    def test_a_force_at_the_centre_adds_to_the_pressure(self):
        parts = sections(self.square)
        parts[6][1:3] = ["    1", "", "%5d  3  1.0E-01" % CENTRE]  # loads: one record
        velora, ccx = self.solve_both("force", "\n".join("\n".join(p) for p in parts))
        self.agree(velora, ccx, +1)
        _, alone = self.solve_both("generated", self.square)
        self.assertGreater(ccx[CENTRE][2], alone[CENTRE][2] + 1e-3)


if __name__ == "__main__":
    if shutil.which("ccx") is None:
        print("CalculiX (ccx) is missing: install the Debian package calculix-ccx; skipped")
        sys.exit(77)
    if BUILD is None or not all(os.path.exists(os.path.join(BUILD, p)) for p in ("programs/square", "programs/velora1")):
        print("square and velora1 are missing (give --build BUILD): skipped")
        sys.exit(77)
    unittest.main()
