#!/usr/bin/python3
"""Tests of the benchmark scripts ccx_square.py and newton_compare.py: what
they read from the programs' output, what they write for CalculiX, and, when
the programs are there, one small model end to end (CalculiX's membrane
against velora1's).

Usage: /usr/bin/python3 bench/scripts_test.py [--build BUILD] [unittest options]
Exit status 77 (skipped) without numpy.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

try:
    import numpy as np
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


def tiny_model():
    """Two triangles on the unit square, node 4 free, the rest held; node 3
    held at a prescribed lift of 0.25 along Z."""
    fixed = np.zeros((4, 3), dtype=bool)
    fixed[:3] = True
    displ = np.zeros((4, 3))
    displ[2, 2] = 0.25
    return {
        "coord": np.array([[0.0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]),
        "elem": np.array([[0, 1, 2], [0, 2, 3]]),
        "fixed": fixed,
        "displ": displ,
        "young": 1000.0,
        "poisson": 0.3,
        "density": 0.0,
        "action": np.zeros((4, 3)),
        "pressure": np.array([2.0, 2.0]),
    }


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


class CalculixInput(unittest.TestCase):
    def write(self, model, **kw):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "m.inp")
            ccx_square.write_ccx_input(model, path, 4, **kw)
            with open(path) as f:
                return f.read().splitlines()

    def block(self, lines, keyword):
        i = next(k for k, line in enumerate(lines) if line.startswith(keyword))
        j = next((k for k in range(i + 1, len(lines)) if lines[k].startswith("*")), len(lines))
        return lines[i + 1:j]

    def test_elements_keep_the_node_order_one_based(self):
        lines = self.write(tiny_model())
        self.assertIn("*ELEMENT, TYPE=M3D3, ELSET=EALL", lines)
        self.assertEqual(self.block(lines, "*ELEMENT"), ["1, 1, 2, 3", "2, 1, 3, 4"])

    def test_supports_carry_the_prescribed_values_in_every_step(self):
        lines = self.write(tiny_model())
        first = self.block(lines, "*BOUNDARY")
        self.assertIn("3, 3, 3, 0.25", first)
        self.assertEqual(len(first), 10)  # nine held components and the flat hold of step 1
        self.assertEqual(first[-1], "FLAT, 3, 3, 0.0")
        self.assertEqual(self.block(lines, "*NSET, NSET=FLAT"), ["4"])  # the one node free along Z
        i = lines.index("*BOUNDARY, OP=NEW")
        self.assertEqual(lines[i + 1:i + 10], first[:9])

    def test_modulus_is_young_over_thickness(self):
        lines = self.write(tiny_model(), thickness=0.01)
        self.assertEqual(float(self.block(lines, "*ELASTIC")[0].split(",")[0]), 1000.0 / 0.01)
        self.assertEqual(float(self.block(lines, "*MEMBRANE SECTION")[0]), 0.01)

    def test_pressure_once_for_all_elements_or_per_element(self):
        lines = self.write(tiny_model())
        self.assertEqual(self.block(lines, "*DLOAD"), ["EALL, P2, 2"])
        m = tiny_model()
        m["pressure"] = np.array([2.0, -1.5])
        self.assertEqual(self.block(self.write(m), "*DLOAD"), ["1, P2, 2", "2, P2, -1.5"])

    def test_the_pretension_is_taken_away_in_the_last_step(self):
        lines = self.write(tiny_model())
        temps = [lines[k + 1] for k, line in enumerate(lines) if line == "*TEMPERATURE"]
        self.assertEqual(temps, ["NALL, -1.0", "NALL, 0.0"])
        self.assertEqual(sum(line.startswith("*STEP") for line in lines), 3)

    def test_tight_controls_in_every_step(self):
        lines = self.write(tiny_model(), tight=True)
        self.assertEqual(lines.count("*CONTROLS, PARAMETERS=FIELD"), 3)
        self.assertNotIn("*CONTROLS, PARAMETERS=FIELD", self.write(tiny_model()))

    def test_a_model_out_of_its_plane_is_refused(self):
        m = tiny_model()
        m["coord"][3, 2] = 0.1
        self.assertRaises(ValueError, self.write, m)

    def test_other_loads_are_refused(self):
        m = tiny_model()
        m["density"] = 1.0
        self.assertRaises(ValueError, self.write, m)
        m = tiny_model()
        m["action"][3, 2] = 1.0
        self.assertRaises(ValueError, self.write, m)


class CalculixRetry(unittest.TestCase):
    """solve_with_ccx starts from whole steps and falls back to smaller first
    increments only when ccx gives up with too many cutbacks."""

    def run_with(self, outcomes):
        calls = []

        def fake_run(directory, job, threads):
            with open(os.path.join(directory, job + ".inp")) as f:
                calls.append([line for line in f.read().splitlines() if line.endswith(", 1.0, 1e-6, 1.0")])
            outcome = outcomes[len(calls) - 1]
            if isinstance(outcome, Exception):
                raise outcome
            with open(os.path.join(directory, job + ".dat"), "w") as f:
                f.write("         4  0.0  0.0  0.125\n")
            return {"seconds": 1.0, "cpu": 1.0, "peak": 1, "increments": 3, "iterations": 9}

        with tempfile.TemporaryDirectory() as d, mock.patch.object(ccx_square, "run_ccx", fake_run), \
                mock.patch.object(ccx_square.compare, "read_model", lambda path: tiny_model()):
            return ccx_square.solve_with_ccx("input.txt", d, 4, 1.0), calls

    def test_whole_steps_first(self):
        r, calls = self.run_with([None])
        self.assertEqual(r["start"], (1.0, 1.0))
        self.assertEqual(r["w"], 0.125)
        self.assertEqual(calls, [["1, 1.0, 1e-6, 1.0", "1, 1.0, 1e-6, 1.0"]])

    def test_smaller_increments_after_too_many_cutbacks(self):
        r, calls = self.run_with([RuntimeError("ccx failed: *ERROR: too many cutbacks"), None])
        self.assertEqual(r["start"], (0.25, 0.5))
        self.assertEqual(calls[1], ["0.25, 1.0, 1e-6, 1.0", "0.5, 1.0, 1e-6, 1.0"])

    def test_other_failures_are_not_retried(self):
        with self.assertRaises(RuntimeError):
            self.run_with([RuntimeError("ccx failed: *ERROR in readinput"), None])

    def test_the_last_attempt_failing_raises(self):
        cutbacks = RuntimeError("*ERROR: too many cutbacks")
        with self.assertRaises(RuntimeError):
            self.run_with([cutbacks] * len(ccx_square.INCREMENTS))


class GnuTime(unittest.TestCase):
    def test_peak_and_cpu_seconds(self):
        text = ("\tCommand being timed: \"ccx square\"\n\tUser time (seconds): 12.50\n"
                "\tSystem time (seconds): 0.75\n\tMaximum resident set size (kbytes): 220596\n")
        self.assertEqual(ccx_square.gnu_time_figures(text), (220596, 13.25))

    def test_absent_figures_are_none(self):
        self.assertEqual(ccx_square.gnu_time_figures("raised X\n"), (None, None))


class CalculixOutput(unittest.TestCase):
    DAT = """
 displacements (vx,vy,vz) for set CENTRE and time  0.5000000E+00

        41  1.000000E-20  2.000000E-20  3.000000E-02

 displacements (vx,vy,vz) for set CENTRE and time  0.1000000E+01

        41 -1.000000E-20  2.000000E-20  7.221719E-02
"""

    def test_last_block_of_the_node(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "x.dat")
            with open(path, "w") as f:
                f.write(self.DAT)
            self.assertEqual(ccx_square.read_last_displacement(path, 41), (-1e-20, 2e-20, 0.07221719))
            self.assertRaises(RuntimeError, ccx_square.read_last_displacement, path, 4)

    def test_increments_and_iterations_from_the_log(self):
        log = (" increment 1 attempt 1 \n iteration 1\n iteration 2\n increment 2 attempt 1 \n"
               " iteration 1\n no convergence\n")
        self.assertEqual(ccx_square.ccx_counts(log), (2, 3))


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
