#!/usr/bin/python3
"""Tests of the benchmark scripts ccx_square.py and newton_compare.py: what
they read from the programs' output and, when the programs are there, one
small model end to end (CalculiX's membrane against velora1's, through
ccx_square.py's timed solve). The CalculiX model itself, its runs and the
reading of ccx's output are tools/calculix.py's, tested by
tools/calculix_test.py and tools/calculix_ccx_test.py.

Usage: /usr/bin/python3 bench/scripts_test.py [--build BUILD] [unittest options]
Exit status 77 (skipped) without numpy.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy  # noqa: F401  (compare.py, which the scripts import, needs it)
except ImportError:  # pragma: no cover - environment message
    print("numpy is missing: skipped")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ccx_square  # noqa: E402
import newton_compare  # noqa: E402

# --build BUILD: the build folder of the programs, for the end-to-end tests
# (taken out of the arguments before unittest sees them).
BUILD = None
if "--build" in sys.argv:
    _k = sys.argv.index("--build")
    BUILD = os.path.abspath(sys.argv[_k + 1])
    del sys.argv[_k:_k + 2]


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
