"""velora: the large-deflection equilibrium of thin membranes, from Python.

A model is built from numpy arrays (``Model(nodes, triangles, ...)``), from a
meshio mesh with Gmsh's physical groups (``Model.from_meshio``) or from a
model file (``Model.read``); ``solve(model)`` finds its equilibrium as the
programs velora1 (law "green") and velora2 (law "engineering") do, and gives
the results as numpy arrays. Node and triangle indices are 0-based. The
documentation is docs/python.md.
"""

import os
from collections.abc import Mapping
from numbers import Real

from . import _velora
from ._velora import (ArgumentError, DataError, Diverged, EndError, Error, FileError, Interrupted, LibraryError,
                      Progress, RangeError)

__all__ = ["Model", "Result", "Progress", "solve", "Error", "DataError", "Diverged", "FileError", "EndError",
           "RangeError", "ArgumentError", "LibraryError", "Interrupted"]

_AXES = "xyz"


def _axes(text, where):
    """(x, y, z) held for an axes string such as "xz"."""
    if not isinstance(text, str) or not text:
        raise DataError(f"{where}: expected a non-empty string of the axes x, y, z, not {text!r}")
    held = [False, False, False]
    for c in text.lower():
        if c not in _AXES:
            raise DataError(f"{where}: axis {c!r} is not x, y or z")
        if held[_AXES.index(c)]:
            raise DataError(f"{where}: axis {c!r} is named twice")
        held[_AXES.index(c)] = True
    return tuple(held)


def _prestress(value, where):
    """(n1, n2, direction): a number N (isotropic) or (N1, N2, (x, y, z))."""
    if isinstance(value, Real) and not isinstance(value, bool):
        n = float(value)
        return (n, n, (0.0, 0.0, 0.0))
    if isinstance(value, (tuple, list)) and len(value) == 3 and hasattr(value[2], "__len__") and len(value[2]) == 3:
        direction = tuple(float(c) for c in value[2])
        if direction == (0.0, 0.0, 0.0):
            raise DataError(f"{where}: the direction of N1 may not be (0, 0, 0)")
        return (float(value[0]), float(value[1]), direction)
    raise DataError(f"{where}: expected N or (N1, N2, (x, y, z)), for example (2.0, 1.0, (1, 0, 0))")


def _chamber(value, where):
    """(kappa, ambient, gauge, volume, origin) of a chamber given as a mapping."""
    if not isinstance(value, Mapping) or "gauge" not in value:
        raise DataError(f"{where}: expected a mapping with gauge and optionally kappa, ambient, volume, origin, "
                        "for example {'gauge': 5000.0, 'kappa': 1.4}")
    unknown = set(value) - {"gauge", "kappa", "ambient", "volume", "origin"}
    if unknown:
        raise DataError(f"{where}: unknown key {sorted(unknown)[0]!r}")
    origin = tuple(float(c) for c in value.get("origin", (0.0, 0.0, 0.0)))
    if len(origin) != 3:
        raise DataError(f"{where}: origin must be three numbers (x, y, z)")
    return (float(value.get("kappa", 1.0)), float(value.get("ambient", 101325.0)), float(value["gauge"]),
            float(value.get("volume", 0.0)), origin)


def _node(key, count, name):
    import numpy as np
    if isinstance(key, bool) or not isinstance(key, (int, np.integer)):
        raise TypeError(f"{name}: node keys are 0-based integer indices, not {key!r}")
    if not 0 <= key < count:
        raise RangeError(f"{name} names node {key}, outside 0..{count - 1}")
    return int(key)


def _node_table(value, count, name, dtype, row):
    """An (N, 3) table from None, a mapping {node: entry} or an array."""
    import numpy as np
    table = np.zeros((count, 3), dtype=dtype)
    if value is None:
        return table
    if isinstance(value, Mapping):
        for key, entry in value.items():
            table[_node(key, count, name)] = row(entry, f"{name}[{key}]")
        return table
    return value


def _vector(entry, where):
    import numpy as np
    v = np.asarray(entry, dtype=float)
    if v.shape != (3,):
        raise ValueError(f"{where} must be three numbers (x, y, z), not {entry!r}")
    return v


class Model:
    """A membrane model: nodes, triangles, material, supports and loads.

    Model(nodes, triangles, young=1000.0, poisson=0.3, density=0.0, fix=None,
          displacement=None, load=None, pressure=None, wrinkling=None,
          **parameters)

    nodes: (N, 3) coordinates; triangles: (M, 3) 0-based node indices, whose
    order turns the pressure's normal (P2 - P1) x (P3 - P1).
    fix: {node: "xyz"} or an (N, 3) array of booleans, the held components.
    displacement: {node: (dx, dy, dz)} or (N, 3), prescribed at held
    components (0 elsewhere). load: {node: (fx, fy, fz)} or (N, 3), on free
    components. pressure: one number for every triangle or an (M,) array.
    wrinkling: the model file's :wrinkling section (None: no section).
    prestress: every triangle's, N (isotropic) or (N1, N2, (x, y, z)), N1
    along the projection of the direction (the :prestress section).
    chamber: a gas chamber that every triangle bounds (normals out of the
    gas), {"gauge": p, "kappa": 1.0, "ambient": 101325.0, "volume": 0.0,
    "origin": (0, 0, 0)}: gauge pressure p at the reference volume (0: the
    volume at the reference shape), measured from the origin, which every
    closing symmetry plane holds (the :chambers section).
    parameters: lstol, maxls, mntol, mnref, maxminor, maxlist, maxmajor, by
    default the values the generators write (maxminor 30 per node).
    """

    def __init__(self, nodes, triangles, *, young=1000.0, poisson=0.3, density=0.0, fix=None, displacement=None,
                 load=None, pressure=None, wrinkling=None, prestress=None, chamber=None, **parameters):
        import numpy as np
        nodes = np.asarray(nodes, dtype=float)
        count = nodes.shape[0] if nodes.ndim == 2 else 0
        fixed = _node_table(fix, count, "fix", bool, _axes)
        displacement = _node_table(displacement, count, "displacement", float, _vector)
        load = _node_table(load, count, "load", float, _vector)
        triangles = np.asarray(triangles)
        if pressure is None:
            pressure = 0.0
        if np.ndim(pressure) == 0:
            pressure = np.full(triangles.shape[0] if triangles.ndim == 2 else 0, float(pressure))
        self._core = _velora.from_arrays(nodes, triangles, fixed, displacement, load, pressure, float(young),
                                         float(poisson), float(density), parameters, wrinkling,
                                         None if prestress is None else _prestress(prestress, "prestress"),
                                         None if chamber is None else _chamber(chamber, "chamber"))

    @classmethod
    def _of(cls, core):
        model = cls.__new__(cls)
        model._core = core
        return model

    @classmethod
    def read(cls, path):
        """The model of a model file ("input.txt"), read as the programs read it."""
        return cls._of(_velora.read_model(os.fspath(path)))

    @classmethod
    def from_meshio(cls, mesh, *, fix=None, pressure=None, load=None, prestress=None, chamber=None, ambient=101325.0,
                    surface=None, orient="keep", young=1000.0, poisson=0.3, density=0.0, wrinkling=None,
                    **parameters):
        """The model of a meshio mesh read from a Gmsh file, as veloramesh makes it.

        fix: {group: "xyz"}; pressure: {group: p} on surface groups; load:
        {group: ("z", value)} on the nodes of a group; prestress: {group: N or
        (N1, N2, (x, y, z))} on a surface group's triangles; chamber: {group:
        gauge or (gauge, kappa)}, a gas chamber bounded by a surface group's
        triangles, filled at the mesh's shape, with the ambient pressure
        ambient (veloramesh --chamber, --ambient); surface: a group name
        or a list of them (the membrane; default every triangle); orient:
        "keep", "first", "+x" ... "-z". Groups are Gmsh's physical groups
        (mesh.field_data with the cell data "gmsh:physical"); the rules and
        failures are veloramesh's (docs/veloramesh.md).
        """
        data = _mesh_data(mesh)
        fixes = [(str(g), _axes(a, f"fix={{{g!r}: {a!r}}}"), f"fix={{{g!r}: {a!r}}}") for g, a in (fix or {}).items()]
        pressures = [(str(g), float(p), f"pressure={{{g!r}: {p!r}}}") for g, p in (pressure or {}).items()]
        loads = []
        for g, entry in (load or {}).items():
            where = f"load={{{g!r}: {entry!r}}}"
            if not (isinstance(entry, (tuple, list)) and len(entry) == 2 and isinstance(entry[0], str)
                    and entry[0].lower() in ("x", "y", "z")):
                raise DataError(f"{where}: expected (axis, value), for example ('z', -0.5)")
            loads.append((str(g), _AXES.index(entry[0].lower()), float(entry[1]), where))
        prestresses = []
        for g, value in (prestress or {}).items():
            where = f"prestress={{{g!r}: {value!r}}}"
            prestresses.append((str(g), *_prestress(value, where), where))
        chambers = []
        for g, value in (chamber or {}).items():
            where = f"chamber={{{g!r}: {value!r}}}"
            gauge, kappa = (value if isinstance(value, (tuple, list)) and len(value) == 2 else (value, 1.0))
            if not all(isinstance(v, Real) and not isinstance(v, bool) for v in (gauge, kappa)):
                raise DataError(f"{where}: expected gauge or (gauge, kappa), for example (5000.0, 1.4)")
            if not float(kappa) >= 1.0:
                raise DataError(f"{where}: kappa must be at least 1 (1 isothermal, 1.4 adiabatic air)")
            chambers.append((str(g), float(gauge), float(kappa), where))
        if orient not in ("keep", "first", "+x", "-x", "+y", "-y", "+z", "-z"):
            raise DataError(f"orient={orient!r}: expected +x, -x, +y, -y, +z, -z, first or keep")
        surfaces = [surface] if isinstance(surface, str) else list(surface or [])
        return cls._of(_velora.from_mesh("the mesh", *data, surfaces, fixes, pressures, loads, prestresses, chambers,
                                         float(ambient), orient,
                                         float(young),
                                         float(poisson), float(density), parameters, wrinkling))

    def write(self, path):
        """Writes the model file, completely or not at all, in the layout every program writes."""
        self._core.write(os.fspath(path))

    def text(self):
        """The text write() writes."""
        return self._core.text()

    nodes = property(lambda self: self._core.nodes, doc="(N, 3) reference coordinates")
    triangles = property(lambda self: self._core.triangles, doc="(M, 3) 0-based node indices")
    fixed = property(lambda self: self._core.fixed, doc="(N, 3) booleans: the held components")
    displacement = property(lambda self: self._core.displacement, doc="(N, 3) prescribed displacements")
    load = property(lambda self: self._core.load, doc="(N, 3) nodal loads")
    pressure = property(lambda self: self._core.pressure, doc="(M,) element pressures")
    young = property(lambda self: self._core.young)
    poisson = property(lambda self: self._core.poisson)
    density = property(lambda self: self._core.density)
    wrinkling = property(lambda self: self._core.wrinkling)
    parameters = property(lambda self: self._core.parameters, doc="the seven analysis parameters")

    def __repr__(self):
        return f"velora.Model({len(self.nodes)} nodes, {len(self.triangles)} triangles)"


# Gmsh's names of the 2-D elements other than 3-node triangles, as veloramesh
# reports them.
_GMSH_NAMES = {"quad": "Quadrilateral 4", "triangle6": "Triangle 6", "quad8": "Quadrilateral 8",
               "quad9": "Quadrilateral 9", "triangle10": "Triangle 10"}
_DIMENSION = {"vertex": 0, "line": 1, "line3": 1, "line4": 1, "triangle": 2, "triangle6": 2, "triangle10": 2,
              "quad": 2, "quad8": 2, "quad9": 2, "polygon": 2}


def _mesh_data(mesh):
    """The points, triangles (with their surface entities), other 2-D
    elements and physical groups of a meshio mesh, as mesh/model.h takes them."""
    import numpy as np
    points = np.asarray(mesh.points, dtype=float)
    if points.ndim == 2 and points.shape[1] == 2:
        points = np.hstack([points, np.zeros((len(points), 1))])
    physical = mesh.cell_data.get("gmsh:physical")
    geometrical = mesh.cell_data.get("gmsh:geometrical")
    # (tag, dim) -> name
    names = {(int(tag_dim[0]), int(tag_dim[1])): name for name, tag_dim in mesh.field_data.items()}
    groups = {key: (set(), []) for key in names}
    triangles, entities, others = [], [], {}
    for b, block in enumerate(mesh.cells):
        cells = np.asarray(block.data)
        dim = _DIMENSION.get(block.type, 3)
        entity = (np.asarray(geometrical[b], dtype=np.int64) if geometrical is not None
                  else np.zeros(len(cells), dtype=np.int64))
        if block.type == "triangle":
            triangles.append(cells)
            entities.append(entity)
        elif dim == 2:
            for e in np.unique(entity):
                key = (int(e), _GMSH_NAMES.get(block.type, block.type))
                others[key] = others.get(key, 0) + int(np.count_nonzero(entity == e))
        if physical is None:
            continue
        tags = np.asarray(physical[b], dtype=np.int64)
        for tag in np.unique(tags):
            if (int(tag), dim) not in groups:
                continue
            chosen = tags == tag
            ents, nodes = groups[(int(tag), dim)]
            ents.update(int(e) for e in np.unique(entity[chosen]))
            nodes.append(cells[chosen].ravel())
    triangles = np.concatenate(triangles) if triangles else np.zeros((0, 3), dtype=np.int64)
    entities = np.concatenate(entities) if entities else np.zeros(0, dtype=np.int64)
    group_list = []
    for key in groups:  # in the order of the file's physical names
        ents, nodes = groups[key]
        node_list = np.unique(np.concatenate(nodes)).tolist() if nodes else []
        group_list.append((key[1], names[key], sorted(ents), node_list))
    other_list = [(e, name, count) for (e, name), count in sorted(others.items())]
    return points, triangles, entities, other_list, group_list


class Result:
    """A solved model: arrays (read-only, 0-based like the model's) and counts.

    displacement, position, reaction: (N, 3); principal_stress: (M, 2), the
    larger first; direction: (M, 3), the unit vector of the larger principal
    stress in the element's reference plane; energy, major, minor, residue
    (the allowable maximum residue), residual (the largest residual force at
    the end), converged, history (the largest residual at the start and after
    each major iteration); chamber: (C, 2), each gas chamber's volume and
    absolute pressure at the solution, by chamber number (chambers.txt).
    """

    def __init__(self, core, model):
        self._core = core
        self._model = model

    displacement = property(lambda self: self._core.displacement)
    position = property(lambda self: self._core.position)
    principal_stress = property(lambda self: self._core.principal_stress)
    direction = property(lambda self: self._core.direction)
    reaction = property(lambda self: self._core.reaction)
    chamber = property(lambda self: self._core.chamber)
    history = property(lambda self: self._core.history)
    energy = property(lambda self: self._core.energy)
    major = property(lambda self: self._core.major)
    minor = property(lambda self: self._core.minor)
    residue = property(lambda self: self._core.residue)
    law = property(lambda self: self._core.law)
    method = property(lambda self: self._core.method)
    residual = property(lambda self: float(self._core.history[-1]))
    converged = property(lambda self: self.residual <= self.residue)
    model = property(lambda self: self._model, doc="the model solved")

    def write(self, folder="."):
        """Writes "autocad.scr" and "output.txt" into folder (made when missing), as the programs write them."""
        folder = os.fspath(folder)
        os.makedirs(folder, exist_ok=True)
        self._core.write(folder)

    def to_meshio(self):
        """A meshio mesh of the reference shape with the data veloraview writes: point data
        displacement and reaction, cell data stress_1, stress_2 and pressure."""
        import meshio
        model = self._model
        stress = self.principal_stress
        return meshio.Mesh(model.nodes, [("triangle", model.triangles)],
                           point_data={"displacement": self.displacement, "reaction": self.reaction},
                           cell_data={"stress_1": [stress[:, 0]], "stress_2": [stress[:, 1]],
                                      "pressure": [model.pressure]})

    def __repr__(self):
        return (f"velora.Result(major={self.major}, residual={self.residual:.6g}, residue={self.residue:.6g}, "
                f"energy={self.energy:.9g})")


def solve(model, law="green", method="lbfgs", threads=0, callback=None):
    """Finds the equilibrium of model; the interpreter is free meanwhile.

    law: "green" (velora1) or "engineering" (velora2); method: "lbfgs" or
    "newton" (the programs' --method); threads: energy threads, 0 for every
    CPU this process may use (the results are the same for every count).
    callback(progress) is called at the start, after every major iteration
    (progress.end_of_major) and twice a second in between; if it returns
    False the solve raises Interrupted. Ctrl-C raises KeyboardInterrupt.
    Every failure of the programs raises the exception of its name with the
    programs' message (DataError, Diverged, ...).
    """
    if not isinstance(model, Model):
        raise TypeError(f"solve takes a velora.Model, not {type(model).__name__}")
    if isinstance(threads, bool) or not isinstance(threads, int) or not 0 <= threads <= 1024:
        raise ValueError(f"threads must be a count in 0..1024 (0: every CPU), not {threads!r}")
    return Result(_velora.solve(model._core, law, method, threads, callback), model)
