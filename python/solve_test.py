# The solve: the programs' files byte for byte, the arrays against the
# report, the programs' failures as exceptions, the callback, Ctrl-C and the
# interpreter left free meanwhile.
import os
import signal
import threading
import time

import numpy as np
import pytest
import velora
from conftest import TESTDATA, run, square

GOLDEN = ["model_example", "square_n2_p0.01", "square_n3_p0.01"]
LAWS = [("green", "1"), ("engineering", "2")]


@pytest.mark.parametrize("name", GOLDEN)
@pytest.mark.parametrize("law, program", LAWS)
def test_written_results_are_the_programs_bytes(tmp_path, name, law, program):
    result = velora.solve(velora.Model.read(os.path.join(TESTDATA, name, "input.txt")), law=law, threads=2)
    result.write(tmp_path / "out")
    for written, golden in (("output.txt", f"output{program}.txt"), ("autocad.scr", f"autocad{program}.scr")):
        with open(os.path.join(TESTDATA, name, golden), "rb") as f:
            assert (tmp_path / "out" / written).read_bytes() == f.read(), written


def test_the_second_order_method_writes_what_the_program_writes(tmp_path):
    model = velora.Model.read(os.path.join(TESTDATA, "square_n3_p0.01", "input.txt"))
    model.write(tmp_path / "input.txt")
    status, message = run("velora2", tmp_path, "--method", "newton")
    assert status == 0, message
    velora.solve(model, law="engineering", method="newton").write(tmp_path / "python")
    for f in ("output.txt", "autocad.scr"):
        assert (tmp_path / "python" / f).read_bytes() == (tmp_path / f).read_bytes(), f


def report_table(text, caption, columns):
    """The rows of one table of output.txt, by node or element number."""
    lines = text.splitlines()
    at = next(i for i, line in enumerate(lines) if line.startswith(caption)) + 3
    rows = {}
    while at < len(lines) and lines[at].strip():
        fields = lines[at].split()
        rows[int(fields[0])] = [float(v) for v in fields[1:columns + 1]]
        at += 1
    return rows


def test_arrays_are_the_report_at_full_precision(tmp_path):
    model = velora.Model.read(os.path.join(TESTDATA, "model_example", "input.txt"))
    r = velora.solve(model)
    r.write(tmp_path)
    text = (tmp_path / "output.txt").read_text()
    close = dict(rtol=1e-8, atol=1e-20)  # the report's nine digits
    for k, row in report_table(text, " Node             Displ X", 3).items():
        np.testing.assert_allclose(r.displacement[k - 1], row, **close)
    for k, row in report_table(text, " Node             Coord X", 3).items():
        np.testing.assert_allclose(r.position[k - 1], row, **close)
    np.testing.assert_array_equal(r.position, model.nodes + r.displacement)
    for e, row in report_table(text, "Element            Stress-1", 2).items():
        np.testing.assert_allclose(r.principal_stress[e - 1], row, **close)
    reactions = report_table(text, " Node             Force X", 3)
    assert sorted(reactions) == [k + 1 for k in np.flatnonzero(np.abs(r.reaction).max(axis=1))]
    # The reactions balance the load: -1 along z on node 3, the pressure.
    assert r.displacement.shape == r.reaction.shape == (4, 3) and r.principal_stress.shape == (2, 2)
    np.testing.assert_allclose(np.linalg.norm(r.direction, axis=1), 1.0, rtol=1e-12)
    assert r.history[-1] == r.residual <= r.residue and r.converged and len(r.history) == r.major + 1
    assert r.major == 3 and r.law == "green" and r.method == "lbfgs"
    with pytest.raises(ValueError):
        r.displacement[0, 0] = 1.0  # results are read-only


def test_to_meshio_holds_what_veloraview_writes():
    r = velora.solve(velora.Model.read(os.path.join(TESTDATA, "square_n2_p0.01", "input.txt")))
    mesh = r.to_meshio()
    np.testing.assert_array_equal(mesh.points, r.model.nodes)
    np.testing.assert_array_equal(mesh.cells_dict["triangle"], r.model.triangles)
    np.testing.assert_array_equal(mesh.point_data["displacement"], r.displacement)
    np.testing.assert_array_equal(mesh.point_data["reaction"], r.reaction)
    np.testing.assert_array_equal(mesh.cell_data["stress_2"][0], r.principal_stress[:, 1])
    np.testing.assert_array_equal(mesh.cell_data["pressure"][0], r.model.pressure)


def unsupported():
    """A membrane under pressure and nothing to hold it."""
    return velora.Model([(0, 0, 0), (1, 0, 0), (0, 1, 0)], [(0, 1, 2)], pressure=1.0)


def degenerate():
    """Three nodes on one line."""
    return velora.Model([(0, 0, 0), (1, 0, 0), (2, 0, 0)], [(0, 1, 2)], fix={0: "xyz", 1: "xyz"}, pressure=1.0)


def overloaded():
    """A load beyond what double precision resolves: the solution diverges."""
    return velora.Model([(0, 0, 0), (1, 0, 0), (0, 1, 0), (1, 1, 0)], [(0, 1, 2), (1, 3, 2)],
                        fix={0: "xyz", 1: "xyz", 2: "xyz"}, load={3: (0, 0, -1e300)})


@pytest.mark.parametrize("make, error", [
    (unsupported, velora.DataError), (degenerate, velora.DataError), (overloaded, velora.Diverged)])
def test_the_programs_failures_are_exceptions_with_their_message(tmp_path, make, error):
    model = make()
    model.write(tmp_path / "input.txt")
    status, message = run("velora1", tmp_path)
    assert status == 1
    with pytest.raises(error) as raised:
        velora.solve(model)
    assert str(raised.value) == message
    assert isinstance(raised.value, velora.Error) and not (tmp_path / "output.txt").exists()
    with pytest.raises(ValueError, match='law must be "green" or "engineering", not "hooke"'):
        velora.solve(model, law="hooke")


def test_the_callback_sees_every_major_iteration_and_can_stop_the_solve(tmp_path):
    model = velora.Model.read(os.path.join(TESTDATA, "square_n3_p0.01", "input.txt"))
    seen = []
    r = velora.solve(model, callback=seen.append)
    ends = [p for p in seen if p.end_of_major]
    assert [p.major for p in ends] == list(range(r.major + 1))
    assert [p.residual for p in ends] == list(r.history)
    assert ends[-1].energy == r.energy and ends[-1].residue == r.residue
    with pytest.raises(velora.Interrupted, match="the callback returned False in major iteration 1"):
        velora.solve(model, callback=lambda p: not (p.end_of_major and p.major == 1))
    with pytest.raises(ZeroDivisionError):
        velora.solve(model, callback=lambda p: 1 / 0)


def test_ctrl_c_stops_a_long_solve_quickly_and_the_interpreter_runs_meanwhile():
    model = square(120, pressure=0.05)
    ticks = []
    stop = threading.Event()

    def count():  # runs only while the solve has let go of the interpreter
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.005)

    sent = []
    samples = []  # (time, evaluations so far), at the start and twice a second

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.8, interrupt)

    def watch(p):  # the interrupt comes 0.8 s after the first evaluation
        samples.append((time.monotonic(), p.evaluations))
        if len(samples) == 1:
            timer.start()

    counter = threading.Thread(target=count)
    counter.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            velora.solve(model, threads=1, callback=watch)
        raised = time.monotonic()
    finally:
        stop.set()
        counter.join()
        timer.cancel()
    assert sent, "the solve ended before the interrupt"
    # The solve looks for the signal every 50 ms between evaluations, so it
    # stops at most one evaluation and 50 ms after it (an evaluation takes
    # milliseconds here, a tenth of a second and more under the sanitizers).
    (t0, e0), (t1, e1) = samples[0], samples[-1]
    evaluation = (t1 - t0) / max(e1 - e0, 1)
    assert raised - sent[0] < 0.1 + 2 * evaluation
    assert sum(1 for t in ticks if samples[0][0] < t < sent[0]) > 50


def octant(n=4):
    """One octant of the unit sphere, its normals outward, held across its
    three symmetry planes: the nodes and triangles of a closed gas chamber."""
    nodes, index, fixed = [], {}, []
    for i in range(n + 1):
        for j in range(n + 1 - i):
            p = np.array([i, j, n - i - j], float)
            index[i, j] = len(nodes)
            nodes.append(p / np.linalg.norm(p))
            fixed.append((i == 0, j == 0, i + j == n))
    triangles = []
    for i in range(n):
        for j in range(n - i):
            triangles.append((index[i, j], index[i + 1, j], index[i, j + 1]))
            if i + j + 1 < n:
                triangles.append((index[i + 1, j], index[i + 1, j + 1], index[i, j + 1]))
    return np.array(nodes), np.array(triangles), np.array(fixed)


def test_a_chamber_solved_is_what_the_program_writes(tmp_path):
    nodes, triangles, fixed = octant()
    model = velora.Model(nodes, triangles, fix=fixed, chamber={"gauge": 1000.0, "kappa": 1.4, "ambient": 100.0})
    assert ":chambers" in model.text() and ":enclosures" in model.text()
    model.write(tmp_path / "input.txt")
    status, message = run("velora1", tmp_path)
    assert status == 0, message
    result = velora.solve(velora.Model.read(tmp_path / "input.txt"))  # the file's rounded coordinates
    result.write(tmp_path / "python")
    for f in ("output.txt", "autocad.scr", "chambers.txt"):
        assert (tmp_path / "python" / f).read_bytes() == (tmp_path / f).read_bytes(), f
    volume, pressure = result.chamber[0]
    row = (tmp_path / "chambers.txt").read_text().splitlines()[4].split()
    assert (float(row[1]), float(row[2])) == pytest.approx((volume, pressure), rel=1e-8)
    assert pressure == pytest.approx(1100.0 * (float(row[4]) / volume) ** 1.4)
    with pytest.raises(velora.DataError, match="unknown key 'gas'"):
        velora.Model(nodes, triangles, fix=fixed, chamber={"gauge": 1.0, "gas": "air"})
