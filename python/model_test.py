# Models from arrays, files and meshio meshes: the arrays come back, the
# files are the programs' bytes, bad input is an exception naming it.
import os
import warnings

import numpy as np
import pytest
import velora
from conftest import EXAMPLES, TESTDATA, program, run

# The illustrative model of docs/model-file.md, tests/testdata/model_example.
NODES = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
TRIANGLES = [(0, 1, 2), (0, 2, 3)]


def example(**changes):
    given = dict(young=1000.0, poisson=0.3, fix={0: "xyz", 1: "yz", 3: "z"}, load={2: (0, 0, -1.0)}, pressure=0.5)
    given.update(changes)
    return velora.Model(NODES, TRIANGLES, **given)


def test_arrays_in_are_the_model_file_and_come_back_out():
    m = example()
    with open(os.path.join(TESTDATA, "model_example", "input.txt")) as f:
        assert m.text() == f.read()
    np.testing.assert_array_equal(m.nodes, NODES)
    np.testing.assert_array_equal(m.triangles, TRIANGLES)
    assert m.triangles.dtype == np.int64 and m.nodes.dtype == np.float64
    np.testing.assert_array_equal(m.fixed[1], [False, True, True])
    np.testing.assert_array_equal(m.load[2], [0, 0, -1.0])
    np.testing.assert_array_equal(m.pressure, [0.5, 0.5])
    assert m.parameters["maxminor"] == 120 and m.parameters["maxmajor"] == 20
    # The array forms give the same model.
    same = velora.Model(np.array(NODES, float), np.array(TRIANGLES, np.int32), fix=m.fixed, load=m.load,
                        pressure=np.array([0.5, 0.5]))
    assert same.text() == m.text()


def test_read_and_write_are_the_programs_files(tmp_path):
    for name in ("model_example", "square_n3_p0.01"):
        m = velora.Model.read(os.path.join(TESTDATA, name, "input.txt"))
        m.write(tmp_path / "input.txt")
        again = velora.Model.read(tmp_path / "input.txt")
        assert again.text() == m.text() == (tmp_path / "input.txt").read_text()
        np.testing.assert_array_equal(again.nodes, m.nodes)
    # Full precision survives the solve's in-memory file: the model is the
    # numbers given, not their seven printed digits.
    third = example(load={2: (0, 0, -1.0 / 3.0)})
    assert third.load[2, 2] == -1.0 / 3.0


@pytest.mark.parametrize("changes, error, message", [
    (dict(triangles=[(0, 1, 4)]), velora.RangeError, "triangles[0] names node 4, outside 0..3"),
    (dict(triangles=[(0.0, 1.0, 2.0)]), TypeError, "triangles must hold integers"),
    (dict(nodes=[(0, 0), (1, 0), (1, 1), (0, 1)]), ValueError, "nodes must have shape (N, 3), not (4, 2)"),
    (dict(nodes=[(0, 0, 0), (1, np.nan, 0), (1, 1, 0), (0, 1, 0)]), velora.DataError, "nodes[1, y] is not a finite"),
    (dict(fix={0: "xq"}), velora.DataError, "fix[0]: axis 'q' is not x, y or z"),
    (dict(fix={7: "z"}), velora.RangeError, "fix names node 7, outside 0..3"),
    (dict(load={0: (0, 0, 1.0)}), velora.DataError, "load[0, z] = 1.0 is on a component that fix holds"),
    (dict(displacement={2: (0, 0, 0.1)}), velora.DataError, "displacement[2, z] = 0.1 is on a component that"),
    (dict(pressure=[1.0]), ValueError, "pressure must have shape (M,), not (1,)"),
    (dict(poisson=0.7), velora.DataError, "poisson=0.7: Poisson's ratio must lie in (-1, 0.5]"),
    (dict(maxmajor=2.5), TypeError, "maxmajor must be an integer"),
    (dict(maxmajr=3), TypeError, 'unknown parameter "maxmajr"'),
])
def test_bad_arrays_are_exceptions_naming_them(changes, error, message):
    nodes = changes.pop("nodes", NODES)
    triangles = changes.pop("triangles", TRIANGLES)
    given = dict(fix={0: "xyz", 1: "yz", 3: "z"}, load={2: (0, 0, -1.0)})
    given.update(changes)
    with pytest.raises(error) as raised:
        velora.Model(nodes, triangles, **given)
    assert message in str(raised.value)


def test_a_bad_file_fails_with_the_programs_message(tmp_path, monkeypatch):
    text = (tmp_path / "input.txt")
    good = open(os.path.join(TESTDATA, "model_example", "input.txt")).read()
    text.write_text(good.replace(" 1.000000E+03", " 1.0x0E+03", 1))
    status, message = run("velora1", tmp_path)
    assert status == 1
    monkeypatch.chdir(tmp_path)
    with pytest.raises(velora.DataError) as raised:
        velora.Model.read("input.txt")
    assert str(raised.value) == message
    with pytest.raises(velora.FileError):
        velora.Model.read(tmp_path / "none.txt")


def meshio_read(path):
    meshio = pytest.importorskip("meshio")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # meshio's note on the binary files' endianness
        return meshio.read(path)


# Every shipped Gmsh file, both versions, ASCII and binary: the model is
# veloramesh's byte for byte.
@pytest.mark.parametrize("name, fix, pressure", [
    ("circle", "rim", "membrane"), ("lshape", "edge", "sheet"), ("saddle", "edge", "roof")])
@pytest.mark.parametrize("form", ["22", "22_bin", "41", "41_bin"])
def test_from_meshio_is_veloramesh(tmp_path, name, fix, pressure, form):
    path = os.path.join(EXAMPLES, "gmsh", f"{name}_{form}.msh")
    m = velora.Model.from_meshio(meshio_read(path), fix={fix: "xyz"}, pressure={pressure: 0.5}, orient="+z")
    status, message = run("veloramesh", tmp_path, path, "--fix", f"{fix}=xyz", "--pressure", f"{pressure}=0.5",
                          "--orient", "+z")
    assert status == 0, message
    assert m.text() == (tmp_path / "input.txt").read_text()


def test_from_meshio_fails_as_veloramesh():
    mesh = meshio_read(os.path.join(EXAMPLES, "gmsh", "circle_41.msh"))
    with pytest.raises(velora.DataError) as raised:
        velora.Model.from_meshio(mesh, fix={"edge": "xyz"})
    assert str(raised.value) == ("fix={'edge': 'xyz'}: the mesh has no physical group \"edge\"; its groups: "
                                 "\"centre\" (points) \"rim\" (curves) \"membrane\" (surfaces)")
    with pytest.raises(velora.DataError, match="group \"rim\" of the mesh holds curves; it must hold surfaces"):
        velora.Model.from_meshio(mesh, pressure={"rim": 1.0})
    with pytest.raises(velora.DataError, match="a load on a held component would only go into its reaction"):
        velora.Model.from_meshio(mesh, fix={"rim": "z"}, load={"rim": ("z", 1.0)})


def test_prestress_is_veloramesh_s_and_the_model_file_s(tmp_path):
    path = os.path.join(EXAMPLES, "gmsh", "saddle_41.msh")
    m = velora.Model.from_meshio(meshio_read(path), fix={"edge": "xyz"}, prestress={"roof": (2.0, 1.0, (1, 0, 0))})
    status, message = run("veloramesh", tmp_path, path, "--fix", "edge=xyz", "--prestress", "roof=2,1:1,0,0")
    assert status == 0, message
    assert m.text() == (tmp_path / "input.txt").read_text()
    every = example(prestress=0.5).text()
    assert every.endswith(":prestress\n    1\n\n    1         2      5.000000E-01      5.000000E-01"
                          "      0.000000E+00      0.000000E+00      0.000000E+00\n")
    with pytest.raises(velora.DataError, match="the direction of N1 may not be"):
        example(prestress=(1.0, 2.0, (0, 0, 0)))


def test_chambers_are_veloramesh_s(tmp_path):
    path = os.path.join(EXAMPLES, "gmsh", "saddle_41.msh")
    m = velora.Model.from_meshio(meshio_read(path), fix={"edge": "xyz"}, chamber={"roof": (500.0, 1.4)}, ambient=1e5)
    status, message = run("veloramesh", tmp_path, path, "--fix", "edge=xyz", "--chamber", "roof=500:1.4",
                          "--ambient", "1e5")
    assert status == 0, message
    assert m.text() == (tmp_path / "input.txt").read_text()
    with pytest.raises(velora.DataError, match="kappa must be at least 1"):
        velora.Model.from_meshio(meshio_read(path), chamber={"roof": (500.0, 0.5)})
