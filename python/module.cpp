// The compiled half of the Python module velora (velora/__init__.py is the
// other): models from dense numpy tables, from a mesh's nodes, triangles and
// physical groups, or from a model file; the solve, with the interpreter
// released; the results as numpy arrays and as the programs' files.
//
// A model is kept twice: as its description (model/model_writer.h), which
// write() writes, and as the state the reader makes of it (fields 1-19 of
// model/analysis.h), which every solve copies. Models built here go through
// the reader too, in memory and with every real written exactly, so that a
// model from arrays is checked by the rules a model file is checked by and
// is solved as the programs solve the same file.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "energy/law.h"
#include "mesh/model.h"
#include "model/analysis.h"
#include "model/model.h"
#include "model/model_writer.h"
#include "platform/failure.h"
#include "platform/text_reader.h"
#include "solver/fields.h"
#include "solver/progress.h"
#include "solver/results.h"
#include "solver/solver.h"

namespace py = pybind11;

namespace {

using solver::analysis;
using solver::model_file::Description;

constexpr const char* kAxis[3] = {"x", "y", "z"};

// A solve stopped by its callback (it returned False).
struct Interrupted : platform::Failure {
  explicit Interrupted(std::string message) : Failure("INTERRUPTED", std::move(message)) {}
};

[[noreturn]] void data_error(const std::string& message) { throw platform::DataError(message); }

// A number in a message as Python prints it: the shortest text that reads
// back as the same double.
std::string real(double v) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  std::string s(text, ec == std::errc() ? end : text);
  if (std::isfinite(v) && s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

// ---------------------------------------------------------------- arrays in

using RealArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

std::string shape_text(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t k = 0; k < a.ndim(); ++k) s += (k ? ", " : "") + std::to_string(a.shape(k));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

// The array `name` with `rows` rows (any number when negative) of `cols`
// columns (a 1-D array when cols is 0); ValueError naming the argument and
// the shape wanted otherwise.
void check_shape(const py::array& a, const char* name, py::ssize_t rows, py::ssize_t cols, const char* wanted) {
  const bool ok = cols == 0 ? a.ndim() == 1 && (rows < 0 || a.shape(0) == rows)
                            : a.ndim() == 2 && a.shape(1) == cols && (rows < 0 || a.shape(0) == rows);
  if (!ok) throw py::value_error(std::string(name) + " must have shape " + wanted + ", not " + shape_text(a));
}

RealArray reals(py::handle h, const char* name, py::ssize_t rows, py::ssize_t cols, const char* wanted) {
  RealArray a = RealArray::ensure(h);
  if (!a) throw py::type_error(std::string(name) + " must be an array of numbers");
  check_shape(a, name, rows, cols, wanted);
  const double* v = a.data();
  for (py::ssize_t i = 0; i < a.size(); ++i) {
    if (!std::isfinite(v[i])) {
      const std::string at = cols == 0 ? std::to_string(i) : std::to_string(i / cols) + ", " + kAxis[i % cols];
      data_error(std::string(name) + "[" + at + "] is not a finite number");
    }
  }
  return a;
}

// Node indices: integers only, since a cast from reals would cut 2.7 to 2.
IndexArray indices(py::handle h, const char* name, py::ssize_t rows, py::ssize_t cols, const char* wanted) {
  const py::array any = py::array::ensure(h);
  if (!any) throw py::type_error(std::string(name) + " must be an array of integers");
  const char kind = any.dtype().kind();
  if (any.size() > 0 && kind != 'i' && kind != 'u') {
    throw py::type_error(std::string(name) + " must hold integers (0-based node indices), not " +
                         py::str(any.dtype()).cast<std::string>());
  }
  IndexArray a = IndexArray::ensure(any);
  check_shape(a, name, rows, cols, wanted);
  return a;
}

// ---------------------------------------------------------------- settings

// What veloramesh asks of the material, in the module's words.
void check_material(double young, double poisson, double density) {
  if (!(young > 0.0) || !std::isfinite(young))
    data_error("young=" + real(young) + ": the modulus must be a positive finite number");
  if (!(poisson > -1.0 && poisson <= 0.5))
    data_error("poisson=" + real(poisson) + ": Poisson's ratio must lie in (-1, 0.5]");
  if (!std::isfinite(density)) data_error("density: the weight per area must be a finite number");
}

std::int32_t int32(py::handle v, const std::string& name) {
  if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v)) {
    throw py::type_error(name + " must be an integer, not " + py::str(py::type::of(v)).cast<std::string>());
  }
  const long long k = v.cast<long long>();
  if (k < std::numeric_limits<std::int32_t>::min() || k > std::numeric_limits<std::int32_t>::max()) {
    data_error(name + "=" + std::to_string(k) + " is outside the 32-bit integers");
  }
  return static_cast<std::int32_t>(k);
}

double finite(py::handle v, const std::string& name) {
  const double x = v.cast<double>();
  if (!std::isfinite(x)) data_error(name + " must be a finite number");
  return x;
}

// The seven analysis parameters: the generators' values, and those given.
// Any value the model file takes is taken, as veloramesh takes it; maxminor,
// unless given, is kMinorPerNode per node.
std::pair<solver::model_file::AnalysisParameters, std::optional<std::int32_t>> parameters(const py::dict& given) {
  solver::model_file::AnalysisParameters p;
  std::optional<std::int32_t> maxminor;
  for (const auto& [key, value] : given) {
    const std::string name = py::str(key);
    if (name == "lstol") {
      p.lstol = finite(value, name);
    } else if (name == "maxls") {
      p.maxls = int32(value, name);
    } else if (name == "mntol") {
      p.mntol = finite(value, name);
    } else if (name == "mnref") {
      p.mnref = finite(value, name);
    } else if (name == "maxminor") {
      maxminor = int32(value, name);
    } else if (name == "maxlist") {
      p.maxlist = int32(value, name);
    } else if (name == "maxmajor") {
      p.maxmajor = int32(value, name);
    } else {
      throw py::type_error("unknown parameter \"" + name +
                           "\" (lstol, maxls, mntol, mnref, maxminor, maxlist, maxmajor)");
    }
  }
  return {p, maxminor};
}

std::int32_t minor_per_node(std::size_t nodes, const char* what) {
  const std::int64_t n = static_cast<std::int64_t>(nodes) * solver::model_file::kMinorPerNode;
  if (n > std::numeric_limits<std::int32_t>::max()) {
    data_error(std::string(what) + " has " + std::to_string(nodes) +
               " nodes; the solvers count iterations (30 per node) in 32 bits");
  }
  return static_cast<std::int32_t>(n);
}

// ---------------------------------------------------------------- the model

// A prestress as the model file's :prestress records hold it: n1 along the
// projection of the direction, n2 across it.
using PrestressValue = std::tuple<double, double, std::array<double, 3>>;
// A chamber as the model file's :chambers record holds it: kappa, ambient,
// gauge, reference volume (0: at the reference shape), origin.
using ChamberValue = std::tuple<double, double, double, double, std::array<double, 3>>;

class Model {
 public:
  Model(Description description, analysis state) : description_(std::move(description)), state_(std::move(state)) {}

  // Through the reader, as a file of these records would be read. The text
  // has the lines of the file write() writes, under the name the programs
  // read it by, so a failure names what velora1 would name for that file.
  explicit Model(Description description) : description_(std::move(description)) {
    platform::TextReader reader("input.txt", solver::model_file::text(description_, solver::model_file::Reals::exact));
    solver::input(state_, reader);
  }

  const Description& description() const { return description_; }
  const analysis& state() const { return state_; }

 private:
  Description description_;  // what write() writes
  analysis state_;           // fields 1-19 as input leaves them
};

Model from_arrays(py::handle nodes_in,
                  py::handle triangles_in,
                  py::handle fixed_in,
                  py::handle displacement_in,
                  py::handle load_in,
                  py::handle pressure_in,
                  double young,
                  double poisson,
                  double density,
                  const py::dict& given,
                  std::optional<bool> wrinkling,
                  std::optional<PrestressValue> prestress,
                  std::optional<ChamberValue> chamber) {
  const RealArray nodes = reals(nodes_in, "nodes", -1, 3, "(N, 3)");
  const py::ssize_t n = nodes.shape(0);
  if (n == 0) data_error("nodes: a model needs nodes");
  const IndexArray triangles = indices(triangles_in, "triangles", -1, 3, "(M, 3)");
  const py::ssize_t m = triangles.shape(0);
  if (m == 0) data_error("triangles: a model needs triangles");
  const py::array_t<bool, py::array::c_style | py::array::forcecast> fixed =
      py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(fixed_in);
  if (!fixed) throw py::type_error("fix must be a mapping or an array of booleans");
  check_shape(fixed, "fix", n, 3, "(N, 3)");
  const RealArray displacement = reals(displacement_in, "displacement", n, 3, "(N, 3)");
  const RealArray load = reals(load_in, "load", n, 3, "(N, 3)");
  const RealArray pressure = reals(pressure_in, "pressure", m, 0, "(M,)");
  check_material(young, poisson, density);
  auto [p, maxminor] = parameters(given);
  if (std::int64_t{m} > std::numeric_limits<std::int32_t>::max()) data_error("triangles: more than 2^31 - 1 elements");

  Description d;
  d.parameters = p;
  d.parameters.maxminor = maxminor ? *maxminor : minor_per_node(static_cast<std::size_t>(n), "nodes");
  d.material = {young, poisson, density};
  const double* x = nodes.data();
  d.nodes.resize(static_cast<std::size_t>(n));
  for (py::ssize_t k = 0; k < n; ++k) d.nodes[static_cast<std::size_t>(k)] = {x[3 * k], x[3 * k + 1], x[3 * k + 2]};
  // The file numbers nodes and elements from 1.
  const std::int64_t* t = triangles.data();
  d.elements.resize(static_cast<std::size_t>(m));
  for (py::ssize_t e = 0; e < m; ++e) {
    for (py::ssize_t v = 0; v < 3; ++v) {
      const std::int64_t k = t[3 * e + v];
      if (k < 0 || k >= n) {
        throw platform::RangeError("triangles[" + std::to_string(e) + "] names node " + std::to_string(k) +
                                   ", outside 0.." + std::to_string(n - 1));
      }
      d.elements[static_cast<std::size_t>(e)][static_cast<std::size_t>(v)] = static_cast<std::int32_t>(k + 1);
    }
  }
  const bool* held = fixed.data();
  const double* u = displacement.data();
  const double* f = load.data();
  for (py::ssize_t i = 0; i < 3 * n; ++i) {
    const auto node = static_cast<std::int32_t>(i / 3 + 1);
    const auto axis = static_cast<std::int32_t>(i % 3 + 1);
    const std::string at = std::to_string(i / 3) + ", " + kAxis[i % 3];
    if (held[i]) {
      d.constraints.push_back({node, axis, u[i]});
      if (f[i] != 0.0) {
        data_error("load[" + at + "] = " + real(f[i]) +
                   " is on a component that fix holds; a load on a held component would only go into its reaction");
      }
    } else if (u[i] != 0.0) {
      data_error("displacement[" + at + "] = " + real(u[i]) +
                 " is on a component that fix does not hold; a prescribed displacement needs its component held");
    }
    if (f[i] != 0.0) d.loads.push_back({node, axis, f[i]});
  }
  // The generators' layout (model_file::describe): every element's
  // pressure, or none.
  const double* q = pressure.data();
  bool pressed = false;
  for (py::ssize_t e = 0; e < m; ++e) pressed = pressed || q[e] != 0.0;
  if (pressed) {
    for (py::ssize_t e = 0; e < m; ++e) d.pressures.push_back({static_cast<std::int32_t>(e + 1), q[e]});
  }
  d.extension.wrinkling = wrinkling;
  if (prestress) {
    const auto& [n1, n2, direction] = *prestress;
    d.extension.prestress.push_back({1, static_cast<std::int32_t>(m), n1, n2, direction});
  }
  if (chamber) {
    const auto& [kappa, ambient, gauge, volume, origin] = *chamber;
    d.extension.chambers.push_back({1, kappa, ambient, gauge, volume, origin});
    d.extension.enclosures.push_back({1, static_cast<std::int32_t>(m), 1});
  }
  return Model(std::move(d));
}

using GroupRecord = std::tuple<int, std::string, std::vector<int>, std::vector<std::size_t>>;
using OtherRecord = std::tuple<int, std::string, std::size_t>;
using FixRecord = std::tuple<std::string, std::array<bool, 3>, std::string>;
using PressureRecord = std::tuple<std::string, double, std::string>;
using LoadRecord = std::tuple<std::string, int, double, std::string>;
using PrestressRecord = std::tuple<std::string, double, double, std::array<double, 3>, std::string>;
using ChamberRecord = std::tuple<std::string, double, double, std::string>;

// A mesh as veloramesh takes one from a Gmsh file (mesh/model.h): node k
// (0-based) has the tag k + 1 and triangle e the tag e + 1, so that the
// order of the arrays is the order of the tags. Groups give their nodes as
// 0-based indices too.
Model from_mesh(const std::string& file,
                py::handle points_in,
                py::handle triangles_in,
                py::handle entities_in,
                const std::vector<OtherRecord>& others,
                const std::vector<GroupRecord>& groups,
                const std::vector<std::string>& surfaces,
                const std::vector<FixRecord>& fixes,
                const std::vector<PressureRecord>& pressures,
                const std::vector<LoadRecord>& loads,
                const std::vector<PrestressRecord>& prestress,
                const std::vector<ChamberRecord>& chambers,
                double ambient,
                const std::string& orient,
                double young,
                double poisson,
                double density,
                const py::dict& given,
                std::optional<bool> wrinkling) {
  const RealArray points = reals(points_in, "mesh.points", -1, 3, "(N, 3)");
  const IndexArray triangles = indices(triangles_in, "triangles", -1, 3, "(M, 3)");
  const IndexArray entities = indices(entities_in, "entities", triangles.shape(0), 0, "(M,)");
  check_material(young, poisson, density);

  mesh::MeshData data;
  data.file = file;
  const double* x = points.data();
  for (py::ssize_t k = 0; k < points.shape(0); ++k) {
    data.nodes.push_back({static_cast<std::size_t>(k + 1), {x[3 * k], x[3 * k + 1], x[3 * k + 2]}});
  }
  const std::int64_t* t = triangles.data();
  const std::int64_t* s = entities.data();
  for (py::ssize_t e = 0; e < triangles.shape(0); ++e) {
    mesh::Triangle tr;
    tr.tag = static_cast<std::size_t>(e + 1);
    for (std::size_t v = 0; v < 3; ++v) {
      const std::int64_t k = t[3 * e + static_cast<py::ssize_t>(v)];
      if (k < 0 || k >= points.shape(0)) {
        throw platform::RangeError(file + ": triangle " + std::to_string(e) + " names point " + std::to_string(k) +
                                   ", outside 0.." + std::to_string(points.shape(0) - 1));
      }
      tr.nodes[v] = static_cast<std::size_t>(k + 1);
    }
    tr.entity = static_cast<int>(s[e]);
    data.triangles.push_back(tr);
  }
  for (const auto& [entity, name, count] : others) data.others.push_back({entity, name, count});
  for (const auto& [dim, name, group_entities, nodes] : groups) {
    mesh::Group g{dim, name, group_entities, {}};
    g.nodes.reserve(nodes.size());
    for (const std::size_t k : nodes) g.nodes.push_back(k + 1);
    data.groups.push_back(std::move(g));
  }

  mesh::Settings settings;
  settings.young = young;
  settings.poisson = poisson;
  settings.density = density;
  std::tie(settings.parameters, settings.maxminor) = parameters(given);
  settings.surfaces = surfaces;
  for (const auto& [group, axes, option] : fixes) settings.fixes.push_back({group, axes, option});
  for (const auto& [group, value, option] : pressures) settings.pressures.push_back({group, value, option});
  for (const auto& [group, axis, value, option] : loads) settings.loads.push_back({group, axis, value, option});
  for (const auto& [group, n1, n2, direction, option] : prestress) {
    settings.prestress.push_back({group, n1, n2, direction, option});
  }
  for (const auto& [group, gauge, kappa, option] : chambers) settings.chambers.push_back({group, gauge, kappa, option});
  settings.ambient = ambient;
  settings.orient = mesh::parse_orient(orient);
  Description d = mesh::describe(mesh::build_model(data, settings));
  d.extension.wrinkling = wrinkling;
  return Model(std::move(d));
}

Model read_model(const std::string& path) {
  platform::TextReader reader = platform::TextReader::open(path);
  analysis a;
  solver::input(a, reader);
  Description d = solver::model_file::describe(a);
  return Model(std::move(d), std::move(a));
}

// ---------------------------------------------------------------- arrays out

// An array that owns its rows: the vector moves into a capsule that numpy
// frees with the array, so the results are never copied.
template <std::size_t C, class T>
py::array owned(std::vector<std::array<T, C>>&& rows) {
  static_assert(sizeof(std::array<T, C>) == C * sizeof(T), "rows are contiguous");
  using Rows = std::vector<std::array<T, C>>;
  auto* kept = new Rows(std::move(rows));
  py::capsule owner(kept, [](void* p) { delete static_cast<Rows*>(p); });
  const auto count = static_cast<py::ssize_t>(kept->size());
  py::array_t<T> a({count, static_cast<py::ssize_t>(C)}, kept->empty() ? nullptr : kept->front().data(), owner);
  a.attr("flags").attr("writeable") = false;
  return a;
}

template <class T>
py::array owned(std::vector<T>&& values) {
  using Values = std::vector<T>;
  auto* kept = new Values(std::move(values));
  py::capsule owner(kept, [](void* p) { delete static_cast<Values*>(p); });
  py::array_t<T> a({static_cast<py::ssize_t>(kept->size())}, kept->data(), owner);
  a.attr("flags").attr("writeable") = false;
  return a;
}

py::dict model_parameters(const Model& m) {
  const analysis& a = m.state();
  py::dict d;
  d["lstol"] = a.lstol;
  d["maxls"] = a.maxls;
  d["mntol"] = a.mntol;
  d["mnref"] = a.mnref;
  d["maxminor"] = a.maxminor;
  d["maxlist"] = a.maxlist;
  d["maxmajor"] = a.maxmajor;
  return d;
}

// Node-by-axis tables of the state (1-based) as (N, 3) rows.
template <class T, class Get>
py::array node_table(const analysis& a, Get get) {
  std::vector<std::array<T, 3>> rows(static_cast<std::size_t>(a.nnode));
  for (int k = 1; k <= a.nnode; ++k) {
    for (int j = 1; j <= 3; ++j) rows[static_cast<std::size_t>(k - 1)][static_cast<std::size_t>(j - 1)] = get(k, j);
  }
  return owned(std::move(rows));
}

// ---------------------------------------------------------------- the solve

// What the callback is given.
struct Progress {
  int major = 0;              // major iterations done
  int minor = 0;              // minor iterations so far
  int evaluations = 0;        // energy evaluations so far
  double energy = 0.0;        // total potential energy at the latest point
  double residual = 0.0;      // largest residual force there
  double residue = 0.0;       // the allowable residue: converged when residual <= residue
  bool end_of_major = false;  // called at the end of a major iteration (or at the start: major 0)
};

double largest(const solver::Evaluation& e) {
  double r = 0.0;
  for (int i = 1; i <= e.n; ++i) r = std::max(r, std::fabs((*e.g)(i)));
  return r;
}

// Watches a solve from inside it, on the solving thread: keeps the history
// of the residual, looks for Ctrl-C every kSignalPeriod, calls the callback
// at the end of every major iteration and every kCallPeriod in between. To
// stop the run it throws Stopped, after keeping what the caller raises.
class Watcher : public solver::ProgressObserver {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kSignalPeriod = std::chrono::milliseconds(50);
  static constexpr Clock::duration kCallPeriod = std::chrono::milliseconds(500);

  explicit Watcher(py::object callback) : callback_(std::move(callback)) {}

  void evaluated(const solver::Evaluation& e) override {
    ++evaluations_;
    const Clock::time_point now = Clock::now();
    if (now < next_signal_) return;
    next_signal_ = now + kSignalPeriod;
    const bool call = !callback_.is_none() && now >= next_call_;
    if (call) next_call_ = now + kCallPeriod;
    visit(e, false, call);
  }

  void major_done(const solver::Evaluation& e) override {
    history_.push_back(largest(e));
    next_call_ = Clock::now() + kCallPeriod;
    visit(e, true, !callback_.is_none());
  }

  std::vector<double>& history() { return history_; }

  // After Stopped, with the interpreter held: raises what stopped the run.
  [[noreturn]] void raise() {
    if (pending_) std::rethrow_exception(*pending_);
    throw Interrupted("the callback returned False in major iteration " + std::to_string(stopped_in_) + "; no results");
  }

 private:
  void visit(const solver::Evaluation& e, bool end, bool call) {
    py::gil_scoped_acquire held;
    // Python's handler of SIGINT only marks the signal; the main thread runs
    // the handler (KeyboardInterrupt) here. Elsewhere this does nothing.
    if (PyErr_CheckSignals() != 0) stop_with_python_error();
    if (!call) return;
    Progress p;
    p.major = e.major;
    p.minor = e.minor;
    p.evaluations = evaluations_;
    p.energy = e.energy;
    p.residual = end ? history_.back() : largest(e);
    p.residue = e.residue;
    p.end_of_major = end;
    py::object answer;
    try {
      answer = callback_(p);
    } catch (py::error_already_set&) {
      // The callback's own exception, raised once the run has unwound.
      pending_.emplace(std::current_exception());
      throw solver::Stopped("the callback raised an exception");
    }
    if (answer.ptr() == Py_False) {
      stopped_in_ = e.major;
      throw solver::Stopped("the callback returned False");
    }
  }

  [[noreturn]] void stop_with_python_error() {
    pending_.emplace(std::make_exception_ptr(py::error_already_set()));
    throw solver::Stopped("interrupted");
  }

  py::object callback_;
  std::vector<double> history_;  // largest residual at the start and after each major iteration
  int evaluations_ = 0;
  int stopped_in_ = 0;
  Clock::time_point next_signal_{};
  Clock::time_point next_call_ = Clock::now() + kCallPeriod;
  std::optional<std::exception_ptr> pending_;
};

const solver::MaterialLaw& law_named(const std::string& name) {
  if (name == "green") return solver::green_law();
  if (name == "engineering") return solver::engineering_law();
  throw py::value_error("law must be \"green\" or \"engineering\", not \"" + name + "\"");
}

class Result {
 public:
  Result(analysis state, const solver::MaterialLaw& law, std::string method, std::vector<double> history)
      : state_(std::move(state)), law_(&law), method_(std::move(method)) {
    solver::ResultFields f;
    {
      py::gil_scoped_release free;
      f = solver::fields(state_, *law_);
    }
    displacement_ = owned(std::move(f.displacement));
    position_ = owned(std::move(f.position));
    stress_ = owned(std::move(f.stress));
    direction_ = owned(std::move(f.direction));
    reaction_ = owned(std::move(f.reaction));
    chamber_ = owned(std::move(f.chamber));
    history_ = owned(std::move(history));
  }

  // output.txt and autocad.scr of the programs; from a copy of the state,
  // since the report uses its force table as work space.
  void write(const std::string& folder) const {
    analysis a = state_;
    py::gil_scoped_release free;
    solver::write_results(a, *law_, folder);
  }

  const analysis& state() const { return state_; }
  const char* law() const { return law_->name(); }
  const std::string& method() const { return method_; }
  py::array displacement_, position_, stress_, direction_, reaction_, chamber_, history_;

 private:
  analysis state_;
  const solver::MaterialLaw* law_;
  std::string method_;
};

Result solve(
    const Model& model, const std::string& law_name, const std::string& method, unsigned threads, py::object callback) {
  const solver::MaterialLaw& law = law_named(law_name);
  solver::RunOptions options;
  options.threads = threads;
  if (method == "newton") {
    options.method = solver::Method::newton;
    // As the programs do (programs/solver_program.cpp): CHOLMOD's OpenMP
    // loops and the BLAS get one thread unless the user has set otherwise,
    // so that the results do not depend on the machine's CPUs.
    setenv("OMP_THREAD_LIMIT", "1", 0);
    setenv("OPENBLAS_NUM_THREADS", "1", 0);
  } else if (method != "lbfgs") {
    throw py::value_error("method must be \"lbfgs\" or \"newton\", not \"" + method + "\"");
  }
  if (!callback.is_none() && !PyCallable_Check(callback.ptr()))
    throw py::type_error("callback must be callable or None");
  Watcher watcher(std::move(callback));
  options.progress = &watcher;
  analysis a = model.state();
  try {
    py::gil_scoped_release free;
    solver::solve(a, law, options);
  } catch (const solver::Stopped&) {
    watcher.raise();
  }
  return Result(std::move(a), law, method, std::move(watcher.history()));
}

}  // namespace

PYBIND11_MODULE(_velora, m) {
  m.doc() = "velora's compiled core: use the package velora";

  // The failures of the programs, by the same names; a C++ failure becomes
  // the Python exception of its type with the same message. Later
  // registrations are tried first, so a derived type comes after its base.
  auto& error = py::register_exception<platform::Failure>(m, "Error", PyExc_RuntimeError);
  py::register_exception<platform::FileError>(m, "FileError", error.ptr());
  py::register_exception<platform::EndError>(m, "EndError", error.ptr());
  auto& data = py::register_exception<platform::DataError>(m, "DataError", error.ptr());
  py::register_exception<platform::RangeError>(m, "RangeError", error.ptr());
  py::register_exception<platform::ArgumentError>(m, "ArgumentError", error.ptr());
  py::register_exception<platform::LibraryError>(m, "LibraryError", error.ptr());
  py::register_exception<solver::Diverged>(m, "Diverged", data.ptr());
  py::register_exception<Interrupted>(m, "Interrupted", error.ptr());

  py::class_<Model>(m, "Model")
      .def_property_readonly("nodes",
                             [](const Model& md) {
                               const analysis& a = md.state();
                               return node_table<double>(a, [&](int k, int j) {
                                 return j == 1 ? a.coordx(k) : j == 2 ? a.coordy(k) : a.coordz(k);
                               });
                             })
      .def_property_readonly("triangles",
                             [](const Model& md) {
                               const analysis& a = md.state();
                               std::vector<std::array<std::int64_t, 3>> rows(static_cast<std::size_t>(a.nelem));
                               for (int e = 1; e <= a.nelem; ++e) {
                                 for (std::size_t v = 0; v < 3; ++v) {
                                   rows[static_cast<std::size_t>(e - 1)][v] = a.elem(e).node[v] - 1;  // 0-based
                                 }
                               }
                               return owned(std::move(rows));
                             })
      .def_property_readonly("fixed",
                             [](const Model& md) {
                               return node_table<bool>(md.state(),
                                                       [&](int k, int j) { return md.state().dof(k, j) != 0; });
                             })
      .def_property_readonly("displacement",
                             [](const Model& md) {
                               return node_table<double>(md.state(),
                                                         [&](int k, int j) { return md.state().displ(k, j); });
                             })
      .def_property_readonly("load",
                             [](const Model& md) {
                               return node_table<double>(md.state(),
                                                         [&](int k, int j) { return md.state().action(k, j); });
                             })
      .def_property_readonly("pressure",
                             [](const Model& md) {
                               const analysis& a = md.state();
                               std::vector<double> q(static_cast<std::size_t>(a.nelem));
                               for (int e = 1; e <= a.nelem; ++e)
                                 q[static_cast<std::size_t>(e - 1)] = a.elem(e).pressure;
                               return owned(std::move(q));
                             })
      .def_property_readonly("young", [](const Model& md) { return md.state().young; })
      .def_property_readonly("poisson", [](const Model& md) { return md.state().poisson; })
      .def_property_readonly("density", [](const Model& md) { return md.state().density; })
      .def_property_readonly("wrinkling", [](const Model& md) { return md.state().extension.wrinkling; })
      .def_property_readonly("parameters", &model_parameters)
      .def("write", [](const Model& md, const std::string& path) { solver::model_file::write(md.description(), path); })
      .def("text", [](const Model& md) { return solver::model_file::text(md.description()); });

  m.def("from_arrays", &from_arrays);
  m.def("from_mesh", &from_mesh);
  m.def("read_model", &read_model);

  py::class_<Progress>(m, "Progress")
      .def_readonly("major", &Progress::major)
      .def_readonly("minor", &Progress::minor)
      .def_readonly("evaluations", &Progress::evaluations)
      .def_readonly("energy", &Progress::energy)
      .def_readonly("residual", &Progress::residual)
      .def_readonly("residue", &Progress::residue)
      .def_readonly("end_of_major", &Progress::end_of_major)
      .def("__repr__", [](const Progress& p) {
        return "Progress(major=" + std::to_string(p.major) + ", minor=" + std::to_string(p.minor) +
               ", residual=" + real(p.residual) + ", end_of_major=" + (p.end_of_major ? "True" : "False") + ")";
      });

  py::class_<Result>(m, "Result")
      .def_readonly("displacement", &Result::displacement_)
      .def_readonly("position", &Result::position_)
      .def_readonly("principal_stress", &Result::stress_)
      .def_readonly("direction", &Result::direction_)
      .def_readonly("reaction", &Result::reaction_)
      .def_readonly("chamber", &Result::chamber_)
      .def_readonly("history", &Result::history_)
      .def_property_readonly("energy", [](const Result& r) { return r.state().energy; })
      .def_property_readonly("major", [](const Result& r) { return r.state().major; })
      .def_property_readonly("minor", [](const Result& r) { return r.state().minor; })
      .def_property_readonly("residue", [](const Result& r) { return r.state().residue; })
      .def_property_readonly("law", &Result::law)
      .def_property_readonly("method", &Result::method)
      .def("write", &Result::write);

  m.def("solve", &solve);
}
