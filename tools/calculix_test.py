#!/usr/bin/python3
"""Tests of tools/calculix.py that need neither ccx nor numpy: the model
file reader, the CalculiX input it writes, the readers of ccx's and
velora's output, the retry of solve() and the command line.

Usage: /usr/bin/python3 tools/calculix_test.py [unittest options]
"""

import io
import os
import subprocess
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import calculix  # noqa: E402

EXAMPLE = os.path.join(HERE, "..", "tests", "testdata", "model_example", "input.txt")


def tiny_model():
    """Two triangles on the unit square, node 4 free, the rest held; node 3
    held at a prescribed lift of 0.25 along Z; pressure 2 on both."""
    constraints = {(k, a): 0.0 for k in (1, 2, 3) for a in (1, 2, 3)}
    constraints[(3, 3)] = 0.25
    return calculix.Model(1000.0, 0.3, 0.0, [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)], [(1, 2, 3), (1, 3, 4)],
                          constraints, {}, [2.0, 2.0])


def block(lines, keyword):
    """The lines after the first line starting with keyword, up to the next keyword."""
    i = next(k for k, line in enumerate(lines) if line.startswith(keyword))
    j = next((k for k in range(i + 1, len(lines)) if lines[k].startswith("*")), len(lines))
    return lines[i + 1:j]


def write(model, **kw):
    return calculix.write_input(model, **kw).splitlines()


class ModelFile(unittest.TestCase):
    def test_the_example_model(self):
        m = calculix.read_model(EXAMPLE)
        self.assertEqual((m.young, m.poisson, m.density), (1000.0, 0.3, 0.0))
        self.assertEqual(m.coord, [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)])
        self.assertEqual(m.elem, [(1, 2, 3), (1, 3, 4)])
        self.assertEqual(sorted(m.constraints), [(1, 1), (1, 2), (1, 3), (2, 2), (2, 3), (4, 3)])
        self.assertEqual(m.loads, {(3, 3): -1.0})
        self.assertEqual(m.pressure, [0.5, 0.5])

    def edited(self, old, new, count=1):
        with open(EXAMPLE) as f:
            text = f.read()
        self.assertIn(old, text)
        d = tempfile.mkdtemp()
        self.addCleanup(lambda: (os.remove(os.path.join(d, "input.txt")), os.rmdir(d)))
        path = os.path.join(d, "input.txt")
        with open(path, "w") as f:
            f.write(text.replace(old, new, count))
        return path

    def test_records_in_any_order_numbers_over_line_ends_later_records_win(self):
        path = self.edited("    1         1         2         3\n    2         1         3         4",
                           "    2         1         3\n 4\n    1         1         2         3")
        self.assertEqual(calculix.read_model(path).elem, [(1, 2, 3), (1, 3, 4)])
        path = self.edited("    2      5.000000E-01", "    1      -3.0")
        self.assertEqual(calculix.read_model(path).pressure, [-3.0, 0.0])

    def test_hostile_files_name_the_line_and_what_was_expected(self):
        cases = [
            (("    2         1         3         4", "    2         1         3         9"), ":26: ",
             "names node 9 (valid 1..4)"),
            (("    3      1.000000E+00      1.000000E+00", "    3      1.0x0E+00      1.000000E+00"), ":17: ",
             "expected a real number (coord x), found \"1.0x0E+00\""),
            (("    2         1         3         4", "    1         1         3         4"), "",
             "element 2 has no record in the elements section"),
            (("    3         3     -1.000000E+00", "    3         4     -1.000000E+00"), ":45: ",
             "names axis 4 (valid 1..3)"),
            ((" elem          pressure\n:", " elem          pressure\n"), "",
             "the file ends before the marker line"),
            (("    2      5.000000E-01", ""), "", "the file ends where element number was expected"),
            ((":\n    2\n\n    1         1", ":\n 2000000000\n\n    1         1"), ":23: ",
             "the elements section counts 2000000000 records, more than the 30 lines that follow"),
        ]
        for (old, new), line, message in cases:
            with self.subTest(message=message):
                path = self.edited(old, new)
                with self.assertRaises(calculix.ModelError) as e:
                    calculix.read_model(path)
                self.assertIn(path + line, str(e.exception))
                self.assertIn(message, str(e.exception))

    def test_a_missing_file(self):
        self.assertRaises(calculix.ModelError, calculix.read_model, "/nonexistent/input.txt")


class CalculixInput(unittest.TestCase):
    def test_elements_keep_the_vertex_order_and_numbers(self):
        # The vertex order carries the pressure's sign: n = (P2 - P1) x (P3 - P1).
        lines = write(tiny_model())
        self.assertIn("*ELEMENT, TYPE=M3D3, ELSET=EALL", lines)
        self.assertEqual(block(lines, "*ELEMENT"), ["1, 1, 2, 3", "2, 1, 3, 4"])
        self.assertEqual(block(lines, "*NODE,"), ["1, 0, 0, 0", "2, 1, 0, 0", "3, 1, 1, 0", "4, 0, 1, 0"])

    def test_pressure_once_for_all_elements_or_per_element_with_its_sign(self):
        self.assertEqual(block(write(tiny_model()), "*DLOAD"), ["EALL, P1, 2"])
        m = tiny_model()
        m.pressure = [2.0, -1.5]
        self.assertEqual(block(write(m), "*DLOAD"), ["1, P1, 2", "2, P1, -1.5"])
        m.pressure = [0.0, -1.5]
        self.assertEqual(block(write(m), "*DLOAD"), ["2, P1, -1.5"])
        m.pressure = [0.0, 0.0]
        self.assertNotIn("*DLOAD", write(m))

    def test_supports_carry_the_prescribed_values_in_every_step(self):
        lines = write(tiny_model())
        first = block(lines, "*BOUNDARY")
        self.assertIn("3, 3, 3, 0.25", first)
        self.assertEqual(len(first), 10)  # nine held components and the flat hold of step 1
        self.assertEqual(first[-1], "FLAT, 3, 3, 0.0")
        self.assertEqual(block(lines, "*NSET, NSET=FLAT"), ["4"])  # the one node free along Z
        self.assertEqual(block(lines, "*BOUNDARY, OP=NEW"), first[:9])

    def test_a_curved_model_is_not_held_across_a_plane(self):
        m = tiny_model()
        m.coord[3] = (0.0, 1.0, 0.1)
        lines = write(m)
        self.assertNotIn("*NSET, NSET=FLAT", lines)
        self.assertEqual(len(block(lines, "*BOUNDARY")), 9)

    def test_modulus_is_young_over_thickness(self):
        lines = write(tiny_model(), thickness=0.01)
        self.assertEqual(float(block(lines, "*ELASTIC")[0].split(",")[0]), 1000.0 / 0.01)
        self.assertEqual(float(block(lines, "*MEMBRANE SECTION")[0]), 0.01)
        self.assertEqual(float(block(write(tiny_model()), "*MEMBRANE SECTION")[0]), 0.001)  # the default

    def test_the_pretension_is_taken_away_in_the_last_step(self):
        lines = write(tiny_model())
        temps = [lines[k + 1] for k, line in enumerate(lines) if line == "*TEMPERATURE"]
        self.assertEqual(temps, ["NALL, -1.0", "NALL, 0.0"])
        self.assertEqual(sum(line.startswith("*STEP") for line in lines), 3)
        self.assertEqual(lines[-3:], ["*NODE PRINT, NSET=NALL", "U", "*END STEP"])

    def test_printed_nodes_and_first_increments(self):
        lines = write(tiny_model(), print_nodes=[4, 2], increments=(0.25, 0.5))
        self.assertEqual(block(lines, "*NSET, NSET=PRINTED"), ["4", "2"])
        self.assertIn("*NODE PRINT, NSET=PRINTED", lines)
        self.assertEqual([line for line in lines if line.endswith(", 1.0, 1e-6, 1.0")],
                         ["0.25, 1.0, 1e-6, 1.0", "0.5, 1.0, 1e-6, 1.0"])

    def test_tight_controls_in_every_step(self):
        self.assertEqual(write(tiny_model(), tight=True).count("*CONTROLS, PARAMETERS=FIELD"), 3)
        self.assertNotIn("*CONTROLS, PARAMETERS=FIELD", write(tiny_model()))

    def test_applied_forces_in_the_loaded_step(self):
        m = tiny_model()
        m.loads = {(4, 3): -1.0, (4, 1): 0.0}
        lines = write(m)
        self.assertEqual(block(lines, "*CLOAD"), ["4, 3, -1"])
        self.assertLess(lines.index("*BOUNDARY, OP=NEW"), lines.index("*CLOAD"))

    def test_self_weight_and_a_bad_thickness_are_refused(self):
        m = tiny_model()
        m.density = 1.0
        self.assertRaises(calculix.ModelError, calculix.write_input, m)
        for t in (0.0, -1.0, float("nan")):
            self.assertRaises(calculix.ModelError, calculix.write_input, tiny_model(), t)


class CalculixOutput(unittest.TestCase):
    DAT = """
 displacements (vx,vy,vz) for set PRINTED and time  0.5000000E+00

        41  1.000000E-20  2.000000E-20  3.000000E-02
        42  1.000000E-20  2.000000E-20  4.000000E-02

 displacements (vx,vy,vz) for set PRINTED and time  0.1000000E+01

        41 -1.000000E-20  2.000000E-20  7.221719E-02

 forces (fx,fy,fz) for set PRINTED and time  0.1000000E+01

        41  9.000000E+00  9.000000E+00  9.000000E+00
"""

    def dat(self, text):
        d = tempfile.mkdtemp()
        path = os.path.join(d, "x.dat")
        with open(path, "w") as f:
            f.write(text)
        self.addCleanup(lambda: (os.remove(path), os.rmdir(d)))
        return path

    def test_the_last_displacement_block(self):
        path = self.dat(self.DAT)
        self.assertEqual(calculix.read_dat(path), {41: (-1e-20, 2e-20, 0.07221719)})
        self.assertEqual(calculix.displacement(path, 41), (-1e-20, 2e-20, 0.07221719))
        self.assertRaises(calculix.CalculixError, calculix.displacement, path, 42)  # only in an earlier block

    def test_no_displacements_is_a_failure(self):
        self.assertRaises(calculix.CalculixError, calculix.read_dat, self.dat("\n forces (fx,fy,fz)\n 1 2 3 4\n"))
        self.assertRaises(calculix.CalculixError, calculix.read_dat, "/nonexistent/x.dat")

    REPORT = ("| Major Iterations |  2 |\n Node    Displ X    Displ Y    Displ Z\n-----\n\n"
              "    1  0.0  0.0  0.0\n    2  3.0E-03  0.0  4.0E-03\n\n Node    Coord X    Coord Y    Coord Z\n"
              "    1  9.0  9.0  9.0\n")

    def test_velora_report_and_the_comparison(self):
        velora = calculix.read_report(self.dat(self.REPORT))
        self.assertEqual(velora, {1: (0.0, 0.0, 0.0), 2: (0.003, 0.0, 0.004)})
        umax, worst, node = calculix.compare(velora, {1: (0.0, 0.0, 1e-4), 2: (0.0, 0.0, 0.01)})
        self.assertAlmostEqual(umax, 0.01, places=15)
        self.assertAlmostEqual(worst, (0.003**2 + 0.006**2) ** 0.5, places=15)
        self.assertEqual(node, 2)
        self.assertRaises(calculix.CalculixError, calculix.compare, velora, {1: (0, 0, 0)})

    def test_increments_and_iterations_from_the_log(self):
        log = (" increment 1 attempt 1 \n iteration 1\n iteration 2\n increment 2 attempt 1 \n"
               " iteration 1\n no convergence\n")
        self.assertEqual(calculix.ccx_counts(log), (2, 3))


class Retry(unittest.TestCase):
    """solve starts from whole steps and falls back to smaller first
    increments only when ccx gives up with too many cutbacks."""

    def run_with(self, outcomes):
        calls = []

        def fake_run(directory, job, threads, prefix):
            with open(os.path.join(directory, job + ".inp")) as f:
                calls.append([line for line in f.read().splitlines() if line.endswith(", 1.0, 1e-6, 1.0")])
            outcome = outcomes[len(calls) - 1]
            if isinstance(outcome, Exception):
                raise outcome
            with open(os.path.join(directory, job + ".dat"), "w") as f:
                f.write(" displacements (vx,vy,vz) for set PRINTED\n         4  0.0  0.0  0.125\n")
            return subprocess.CompletedProcess([], 0, " increment 1 attempt 1\n iteration 1\n", ""), 1.0

        with tempfile.TemporaryDirectory() as d, mock.patch.object(calculix, "run", fake_run):
            return calculix.solve(tiny_model(), d, print_nodes=[4]), calls

    def test_whole_steps_first(self):
        r, calls = self.run_with([None])
        self.assertEqual(r["start"], (1.0, 1.0))
        self.assertEqual(r["displacements"], {4: (0.0, 0.0, 0.125)})
        self.assertEqual((r["increments"], r["iterations"]), (1, 1))
        self.assertEqual(calls, [["1, 1.0, 1e-6, 1.0", "1, 1.0, 1e-6, 1.0"]])

    def test_smaller_increments_after_too_many_cutbacks(self):
        r, calls = self.run_with([calculix.CalculixError("ccx failed: *ERROR: too many cutbacks"), None])
        self.assertEqual(r["start"], (0.25, 0.5))
        self.assertEqual(calls[1], ["0.25, 1.0, 1e-6, 1.0", "0.5, 1.0, 1e-6, 1.0"])

    def test_other_failures_are_not_retried(self):
        with self.assertRaises(calculix.CalculixError):
            self.run_with([calculix.CalculixError("ccx failed: *ERROR in readinput"), None])

    def test_the_last_attempt_failing_raises(self):
        cutbacks = calculix.CalculixError("*ERROR: too many cutbacks")
        with self.assertRaises(calculix.CalculixError):
            self.run_with([cutbacks] * len(calculix.INCREMENTS))


class CommandLine(unittest.TestCase):
    def main(self, *argv):
        out, err = io.StringIO(), io.StringIO()
        with redirect_stdout(out), redirect_stderr(err):
            try:
                status = calculix.main(list(argv))
            except SystemExit as e:  # argparse's usage errors
                status = e.code
        return status, out.getvalue(), err.getvalue()

    def test_write_then_a_bad_model_leaves_the_input_untouched(self):
        with tempfile.TemporaryDirectory() as d:
            inp = os.path.join(d, "m.inp")
            self.assertEqual(self.main("write", EXAMPLE, inp, "--thickness", "0.01", "--print", "3")[0], 0)
            with open(inp) as f:
                text = f.read()
            self.assertIn("*CLOAD\n3, 3, -1\n", text)
            bad = os.path.join(d, "input.txt")
            with open(bad, "w") as f:
                f.write("nothing here\n")
            status, _, err = self.main("write", bad, inp)
            self.assertEqual(status, 1)
            self.assertIn(bad + ":1: the file ends before the marker line", err)
            status, _, err = self.main("write", EXAMPLE, inp, "--print", "5")
            self.assertEqual((status, "--print 5: no such node (valid 1..4)" in err), (1, True))
            with open(inp) as f:
                self.assertEqual(f.read(), text)

    def test_compare_and_its_tolerance(self):
        with tempfile.TemporaryDirectory() as d:
            report, dat = os.path.join(d, "output.txt"), os.path.join(d, "m.dat")
            with open(report, "w") as f:
                f.write(CalculixOutput.REPORT)
            with open(dat, "w") as f:
                f.write(" displacements (vx,vy,vz)\n 1 0 0 0\n 2 3.0E-03 0 4.01E-03\n")
            status, out, _ = self.main("compare", report, dat, "--tolerance", "0.5")
            self.assertEqual(status, 0)
            self.assertIn("largest difference 1.000e-05 (0.200%) at node 2", out)
            self.assertEqual(self.main("compare", report, dat, "--tolerance", "0.1")[0], 1)
            status, out, _ = self.main("displacement", dat, "2")
            self.assertEqual((status, out), (0, "3.000000000e-03 0.000000000e+00 4.010000000e-03\n"))

    def test_usage_errors(self):
        self.assertEqual(self.main()[0], 2)
        self.assertEqual(self.main("write", EXAMPLE)[0], 2)
        self.assertEqual(self.main("displacement", "x.dat", "node")[0], 2)


if __name__ == "__main__":
    unittest.main()
