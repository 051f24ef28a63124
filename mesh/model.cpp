// Building the membrane model from a triangle mesh and the command line's
// settings, and writing it as "input.txt".

#include "mesh/model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <queue>
#include <set>
#include <unordered_map>

#include "model/geometry.h"
#include "platform/failure.h"
#include "platform/number_image.h"

namespace mesh {

namespace {

using std::int32_t;
using std::int64_t;
using Vec = std::array<double, 3>;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw platform::DataError(where + ": " + what);
}

Vec sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
using solver::dot;

std::string point(const Vec& x) {
  return "(" + platform::real_image(x[0], 1, 6, 3) + ", " + platform::real_image(x[1], 1, 6, 3) + ", " +
         platform::real_image(x[2], 1, 6, 3) + ")";
}

const char* kAxisName[3] = {"x", "y", "z"};

const char* dim_name(int dim) {
  switch (dim) {
    case 0:
      return "points";
    case 1:
      return "curves";
    case 2:
      return "surfaces";
    default:
      return "volumes";
  }
}

// Every group of that name, of any dimension, in the order of the file.
std::vector<const Group*> groups_named(const MeshData& mesh, const std::string& name) {
  std::vector<const Group*> found;
  for (const Group& g : mesh.groups)
    if (g.name == name) found.push_back(&g);
  return found;
}

std::string group_list(const MeshData& mesh) {
  if (mesh.groups.empty()) return "it has no physical groups";
  std::string s = "its groups:";
  for (const Group& g : mesh.groups) s += " \"" + g.name + "\" (" + dim_name(g.dim) + ")";
  return s;
}

std::vector<const Group*> find_groups(const MeshData& mesh, const std::string& name, const std::string& option) {
  std::vector<const Group*> found = groups_named(mesh, name);
  if (found.empty()) fail(option, mesh.file + " has no physical group \"" + name + "\"; " + group_list(mesh));
  return found;
}

// The surface group of that name; DataError when there is none or the name
// belongs to groups of other dimensions only.
const Group& surface_group(const MeshData& mesh, const std::string& name, const std::string& option) {
  const std::vector<const Group*> found = find_groups(mesh, name, option);
  for (const Group* g : found)
    if (g->dim == 2) return *g;
  fail(option,
       "group \"" + name + "\" of " + mesh.file + " holds " + dim_name(found.front()->dim) + "; it must hold surfaces");
}

std::string elements_advice() {
  return "veloramesh needs 3-node triangles: mesh the surfaces without recombination and with first-order "
         "elements (Mesh.RecombineAll = 0, Mesh.ElementOrder = 1; gmsh -2 -order 1)";
}

void check_settings(const Settings& s) {
  if (!(s.young > 0.0) || !std::isfinite(s.young)) {
    fail("--young " + platform::real_image(s.young, 1, 6, 3), "the modulus must be a positive finite number");
  }
  if (!(s.poisson > -1.0 && s.poisson <= 0.5)) {
    fail("--poisson " + platform::real_image(s.poisson, 1, 6, 3), "Poisson's ratio must lie in (-1, 0.5]");
  }
  if (!std::isfinite(s.density)) fail("--density", "the weight per area must be a finite number");
  if (!(s.ambient > 0.0) || !std::isfinite(s.ambient)) {
    fail("--ambient " + platform::real_image(s.ambient, 1, 6, 3), "the ambient pressure must be positive (absolute)");
  }
  for (const ChamberOption& c : s.chambers) {
    if (!(c.gauge + s.ambient > 0.0)) fail(c.option, "the gauge pressure plus --ambient must be above 0 (absolute)");
  }
}

// Indices (into mesh.triangles) of the membrane: every triangle, or those
// on the surfaces of the --surface groups, in increasing element tag.
std::vector<std::size_t> membrane_triangles(const MeshData& mesh, const Settings& s) {
  std::vector<std::size_t> chosen;
  if (s.surfaces.empty()) {
    if (!mesh.others.empty()) {
      const OtherElements& o = mesh.others.front();
      fail(mesh.file,
           "the mesh holds " + std::to_string(o.count) + " elements of type \"" + o.name + "\" on surface " +
               std::to_string(o.entity) + "; " + elements_advice());
    }
    chosen.resize(mesh.triangles.size());
    std::iota(chosen.begin(), chosen.end(), std::size_t{0});
  } else {
    std::set<int> entities;
    for (const std::string& name : s.surfaces) {
      const std::string option = "--surface " + name;
      const Group& g = surface_group(mesh, name, option);
      for (const OtherElements& o : mesh.others) {
        if (std::find(g.entities.begin(), g.entities.end(), o.entity) != g.entities.end()) {
          fail(option,
               "group \"" + name + "\" holds " + std::to_string(o.count) + " elements of type \"" + o.name + "\"; " +
                   elements_advice());
        }
      }
      entities.insert(g.entities.begin(), g.entities.end());
    }
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t)
      if (entities.count(mesh.triangles[t].entity) != 0) chosen.push_back(t);
  }
  std::sort(chosen.begin(), chosen.end(), [&](std::size_t a, std::size_t b) {
    return mesh.triangles[a].tag < mesh.triangles[b].tag;
  });
  for (std::size_t k = 1; k < chosen.size(); ++k) {
    if (mesh.triangles[chosen[k]].tag == mesh.triangles[chosen[k - 1]].tag) {
      fail(mesh.file, "element " + std::to_string(mesh.triangles[chosen[k]].tag) + " is defined twice");
    }
  }
  if (chosen.empty()) {
    fail(mesh.file,
         s.surfaces.empty() ? "the mesh holds no 3-node triangles; mesh its surfaces (gmsh -2)"
                            : "the groups of --surface hold no 3-node triangles");
  }
  return chosen;
}

// Scaling by a power of two is an exact change of unit, short of results
// that fall below the normal doubles, which lie far below every tolerance
// here: every test below decides as it would on the coordinates as given,
// while no difference, square or cross product overflows or underflows,
// whatever the finite coordinates (1e300, 1e-300, +-1e308).
Vec scaled(const Vec& x, int k) { return {std::ldexp(x[0], -k), std::ldexp(x[1], -k), std::ldexp(x[2], -k)}; }

// The binary exponent of the largest magnitude among the vectors' components
// (0 when every one is zero).
template <class Vectors>
int exponent(const Vectors& xs) {
  double big = 0.0;
  for (const Vec& x : xs)
    for (const double v : x) big = std::max(big, std::abs(v));
  return big > 0.0 ? std::ilogb(big) : 0;
}

// The model's coordinates in a unit near its largest: every component
// below 2 in magnitude.
std::vector<Vec> in_model_unit(const Model& m) {
  const int k = exponent(m.coord);
  std::vector<Vec> unit;
  unit.reserve(m.coord.size());
  for (const Vec& x : m.coord) unit.push_back(scaled(x, k));
  return unit;
}

// The sides p2 - p1 and p3 - p1 of element e and their cross product (the
// normal of the vertex order), in a unit of the element's own, so that a
// small element of a large model keeps its digits too. `unit` holds the
// coordinates in the model's unit, whose differences cannot overflow.
struct Sides {
  Vec a, b, n;
};
Sides sides(const Model& m, const std::vector<Vec>& unit, std::size_t e) {
  const auto& v = m.elem[e];
  const Vec& p1 = unit[static_cast<std::size_t>(v[0])];
  const Vec a = sub(unit[static_cast<std::size_t>(v[1])], p1);
  const Vec b = sub(unit[static_cast<std::size_t>(v[2])], p1);
  const int k = exponent(std::array<Vec, 2>{a, b});
  Sides s{scaled(a, k), scaled(b, k), {}};
  s.n = cross(s.a, s.b);
  return s;
}

// Two distinct nodes closer than a billionth of the model's size: the mesh
// is cut apart there (usually surfaces meshed separately and not merged).
// The size, the tolerance and the distances are taken in the model's unit
// (in_model_unit), where none of them overflows or underflows.
void check_coincident(const Model& m, const std::vector<Vec>& unit, const std::string& file) {
  const std::size_t n = unit.size();
  Vec lo = unit[0], hi = unit[0];
  for (const Vec& x : unit)
    for (std::size_t a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], x[a]);
      hi[a] = std::max(hi[a], x[a]);
    }
  const Vec span = sub(hi, lo);
  const double tol = 1e-9 * std::sqrt(dot(span, span));
  // Nodes are put in cells of side tol; a node closer than tol to another
  // lies in the same cell or one of the 26 around it. (When every node
  // stands at one point, tol is 0 and they all coincide.)
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  if (tol == 0.0) {
    for (std::size_t k = 1; k < n; ++k) pairs.emplace_back(0, k);
  } else {
    using Cell = std::array<int64_t, 3>;
    const auto cell_of = [&](const Vec& x) {
      return Cell{static_cast<int64_t>(std::floor((x[0] - lo[0]) / tol)),
                  static_cast<int64_t>(std::floor((x[1] - lo[1]) / tol)),
                  static_cast<int64_t>(std::floor((x[2] - lo[2]) / tol))};
    };
    struct CellHash {
      std::size_t operator()(const Cell& c) const {
        return std::hash<int64_t>()(c[0] * 73856093 ^ c[1] * 19349663 ^ c[2] * 83492791);
      }
    };
    // Lookup only; the pairs are sorted before they are reported.
    std::unordered_map<Cell, std::vector<std::size_t>, CellHash> cells;
    for (std::size_t k = 0; k < n; ++k) {
      const Cell c = cell_of(unit[k]);
      for (int64_t dx = -1; dx <= 1; ++dx)
        for (int64_t dy = -1; dy <= 1; ++dy)
          for (int64_t dz = -1; dz <= 1; ++dz) {
            const auto it = cells.find(Cell{c[0] + dx, c[1] + dy, c[2] + dz});
            if (it == cells.end()) continue;
            for (const std::size_t j : it->second) {
              const Vec d = sub(unit[j], unit[k]);
              if (std::sqrt(dot(d, d)) <= tol) pairs.emplace_back(j, k);
            }
          }
      cells[c].push_back(k);
    }
  }
  if (pairs.empty()) return;
  std::sort(pairs.begin(), pairs.end());
  std::string list;
  for (std::size_t k = 0; k < pairs.size() && k < 5; ++k) {
    const auto [a, b] = pairs[k];
    list += (k ? "; " : "") + std::string("nodes ") + std::to_string(a + 1) + " and " + std::to_string(b + 1) +
            " (Gmsh nodes " + std::to_string(m.node_tag[a]) + " and " + std::to_string(m.node_tag[b]) + ") at " +
            point(m.coord[a]);
  }
  if (pairs.size() > 5) list += "; and " + std::to_string(pairs.size() - 5) + " more pairs";
  fail(file,
       std::to_string(pairs.size()) + " pairs of coincident nodes, where the membrane would come apart: " + list +
           ". Merge them in Gmsh (Coherence Mesh, or Geometry.Tolerance before meshing)");
}

// A triangle whose corners lie on a line (or coincide) has no area and no
// stiffness; the solver's set-up would divide by zero. Judged in the
// element's own unit (sides), where the test is free of overflow.
void check_areas(const Model& m, const std::vector<Vec>& unit, const std::string& file) {
  for (std::size_t e = 0; e < m.elem.size(); ++e) {
    const Sides s = sides(m, unit, e);
    const double longest = std::max({dot(s.a, s.a), dot(s.b, s.b), dot(sub(s.a, s.b), sub(s.a, s.b))});
    if (std::sqrt(dot(s.n, s.n)) <= 1e-12 * longest) {
      fail(file,
           "element " + std::to_string(e + 1) + " (Gmsh element " + std::to_string(m.elem_tag[e]) +
               ") has no area: its corners lie on one line");
    }
  }
}

void flip(std::array<int32_t, 3>& v) { std::swap(v[1], v[2]); }

// Every triangle turned so that its normal has a positive component along
// the axis (sign +1) or a negative one (sign -1).
void orient_along(Model& m, const std::vector<Vec>& unit, int axis, double sign, const std::string& option) {
  for (std::size_t e = 0; e < m.elem.size(); ++e) {
    const Vec n = sides(m, unit, e).n;
    const double c = sign * n[static_cast<std::size_t>(axis)];
    if (std::abs(c) <= 1e-9 * std::sqrt(dot(n, n))) {
      fail(option,
           "element " + std::to_string(e + 1) + " (Gmsh element " + std::to_string(m.elem_tag[e]) +
               ") stands edge-on to the " + kAxisName[axis] +
               " axis, so the axis cannot orient it; use --orient first");
    }
    if (c < 0.0) flip(m.elem[e]);
  }
}

// Every connected part of the membrane oriented like its first triangle:
// two triangles that share an edge must run along it in opposite
// directions. Edges shared by more than two triangles join nothing.
void orient_like_first(Model& m) {
  struct Edge {
    int32_t a, b;   // a < b
    std::size_t e;  // triangle
    bool forward;   // the triangle runs from a to b
  };
  std::vector<Edge> edges;
  edges.reserve(3 * m.elem.size());
  for (std::size_t e = 0; e < m.elem.size(); ++e) {
    for (std::size_t k = 0; k < 3; ++k) {
      const int32_t p = m.elem[e][k], q = m.elem[e][(k + 1) % 3];
      edges.push_back({std::min(p, q), std::max(p, q), e, p < q});
    }
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
    return x.a != y.a ? x.a < y.a : x.b != y.b ? x.b < y.b : x.e < y.e;
  });
  // neighbours[e]: (other triangle, same direction along the shared edge)
  std::vector<std::vector<std::pair<std::size_t, bool>>> neighbours(m.elem.size());
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i;
    while (j < edges.size() && edges[j].a == edges[i].a && edges[j].b == edges[i].b) ++j;
    if (j - i == 2) {
      const bool same = edges[i].forward == edges[i + 1].forward;
      neighbours[edges[i].e].emplace_back(edges[i + 1].e, same);
      neighbours[edges[i + 1].e].emplace_back(edges[i].e, same);
    }
    i = j;
  }
  enum : char { kUnseen, kKeep, kFlip };
  std::vector<char> state(m.elem.size(), kUnseen);
  for (std::size_t start = 0; start < m.elem.size(); ++start) {
    if (state[start] != kUnseen) continue;
    state[start] = kKeep;
    std::queue<std::size_t> todo;
    todo.push(start);
    while (!todo.empty()) {
      const std::size_t e = todo.front();
      todo.pop();
      for (const auto& [o, same] : neighbours[e]) {
        // A neighbour that runs the same way along the shared edge must be
        // flipped relative to e.
        const char want = (state[e] == kFlip) != same ? kFlip : kKeep;
        if (state[o] == kUnseen) {
          state[o] = want;
          todo.push(o);
        } else if (state[o] != want) {
          throw platform::DataError(
              "--orient first: the membrane has one side only (like a Moebius strip): "
              "elements " +
              std::to_string(e + 1) + " and " + std::to_string(o + 1) + " cannot both agree with element " +
              std::to_string(start + 1));
        }
      }
    }
  }
  for (std::size_t e = 0; e < m.elem.size(); ++e)
    if (state[e] == kFlip) flip(m.elem[e]);
}

void orient(Model& m, const std::vector<Vec>& unit, Orient how) {
  // clang-format off
  switch (how) {
    case Orient::keep: return;
    case Orient::first: orient_like_first(m); return;
    case Orient::px: orient_along(m, unit, 0, 1.0, "--orient +x"); return;
    case Orient::mx: orient_along(m, unit, 0, -1.0, "--orient -x"); return;
    case Orient::py: orient_along(m, unit, 1, 1.0, "--orient +y"); return;
    case Orient::my: orient_along(m, unit, 1, -1.0, "--orient -y"); return;
    case Orient::pz: orient_along(m, unit, 2, 1.0, "--orient +z"); return;
    case Orient::mz: orient_along(m, unit, 2, -1.0, "--orient -z"); return;
  }
  // clang-format on
}

// Indices of the model's nodes among the Gmsh tags of a group's nodes.
std::vector<std::size_t> model_nodes(const std::vector<const Group*>& groups,
                                     const std::unordered_map<std::size_t, std::size_t>& index,
                                     const std::string& option,
                                     const std::string& name) {
  std::vector<std::size_t> found;
  for (const Group* g : groups)
    for (const std::size_t tag : g->nodes) {
      const auto it = index.find(tag);
      if (it != index.end()) found.push_back(it->second);
    }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  if (found.empty()) fail(option, "group \"" + name + "\" has no node on the membrane");
  return found;
}

// For each model triangle, the index of the one option (of --prestress or
// --chamber) whose surface group holds it, -1 for none; empty when there
// are no such options. `what` names the option's kind, `takes` what a
// triangle does with it, for the failures.
template <class Option>
std::vector<int> assign_groups(const MeshData& mesh,
                               const std::unordered_map<std::size_t, std::size_t>& element_of_tag,
                               const Model& m,
                               const std::vector<Option>& options,
                               const std::string& what,
                               const std::string& takes) {
  std::vector<int> owner;
  if (options.empty()) return owner;
  owner.assign(m.elem.size(), -1);
  for (std::size_t k = 0; k < options.size(); ++k) {
    const Option& p = options[k];
    const Group& g = surface_group(mesh, p.group, p.option);
    std::size_t count = 0;
    std::vector<char> hit(m.elem.size(), 0);
    for (const Triangle& tr : mesh.triangles) {
      if (std::find(g.entities.begin(), g.entities.end(), tr.entity) == g.entities.end()) continue;
      const auto it = element_of_tag.find(tr.tag);
      if (it == element_of_tag.end()) {
        fail(p.option,
             "triangles of group \"" + p.group + "\" are not part of the membrane; name the group with --surface too");
      }
      hit[it->second] = 1;
    }
    for (std::size_t e = 0; e < m.elem.size(); ++e) {
      if (!hit[e]) continue;
      const int before = owner[e];
      if (before >= 0) {
        fail(p.option,
             "triangle " + std::to_string(e + 1) + " (Gmsh element " + std::to_string(m.elem_tag[e]) + ") already " +
                 takes + " of " + options[static_cast<std::size_t>(before)].option + "; a triangle takes one " + what);
      }
      owner[e] = static_cast<int>(k);
      ++count;
    }
    if (count == 0) fail(p.option, "group \"" + p.group + "\" holds no 3-node triangles");
  }
  return owner;
}

// The runs of consecutive triangles of one option in owner (assign_groups):
// calls record(option index, first, last), 1-based elements.
template <class Record>
void runs_of(const std::vector<int>& owner, Record record) {
  for (std::size_t e = 0; e < owner.size();) {
    const int k = owner[e];
    std::size_t last = e;
    while (last + 1 < owner.size() && owner[last + 1] == k) ++last;
    if (k >= 0) record(static_cast<std::size_t>(k), static_cast<int32_t>(e + 1), static_cast<int32_t>(last + 1));
    e = last + 1;
  }
}

}  // namespace

Model build_model(const MeshData& mesh, const Settings& s) {
  check_settings(s);
  const std::vector<std::size_t> chosen = membrane_triangles(mesh, s);

  // Node tag -> position in mesh.nodes.
  std::unordered_map<std::size_t, std::size_t> position;
  position.reserve(mesh.nodes.size());
  for (std::size_t k = 0; k < mesh.nodes.size(); ++k) {
    if (!position.emplace(mesh.nodes[k].tag, k).second) {
      fail(mesh.file, "node " + std::to_string(mesh.nodes[k].tag) + " is defined twice");
    }
  }

  // Nodes used by the membrane, numbered in increasing tag.
  std::vector<char> used(mesh.nodes.size(), 0);
  for (const std::size_t t : chosen) {
    for (const std::size_t tag : mesh.triangles[t].nodes) {
      const auto it = position.find(tag);
      if (it == position.end()) {
        fail(mesh.file,
             "element " + std::to_string(mesh.triangles[t].tag) + " uses node " + std::to_string(tag) +
                 ", which the file does not define");
      }
      used[it->second] = 1;
    }
  }
  Model m;
  std::unordered_map<std::size_t, std::size_t> index;  // tag -> model node, 0-based
  std::vector<std::size_t> by_tag(mesh.nodes.size());
  std::iota(by_tag.begin(), by_tag.end(), std::size_t{0});
  std::sort(by_tag.begin(), by_tag.end(), [&](std::size_t a, std::size_t b) {
    return mesh.nodes[a].tag < mesh.nodes[b].tag;
  });
  for (const std::size_t k : by_tag) {
    if (!used[k]) continue;
    const Node& nd = mesh.nodes[k];
    for (const double x : nd.x)
      if (!std::isfinite(x)) fail(mesh.file, "node " + std::to_string(nd.tag) + " has a coordinate that is not finite");
    index.emplace(nd.tag, m.coord.size());
    m.coord.push_back(nd.x);
    m.node_tag.push_back(nd.tag);
  }
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  if (static_cast<int64_t>(m.coord.size()) * solver::model_file::kMinorPerNode > kMax ||
      static_cast<int64_t>(chosen.size()) > kMax) {
    fail(mesh.file,
         "the membrane has " + std::to_string(m.coord.size()) +
             " nodes; the solvers count iterations (30 per node) in 32 bits");
  }
  // MSH 2.2 has no element that belongs to two physical groups: Gmsh writes
  // such an element once per group, under a new tag each time, and reads
  // the copies back as separate elements of one surface. The first copy
  // stands for all; its later copies map to it (for --pressure). The same
  // three nodes on two different surfaces are two membranes in one place,
  // a fault of the mesh.
  std::unordered_map<std::size_t, std::size_t> element_of_tag;  // Gmsh tag -> model element
  std::map<std::array<int32_t, 3>, std::size_t> element_of_nodes;
  std::vector<int> entity_of_element;
  for (const std::size_t t : chosen) {
    const Triangle& tr = mesh.triangles[t];
    std::array<int32_t, 3> v{};
    for (std::size_t k = 0; k < 3; ++k) v[k] = static_cast<int32_t>(index.at(tr.nodes[k]));
    std::array<int32_t, 3> key = v;
    std::sort(key.begin(), key.end());
    const auto [it, fresh] = element_of_nodes.emplace(key, m.elem.size());
    if (!fresh) {
      const std::size_t first = it->second;
      if (entity_of_element[first] != tr.entity) {
        fail(mesh.file,
             "elements " + std::to_string(m.elem_tag[first]) + " and " + std::to_string(tr.tag) +
                 " join the same three nodes on two different surfaces");
      }
      element_of_tag.emplace(tr.tag, first);
      continue;
    }
    element_of_tag.emplace(tr.tag, m.elem.size());
    entity_of_element.push_back(tr.entity);
    m.elem.push_back(v);
    m.elem_tag.push_back(tr.tag);
  }
  const std::vector<Vec> unit = in_model_unit(m);
  check_coincident(m, unit, mesh.file);
  check_areas(m, unit, mesh.file);
  orient(m, unit, s.orient);

  m.parameters = s.parameters;
  if (s.maxminor) {
    m.parameters.maxminor = *s.maxminor;
  } else {
    m.parameters.maxminor =
        static_cast<int32_t>(solver::model_file::kMinorPerNode * static_cast<int64_t>(m.coord.size()));
  }
  m.young = s.young;
  m.poisson = s.poisson;
  m.density = s.density;

  const std::size_t nn = m.coord.size();
  m.fixed.assign(nn, {false, false, false});
  m.loaded.assign(nn, {false, false, false});
  m.load.assign(nn, {0.0, 0.0, 0.0});
  m.pressed.assign(m.elem.size(), false);
  m.pressure.assign(m.elem.size(), 0.0);

  // Which --fix holds each component, for the message on a load there.
  std::vector<std::array<const Fix*, 3>> held_by(nn, {nullptr, nullptr, nullptr});
  for (const Fix& f : s.fixes) {
    for (const std::size_t k : model_nodes(find_groups(mesh, f.group, f.option), index, f.option, f.group))
      for (std::size_t a = 0; a < 3; ++a)
        if (f.axes[a]) {
          m.fixed[k][a] = true;
          held_by[k][a] = &f;
        }
  }
  // Loads of several groups on one component add up.
  for (const Load& l : s.loads) {
    const auto a = static_cast<std::size_t>(l.axis);
    for (const std::size_t k : model_nodes(find_groups(mesh, l.group, l.option), index, l.option, l.group)) {
      if (m.fixed[k][a]) {
        fail(l.option,
             "node " + std::to_string(k + 1) + " (Gmsh node " + std::to_string(m.node_tag[k]) +
                 ") is also held along " + kAxisName[a] + " by " + held_by[k][a]->option +
                 "; a load on a held component would only go into its reaction");
      }
      m.loaded[k][a] = true;
      m.load[k][a] += l.value;
    }
  }
  // Pressures of several groups on one triangle add up.
  for (const Pressure& p : s.pressures) {
    const Group& g = surface_group(mesh, p.group, p.option);
    std::size_t count = 0, outside = 0;
    std::vector<char> hit(m.elem.size(), 0);  // once per element, whatever its copies
    for (const Triangle& tr : mesh.triangles) {
      if (std::find(g.entities.begin(), g.entities.end(), tr.entity) == g.entities.end()) continue;
      const auto it = element_of_tag.find(tr.tag);
      if (it == element_of_tag.end()) {
        ++outside;
        continue;
      }
      hit[it->second] = 1;
    }
    for (std::size_t e = 0; e < m.elem.size(); ++e) {
      if (!hit[e]) continue;
      m.pressed[e] = true;
      m.pressure[e] += p.value;
      ++count;
    }
    if (outside > 0) {
      fail(p.option,
           std::to_string(outside) + " triangles of group \"" + p.group +
               "\" are not part of the membrane; name the group with --surface too");
    }
    if (count == 0) fail(p.option, "group \"" + p.group + "\" holds no 3-node triangles");
  }
  // A triangle takes at most one prestress: two on one triangle would need
  // a rule for adding directions, which the model file does not have. It
  // bounds at most one chamber: the model file's enclosures do not overlap.
  m.prestresses = s.prestress;
  m.prestressed = assign_groups(mesh, element_of_tag, m, s.prestress, "prestress", "carries the prestress");
  m.chambers = s.chambers;
  m.ambient = s.ambient;
  m.chambered = assign_groups(mesh, element_of_tag, m, s.chambers, "chamber", "bounds the chamber");
  return m;
}

solver::model_file::Description describe(const Model& m) {
  solver::model_file::Description d;
  d.parameters = m.parameters;
  d.material = {m.young, m.poisson, m.density};
  d.nodes = m.coord;
  // The file numbers nodes and elements from 1.
  d.elements.reserve(m.elem.size());
  for (const auto& v : m.elem) d.elements.push_back({v[0] + 1, v[1] + 1, v[2] + 1});
  for (std::size_t k = 0; k < m.coord.size(); ++k) {
    const auto node = static_cast<int32_t>(k + 1);
    for (std::size_t a = 0; a < 3; ++a) {
      const auto axis = static_cast<int32_t>(a + 1);
      if (m.fixed[k][a]) d.constraints.push_back({node, axis, 0.0});
      if (m.loaded[k][a]) d.loads.push_back({node, axis, m.load[k][a]});
    }
  }
  for (std::size_t e = 0; e < m.elem.size(); ++e) {
    if (m.pressed[e]) d.pressures.push_back({static_cast<int32_t>(e + 1), m.pressure[e]});
  }
  // One record per run of consecutive triangles of one --prestress or
  // --chamber; chamber k + 1 for the k-th --chamber, filled to its gauge
  // pressure at the mesh's shape (reference volume 0), its volume measured
  // from the origin.
  runs_of(m.prestressed, [&](std::size_t k, int32_t first, int32_t last) {
    const Prestress& p = m.prestresses[k];
    d.extension.prestress.push_back({first, last, p.n1, p.n2, p.direction});
  });
  for (std::size_t k = 0; k < m.chambers.size(); ++k) {
    const ChamberOption& c = m.chambers[k];
    d.extension.chambers.push_back({static_cast<int32_t>(k + 1), c.kappa, m.ambient, c.gauge, 0.0, {0.0, 0.0, 0.0}});
  }
  runs_of(m.chambered, [&](std::size_t k, int32_t first, int32_t last) {
    d.extension.enclosures.push_back({first, last, static_cast<int32_t>(k + 1)});
  });
  return d;
}

void write_model(const Model& m, const std::string& file_name) { solver::model_file::write(describe(m), file_name); }

}  // namespace mesh
