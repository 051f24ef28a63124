#!/usr/bin/python3
"""Tests of the benchmark scripts compare.py, ccx_square.py and
newton_compare.py: compare.py's numpy energy against a scalar transcription
of the C++ kernel and against central differences and its transcription's
path against velora1's; what they read from the programs' output and, when
the programs are there, small models end to end (the transcription's path
and CalculiX's membrane against velora1's, through ccx_square.py's timed
solve). The CalculiX model itself, its runs and the
reading of ccx's output are tools/calculix.py's, tested by
tools/calculix_test.py and tools/calculix_ccx_test.py.

Usage: /usr/bin/python3 bench/scripts_test.py [--build BUILD] [unittest options]
Exit status 77 (skipped) without numpy.
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy as np
except ImportError:  # pragma: no cover - environment message
    print("numpy is missing: skipped")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ccx_square  # noqa: E402
import compare  # noqa: E402
import newton_compare  # noqa: E402

# --build BUILD: the build folder of the programs, for the end-to-end tests
# (taken out of the arguments before unittest sees them).
BUILD = None
if "--build" in sys.argv:
    _k = sys.argv.index("--build")
    BUILD = os.path.abspath(sys.argv[_k + 1])
    del sys.argv[_k:_k + 2]


def skew_model():
    """A 3 by 3 grid of nodes on the unit square, lifted and shifted off the
    plane so that no two elements are alike, split into 8 triangles of both
    diagonals (nodes touched by 1 to 6 elements); node 0 held, node 2 held
    along Z at a prescribed lift, node 6 held along X; a pressure that
    differs per element, a self-weight and a nodal load."""
    rng = np.random.default_rng(7)
    coord = np.array([[i * 0.5, j * 0.5, 0.0] for j in range(3) for i in range(3)])
    coord += 0.08 * rng.standard_normal(coord.shape)
    elem = []
    for j in range(2):
        for i in range(2):
            a, b, c, d = 3 * j + i, 3 * j + i + 1, 3 * j + i + 4, 3 * j + i + 3
            elem += [[a, b, c], [a, c, d]] if (i + j) % 2 == 0 else [[a, b, d], [b, c, d]]
    fixed = np.zeros((9, 3), dtype=bool)
    displ = np.zeros((9, 3))
    fixed[0] = True
    fixed[2, 2] = True
    displ[2, 2] = 0.05
    fixed[6, 0] = True
    action = np.zeros((9, 3))
    action[4] = [0.1, -0.2, 0.3]
    return {"coord": coord, "elem": np.array(elem), "fixed": fixed, "displ": displ, "young": 1000.0,
            "poisson": 0.3, "density": 0.7, "action": action, "pressure": np.linspace(0.5, 2.0, 8)}


def scalar_energy(m, green, force, x):
    """The C++ kernel element by element in plain Python floats (the old,
    unvectorised transcription): energy as one chain (load potential, then
    element energies), each gradient component from -force adding its
    element terms in element order."""
    fixed = m["fixed"].reshape(-1)
    free = [c for c in range(len(fixed)) if not fixed[c]]
    where = {c: i for i, c in enumerate(free)}
    u = m["displ"].reshape(-1).copy()
    u[free] = x
    f = 0.0
    for i, c in enumerate(free):
        f += -(force[c] * x[i])
    g = [-force[c] for c in free]
    nu = m["poisson"]
    ff = (m["young"] / (1.0 - nu * nu)) * 0.5
    energies = []
    for nodes in m["elem"]:
        p = [m["coord"][v] for v in nodes]
        length, direction, b, eps = [], [], [], []
        for k in range(3):
            v = [p[(k + 2) % 3][j] - p[(k + 1) % 3][j] for j in range(3)]
            L = math.sqrt((v[0] * v[0] + v[1] * v[1]) + v[2] * v[2])
            length.append(L)
            direction.append([v[j] / L for j in range(3)])
        d = direction
        c1 = min(-((d[1][0] * d[2][0] + d[1][1] * d[2][1]) + d[1][2] * d[2][2]), 1.0)
        c2 = min(-((d[2][0] * d[0][0] + d[2][1] * d[0][1]) + d[2][2] * d[0][2]), 1.0)
        s1, s2 = math.sqrt(1.0 - c1 * c1), math.sqrt(1.0 - c2 * c2)
        c3, s3 = s1 * s2 - c1 * c2, s2 * c1 + s1 * c2
        k00 = ((1.0 + c1 * c1) - nu * (s1 * s1)) * ff / (s2 * s2) / (s3 * s3)
        k01 = ((c1 * c2 - c3) + (nu * s1) * s2) * ff / s1 / s2 / (s3 * s3)
        k02 = ((c1 * c3 - c2) + (nu * s1) * s3) * ff / s1 / (s2 * s2) / s3
        k11 = ((1.0 + c2 * c2) - nu * (s2 * s2)) * ff / (s1 * s1) / (s3 * s3)
        k12 = ((c2 * c3 - c1) + (nu * s2) * s3) * ff / (s1 * s1) / s2 / s3
        k22 = ((1.0 + c3 * c3) - nu * (s3 * s3)) * ff / (s1 * s1) / (s2 * s2)
        area = ((length[0] * length[1]) * s3) * 0.5
        delta = [u[3 * v + j] for v in nodes for j in range(3)]
        for k in range(3):
            i, j = 3 * ((k + 1) % 3), 3 * ((k + 2) % 3)
            a = [d[k][q] + (delta[j + q] - delta[i + q]) / length[k] for q in range(3)]
            s = (a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]
            if green:
                eps.append(0.5 * (s - 1.0))
                q = length[k]
            else:
                lam = math.sqrt(s)
                eps.append((s - 1.0) / (lam + 1.0))
                q = lam * length[k]
            b.append([a[0] / q, a[1] / q, a[2] / q])
        e = eps
        an1 = area * ((k00 * e[0] + k01 * e[1]) + k02 * e[2])
        an2 = area * ((k01 * e[0] + k11 * e[1]) + k12 * e[2])
        an3 = area * ((k02 * e[0] + k12 * e[1]) + k22 * e[2])
        f_e = 0.5 * ((an1 * e[0] + an2 * e[1]) + an3 * e[2])
        terms = ([an2 * b[1][c] - an3 * b[2][c] for c in range(3)], [an3 * b[2][c] - an1 * b[0][c] for c in range(3)],
                 [an1 * b[0][c] - an2 * b[1][c] for c in range(3)])
        for v in range(3):
            for c in range(3):
                comp = 3 * nodes[v] + c
                if comp in where:
                    g[where[comp]] += terms[v][c]
        energies.append(f_e)
    for f_e in energies:  # after every load term
        f += f_e
    return f, np.array(g)


class NumpyEnergy(unittest.TestCase):
    """compare.Membrane, the energy both Python peers minimise."""

    def setUp(self):
        self.model = skew_model()
        self.x = 0.03 * np.random.default_rng(3).standard_normal(int((~self.model["fixed"]).sum()))

    def membrane(self, green, ordered=True):
        mem = compare.Membrane(self.model, green, ordered)
        mem.setforce(self.x)  # the pressure on the displaced shape
        return mem

    def test_ordered_sums_give_the_scalar_kernels_bits(self):
        # The transcription must take velora1's path, so its energy and
        # gradient are the C++ kernel's to the last bit, for both laws.
        for green in (True, False):
            with self.subTest(green=green):
                mem = self.membrane(green)
                f, g = mem.energy(self.x)
                fs, gs = scalar_energy(self.model, green, mem.force, self.x)
                self.assertEqual(f, fs)
                np.testing.assert_array_equal(g, gs)

    def test_the_scipy_peers_sums_differ_only_in_rounding(self):
        for green in (True, False):
            with self.subTest(green=green):
                f, g = self.membrane(green, ordered=False).energy(self.x)
                fs, gs = scalar_energy(self.model, green, self.membrane(green).force, self.x)
                self.assertLess(abs(f - fs), 1e-14 * abs(fs))
                np.testing.assert_array_equal(g, gs)  # the gradient is gathered in the same order

    def test_gradient_against_central_differences(self):
        for green in (True, False):
            with self.subTest(green=green):
                mem = self.membrane(green)
                _, g = mem.energy(self.x)
                h = 1e-6
                for i in range(mem.nfree):
                    e = np.zeros(mem.nfree)
                    e[i] = h
                    fd = (mem.energy(self.x + e)[0] - mem.energy(self.x - e)[0]) / (2 * h)
                    self.assertAlmostEqual(fd, g[i], delta=1e-6 * max(1.0, abs(g[i])))

    def test_every_free_component_is_an_unknown_and_every_call_counts(self):
        mem = self.membrane(True)
        self.assertEqual(mem.nfree, 27 - 5)
        before = mem.evaluations
        mem.energy(self.x)
        _, g1 = mem.energy(self.x)
        _, g2 = mem.energy(2 * self.x)
        self.assertEqual(mem.evaluations, before + 3)
        self.assertFalse(np.array_equal(g1, g2))  # a fresh gradient each call, not a buffer overwritten
        self.assertAlmostEqual(mem.displacements(self.x)[2, 2], 0.05)


class ReadModel(unittest.TestCase):
    def test_load_records_are_node_axis_value_and_a_later_one_replaces(self):
        text = ("p\n:\n 0.1 20 0.001 0 30 3 20\n\nm\n:\n 1000 0.3 0\n\nn\n:\n 3\n\n"
                " 1 0 0 0\n 2 1 0 0\n 3 0 1 0\n\ne\n:\n 1\n\n 1 1 2 3\n\nc\n:\n 0\n\n"
                "l\n:\n 3\n\n 2 3 -1.5\n 3 1 2.0\n 2 3 -0.5\n\np\n:\n 0\n")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "input.txt")
            with open(path, "w") as f:
                f.write(text)
            m = compare.read_model(path)
        want = np.zeros((3, 3))
        want[1, 2], want[2, 0] = -0.5, 2.0
        np.testing.assert_array_equal(m["action"], want)


class Allocator(unittest.TestCase):
    def test_peers_get_the_raised_thresholds_the_programs_do_not(self):
        user = {"PATH": "/bin", "MALLOC_TOP_PAD_": "1"}
        peer = compare.peer_environment(user)
        self.assertEqual(peer["MALLOC_MMAP_THRESHOLD_"], "33554432")
        self.assertEqual(peer["MALLOC_TOP_PAD_"], "1")  # the user's own value stays
        self.assertEqual(compare.program_environment(peer), user)

    def test_without_the_script_the_environment_is_kept(self):
        user = {"PATH": "/bin", "MALLOC_MMAP_THRESHOLD_": "4096"}
        self.assertEqual(compare.program_environment(user), user)


class CountsLine(unittest.TestCase):
    def test_reads_every_named_count(self):
        c = newton_compare.parse_counts("newton: steps 8 factorizations 9 failed 1 evaluations 10\n")
        self.assertEqual(c, {"steps": 8, "factorizations": 9, "failed": 1, "evaluations": 10})

    def test_takes_the_last_line_and_ignores_other_text(self):
        text = ("\tCommand being timed: \"velora1\"\nnewton: steps 1 factorizations 2\n"
                "newton: steps 3 factorizations 4 majors 2\n\tMaximum resident set size (kbytes): 7716\n")
        self.assertEqual(newton_compare.parse_counts(text), {"steps": 3, "factorizations": 4, "majors": 2})

    def test_names_of_several_words(self):
        c = newton_compare.parse_counts("newton: steps 8 failed 0 tangent entries 24402 factor entries 169056\n")
        self.assertEqual(c, {"steps": 8, "failed": 0, "tangent_entries": 24402, "factor_entries": 169056})

    def test_no_line_gives_no_counts(self):
        self.assertEqual(newton_compare.parse_counts("raised X : y\nnewton: oops\n"), {})


class ReportHead(unittest.TestCase):
    def test_majors_and_last_minors(self):
        head = ("-" * 65 + "\n"
                "| Major Iterations                            |               3 |\n"
                "| Last Minor Iterations                       |              12 |\n"
                "| Total Potential Energy                      | -1.06130205E-01 |\n")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "output.txt")
            with open(path, "w") as f:
                f.write(head)
            self.assertEqual(newton_compare.parse_summary(path), (3, 12))


class Estimate(unittest.TestCase):
    def test_power_law_through_the_two_largest_sizes(self):
        measured = {10: 99.0, 20: 2.0, 40: 2.0 * 2**3.2}  # the first size is ignored
        seconds, exponent = newton_compare.estimate_default(measured, 80)
        self.assertAlmostEqual(exponent, 3.2, places=12)
        self.assertAlmostEqual(seconds, 2.0 * 4**3.2, places=9)

    def test_one_size_gives_no_estimate(self):
        self.assertEqual(newton_compare.estimate_default({20: 1.0}, 80), (None, None))


class GnuTime(unittest.TestCase):
    def test_peak_and_cpu_seconds(self):
        text = ("\tCommand being timed: \"ccx square\"\n\tUser time (seconds): 12.50\n"
                "\tSystem time (seconds): 0.75\n\tMaximum resident set size (kbytes): 220596\n")
        self.assertEqual(ccx_square.gnu_time_figures(text), (220596, 13.25))

    def test_absent_figures_are_none(self):
        self.assertEqual(ccx_square.gnu_time_figures("raised X\n"), (None, None))


def programs():
    if BUILD is None:
        return None
    square = os.path.join(BUILD, "programs", "square")
    velora1 = os.path.join(BUILD, "programs", "velora1")
    return (square, velora1) if os.path.exists(square) and os.path.exists(velora1) else None


class EndToEnd(unittest.TestCase):
    @unittest.skipUnless(programs() and shutil.which("ccx"), "needs ccx and the built programs")
    def test_thin_calculix_membrane_agrees_with_velora1(self):
        # A thin sheet (t = 0.001, E = young / t) is the membrane velora
        # solves; ccx converged tightly must agree with velora1's centre
        # deflection within the comparison's 2e-4. A wrong pressure sign or
        # face, node order or modulus gives 1e-2 or more.
        square, velora1 = programs()
        with tempfile.TemporaryDirectory() as d:
            n = 4
            newton_compare.make_square(d, n, square)
            nd = os.path.join(d, "n%d" % n)
            subprocess.run([velora1], cwd=nd, check=True)
            wv = newton_compare.deflection(nd, n)
            c = os.path.join(nd, "ccx")
            os.mkdir(c)
            r = ccx_square.solve_with_ccx(os.path.join(nd, "input.txt"), c, newton_compare.compare.centre_node(n),
                                          0.001, True)
            self.assertGreater(wv, 0.05)
            self.assertLess(abs(r["w"] - wv) / wv, 2e-4)
            self.assertGreaterEqual(r["iterations"], r["increments"])

    @unittest.skipUnless(programs(), "needs the built programs")
    def test_numpy_transcription_takes_velora1s_path(self):
        # Same majors, last minors and energy to the report's 9 digits: a
        # sum out of the C++ order shows as another path within a few
        # hundred evaluations; the centre deflection is the same number.
        square, velora1 = programs()
        with tempfile.TemporaryDirectory() as d:
            n = 6
            compare.write_square(d, n)
            subprocess.run([square], cwd=d, check=True, stdout=subprocess.DEVNULL)
            subprocess.run([velora1], cwd=d, check=True, stdout=subprocess.DEVNULL)
            out = os.path.join(d, "output.txt")
            _, evaluations, major, minor, energy, mem, x = compare.numpy_solve(os.path.join(d, "input.txt"), True)
            self.assertEqual(compare.report_summary(out),
                             {"Major Iterations": str(major), "Last Minor Iterations": str(minor),
                              "Total Potential Energy": "%.8E" % energy})
            self.assertGreater(evaluations, 100)
            w = compare.deflection_from_report(out, compare.centre_node(n))
            self.assertAlmostEqual(mem.displacements(x)[compare.centre_node(n) - 1, 2], w, delta=1e-6)

    @unittest.skipUnless(programs(), "needs the built programs")
    def test_driver_runs_both_methods_and_reports_agreement(self):
        square, _ = programs()
        r = subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "newton_compare.py"),
                            "--build", BUILD, "--sizes", "3", "--ccx-sizes", "--scipy-sizes"],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        row = next(line for line in r.stdout.splitlines() if line.startswith("| 3 |"))
        cells = [c.strip() for c in row.strip("|").split("|")]
        self.assertEqual(cells[1], "36")
        self.assertLess(abs(float(cells[-1])), 1e-4)


if __name__ == "__main__":
    unittest.main()
