#include "energy/gas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "energy/tangent.h"
#include "platform/failure.h"

namespace solver {

namespace {

std::string image(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.6g", v);
  return s;
}

void cross(const double (&a)[3], const double (&b)[3], double (&c)[3]) {
  c[0] = a[1] * b[2] - a[2] * b[1];
  c[1] = a[2] * b[0] - a[0] * b[2];
  c[2] = a[0] * b[1] - a[1] * b[0];
}

// The entry of (i, j), i <= j, in the upper triangle of a 9 x 9 matrix
// stored row by row.
constexpr int upper(int i, int j) { return i * 9 - i * (i - 1) / 2 + (j - i); }

// The three vertices of element e (0-based) at x (the reference shape for
// null), less the point o.
void corners(const analysis& a, const terms::Vector* x, int e, const std::array<double, 3>& o, double (&p)[3][3]) {
  const element& el = a.elem(e + 1);
  for (int v = 0; v < 3; ++v) {
    const int k = el.node[static_cast<std::size_t>(v)];
    const double c[3] = {a.coordx(k), a.coordy(k), a.coordz(k)};
    for (int j = 0; j < 3; ++j) {
      double u = 0.0;
      if (x != nullptr) {
        const int d = a.dof(k, j + 1);
        u = d <= a.nfree ? (*x)(d) : a.displ(k, j + 1);
      }
      p[v][j] = (c[j] + u) - o[static_cast<std::size_t>(j)];
    }
  }
}

// Six times the signed volume of the tetrahedron from o to the element.
double six_volume(const double (&p)[3][3]) {
  double n[3];
  cross(p[1], p[2], n);
  return p[0][0] * n[0] + p[0][1] * n[1] + p[0][2] * n[2];
}

// scale times the gradient of that volume, dV/dP_a = (P_b x P_c) / 6 for
// the vertices a, b = a + 1, c = a + 2 (cyclic), added into g (0-based) at
// element e's free components.
void add_volume_gradient(const analysis& a, int e, const double (&p)[3][3], double scale, double* g) {
  const element& el = a.elem(e + 1);
  for (int v = 0; v < 3; ++v) {
    double n[3];
    cross(p[(v + 1) % 3], p[(v + 2) % 3], n);
    const int k = el.node[static_cast<std::size_t>(v)];
    for (int j = 0; j < 3; ++j) {
      const int d = a.dof(k, j + 1);
      if (d <= a.nfree) g[d - 1] += scale * (n[j] / 6.0);
    }
  }
}

// scale times the second derivative of that volume, added into values at
// the element's positions pos (kTangentEntries, -1 for a prescribed
// component): dV/dP_a changes with P_b by -[P_c]x / 6; the diagonal blocks
// are zero.
void add_volume_hessian(const double (&p)[3][3], double scale, const int* pos, std::span<double> values) {
  for (int va = 0; va < 3; ++va) {
    const int vb = (va + 1) % 3;
    const double* q = p[(va + 2) % 3];
    // -[q]x / 6: row i, column j.
    const double m[3][3] = {{0.0, q[2], -q[1]}, {-q[2], 0.0, q[0]}, {q[1], -q[0], 0.0}};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        int r = 3 * va + i;
        int col = 3 * vb + j;
        if (r > col) std::swap(r, col);  // the block's transpose lies above the diagonal there
        const int at = pos[upper(r, col)];
        if (at >= 0) values[static_cast<std::size_t>(at)] += scale * (m[i][j] / 6.0);
      }
    }
  }
}

// The reference nodes' centroid.
std::array<double, 3> centroid(const analysis& a) {
  std::array<double, 3> c{};
  for (int k = 1; k <= a.nnode; ++k) {
    c[0] += a.coordx(k);
    c[1] += a.coordy(k);
    c[2] += a.coordz(k);
  }
  for (double& v : c) v /= a.nnode;
  return c;
}

}  // namespace

std::string GasChambers::named(const Gas& c) const {
  return (a_.file.empty() ? std::string() : a_.file + ": ") + "chamber " + std::to_string(c.number);
}

GasChambers::GasChambers(const analysis& a) : a_(a) {
  const Extension& x = a.extension;
  // Chamber records may come in any order; the gas is kept by number.
  chambers_.resize(x.chambers.size());
  for (const Chamber& c : x.chambers) {
    Gas& gas = chambers_[static_cast<std::size_t>(c.number - 1)];
    gas.number = c.number;
    gas.kappa = c.kappa;
    gas.ambient = c.ambient;
    gas.p0 = c.gauge + c.ambient;
    gas.origin = c.origin;
    gas.v0 = c.volume;  // 0: the volume at the reference shape, below
  }
  for (const Enclosure& r : x.enclosures) {
    std::vector<int>& list = chambers_[static_cast<std::size_t>(r.chamber - 1)].elements;
    for (int e = r.first; e <= r.last; ++e) list.push_back(e - 1);
  }
  for (Gas& gas : chambers_) {
    std::sort(gas.elements.begin(), gas.elements.end());
    const double reference = volume(nullptr, gas);  // no displacements: the reference shape
    const double given = gas.v0;
    // A flat chamber (zero volume, up to rounding) needs its reference
    // volume given.
    if (!(given > 0.0 ? reference >= -1e-9 * given : reference > 0.0) || !std::isfinite(reference)) {
      throw platform::DataError(
          named(gas) + " encloses a volume of " + image(reference) + " at the reference shape; expected " +
          (given > 0.0 ? "none or a positive one" : "a positive one") +
          ": the normals (P2 - P1) x (P3 - P1) of its elements point out of the gas, its closing planes pass "
          "through its origin, and a chamber that is flat there is given its reference volume");
    }
    gas.v0 = given > 0.0 ? given : reference;
    gas.floor = 0.5 * gas.v0;
  }
}

double GasChambers::volume(const terms::Vector* x, const Gas& c) const {
  double sum = 0.0;
  for (const int e : c.elements) {
    double p[3][3];
    corners(a_, x, e, c.origin, p);
    sum += six_volume(p);
  }
  return sum / 6.0;
}

double GasChambers::pressure(const Gas& c, double v) {
  return c.kappa == 1.0 ? c.p0 * (c.v0 / v) : c.p0 * std::pow(c.v0 / v, c.kappa);
}

GasChambers::Potential GasChambers::potential(const Gas& c, double v) {
  const double at = std::max(v, c.floor);
  const double p = pressure(c, at);
  const double work = c.kappa == 1.0 ? c.p0 * c.v0 * std::log(at / c.v0)
                                     : c.p0 * c.v0 * (std::pow(c.v0 / at, c.kappa - 1.0) - 1.0) / (1.0 - c.kappa);
  Potential u;
  u.gauge = p - c.ambient;
  u.energy = c.ambient * (at - c.v0) - work;
  if (v >= c.floor) {
    u.curvature = c.kappa * p / v;
  } else {
    u.energy = u.energy - u.gauge * (v - at);
  }
  return u;
}

bool GasChambers::lower_floors(const terms::Vector& x) {
  bool moved = false;
  for (Gas& c : chambers_) {
    const double v = volume(&x, c);
    if (v >= c.floor) continue;
    const double floor = v > 0.0 ? 0.5 * v : 0.125 * c.floor;
    if (!(floor >= 1e-12 * c.v0)) {
      throw platform::DataError(named(c) + " encloses a volume of " + image(v) + " (reference volume " + image(c.v0) +
                                "): its elements have collapsed onto its closing planes or turned through "
                                "them, and no pressure of its gas holds them; no results written");
    }
    c.floor = floor;
    moved = true;
  }
  return moved;
}

void GasChambers::check(const terms::Vector& x) const {
  for (const Gas& c : chambers_) {
    const double v = volume(&x, c);
    if (!(v >= c.floor)) {
      throw platform::DataError(named(c) + " encloses a volume of " + image(v) + " (reference volume " + image(c.v0) +
                                ") when the major iterations end: that state is not one of its gas, whose "
                                "pressure below the volume " +
                                image(c.floor) +
                                " is held; allow more major iterations (maxmajor); no results written");
    }
  }
}

void GasChambers::volume_gradient(const terms::Vector& x, const Gas& c, std::vector<double>& dv) const {
  dv.assign(static_cast<std::size_t>(a_.nfree), 0.0);
  for (const int e : c.elements) {
    double p[3][3];
    corners(a_, &x, e, c.origin, p);
    add_volume_gradient(a_, e, p, 1.0, dv.data());
  }
}

double GasChambers::add(double f, const terms::Vector& x, terms::Vector& g) const {
  for (const Gas& c : chambers_) {
    const Potential u = potential(c, volume(&x, c));
    f = f + u.energy;
    for (const int e : c.elements) {
      double p[3][3];
      corners(a_, &x, e, c.origin, p);
      add_volume_gradient(a_, e, p, -u.gauge, g.data());
    }
  }
  return f;
}

std::vector<ChamberState> GasChambers::states(const terms::Vector& x) const {
  std::vector<ChamberState> s;
  for (const Gas& c : chambers_) {
    const double v = volume(&x, c);
    if (!(v > 0.0)) {
      throw platform::DataError(named(c) + " encloses a volume of " + image(v) + " (reference volume " + image(c.v0) +
                                "): its gas has no state there");
    }
    s.push_back({v, pressure(c, v)});
  }
  return s;
}

void GasChambers::add_tangent(const terms::Vector& x, std::span<const int> position, std::span<double> values) const {
  for (const Gas& c : chambers_) {
    const double scale = -potential(c, volume(&x, c)).gauge;
    for (const int e : c.elements) {
      double p[3][3];
      corners(a_, &x, e, c.origin, p);
      add_volume_hessian(p, scale, position.data() + static_cast<std::size_t>(e) * kTangentEntries, values);
    }
  }
}

void GasChambers::add_loads(const terms::Vector& x, double factor, terms::RealTable& force) const {
  for (const Gas& c : chambers_) {
    const double gauge = factor * potential(c, volume(&x, c)).gauge;
    for (const int e : c.elements) {
      // The pressure on the element, a third at each vertex, as a pressure
      // record's: (P2 - P1) x (P3 - P1) gauge / 6. At a free component the
      // nodes' sums are the volume's gradient, but at a component held
      // across a closing plane that gradient lacks the push on the plane's
      // face, which the support takes.
      double p[3][3];
      corners(a_, &x, e, c.origin, p);
      double a[3], b[3], n[3];
      for (int j = 0; j < 3; ++j) {
        a[j] = p[1][j] - p[0][j];
        b[j] = p[2][j] - p[0][j];
      }
      cross(a, b, n);
      const element& el = a_.elem(e + 1);
      for (int v = 0; v < 3; ++v) {
        const int k = el.node[static_cast<std::size_t>(v)];
        for (int j = 0; j < 3; ++j) force(k, j + 1) = force(k, j + 1) + gauge * (n[j] / 6.0);
      }
    }
  }
}

std::vector<RankOne> GasChambers::rank_one(const terms::Vector& x) const {
  std::vector<RankOne> terms;
  for (const Gas& c : chambers_) {
    RankOne t;
    t.weight = potential(c, volume(&x, c)).curvature;
    if (t.weight == 0.0) continue;  // below the floor the potential is linear in the volume
    volume_gradient(x, c, t.v);
    terms.push_back(std::move(t));
  }
  return terms;
}

std::optional<std::array<double, 3>> PressurePotential::origin_of(const analysis& a) {
  // Each side: the pressure of its first element, whether all its
  // elements carry that one, and how many there are.
  struct Side {
    double pressure = 0.0;
    bool same = true;
    bool pressed = false;
    int elements = 0;
  };
  std::map<std::pair<int, int>, Side> sides;
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    for (std::size_t k = 0; k < 3; ++k) {
      const int i = el.node[k];
      const int j = el.node[(k + 1) % 3];
      Side& s = sides[{std::min(i, j), std::max(i, j)}];
      if (s.elements == 0) s.pressure = el.pressure;
      s.same = s.same && s.pressure == el.pressure;
      s.pressed = s.pressed || el.pressure != 0.0;
      ++s.elements;
    }
  }
  const auto held = [&a](int k, int axis) { return a.dof(k, axis) > a.nfree; };
  const auto at = [&a](int k, int axis) {
    const double c = axis == 1 ? a.coordx(k) : axis == 2 ? a.coordy(k) : a.coordz(k);
    return c + a.displ(k, axis);  // a held component's fixed coordinate
  };
  // The sides across which the pressure changes and whose nodes are not
  // held on every axis: each must lie in a plane x_axis = c across which
  // both nodes are held; the side's term is then normal to that plane,
  // on held components only, once o lies on it too.
  using Planes = std::array<std::optional<double>, 3>;
  std::vector<Planes> open;
  bool pressed = false;
  for (const auto& [nodes, s] : sides) {
    pressed = pressed || s.pressed;
    if (!s.pressed || (s.elements == 2 && s.same)) continue;
    const auto [i, j] = nodes;
    if (held(i, 1) && held(i, 2) && held(i, 3) && held(j, 1) && held(j, 2) && held(j, 3)) continue;
    Planes planes;
    bool any = false;
    for (int axis = 1; axis <= 3; ++axis) {
      if (held(i, axis) && held(j, axis) && at(i, axis) == at(j, axis)) {
        planes[static_cast<std::size_t>(axis - 1)] = at(i, axis);
        any = true;
      }
    }
    if (!any) return std::nullopt;
    open.push_back(planes);
  }
  if (!pressed) return std::nullopt;
  // o: on the first such plane of each axis, elsewhere the reference
  // nodes' centroid, which keeps the volumes small beside the sheet.
  std::array<double, 3> o = centroid(a);
  for (std::size_t axis = 0; axis < 3; ++axis) {
    for (const Planes& planes : open) {
      if (planes[axis]) {
        o[axis] = *planes[axis];
        break;
      }
    }
  }
  for (const Planes& planes : open) {
    bool on = false;
    for (std::size_t axis = 0; axis < 3; ++axis) on = on || (planes[axis] && *planes[axis] == o[axis]);
    if (!on) return std::nullopt;
  }
  return o;
}

bool PressurePotential::applies(const analysis& a) { return origin_of(a).has_value(); }

PressurePotential::PressurePotential(const analysis& a, bool on) : a_(a) {
  if (!on) return;
  // Without a potential (a test's model) the sum is still one, element by
  // element, from the centroid; it is then not the pressure's work.
  origin_ = origin_of(a).value_or(centroid(a));
  reference_.assign(static_cast<std::size_t>(a.nelem), 0.0);
  for (int e = 0; e < a.nelem; ++e) {
    if (a.elem(e + 1).pressure == 0.0) continue;
    double p[3][3];
    corners(a, nullptr, e, origin_, p);
    elements_.push_back(e);
    reference_[static_cast<std::size_t>(e)] = six_volume(p);
  }
}

void PressurePotential::element_corners(int e, const double (&delta)[9], double (&p)[3][3]) const {
  const element& el = a_.elem(e + 1);
  for (std::size_t v = 0; v < 3; ++v) {
    const int k = el.node[v];
    const double c[3] = {a_.coordx(k), a_.coordy(k), a_.coordz(k)};
    for (std::size_t j = 0; j < 3; ++j) p[v][j] = (c[j] + delta[3 * v + j]) - origin_[j];
  }
}

double PressurePotential::element_part(int e, const double (&delta)[9], double (&grad)[9]) const {
  for (double& v : grad) v = 0.0;
  const double pressure = a_.elem(e + 1).pressure;
  if (pressure == 0.0) return 0.0;
  double p[3][3];
  element_corners(e, delta, p);
  for (int v = 0; v < 3; ++v) {
    double n[3];
    cross(p[(v + 1) % 3], p[(v + 2) % 3], n);
    for (int j = 0; j < 3; ++j) grad[3 * v + j] = -pressure * (n[j] / 6.0);
  }
  return -(pressure * ((six_volume(p) - reference_[static_cast<std::size_t>(e)]) / 6.0));
}

void PressurePotential::element_hessian(int e, const double (&delta)[9], double (&h)[81]) const {
  for (double& v : h) v = 0.0;
  const double pressure = a_.elem(e + 1).pressure;
  if (pressure == 0.0) return;
  double p[3][3];
  element_corners(e, delta, p);
  // Every upper entry r * 9 + c of the 9 x 9 block, then its mirror.
  int pos[kTangentEntries];
  for (int r = 0, k = 0; r < 9; ++r) {
    for (int c = r; c < 9; ++c) pos[k++] = r * 9 + c;
  }
  add_volume_hessian(p, -pressure, pos, std::span<double>(h, 81));
  for (int r = 0; r < 9; ++r) {
    for (int c = 0; c < r; ++c) h[r * 9 + c] = h[c * 9 + r];
  }
}

double PressurePotential::add(double f, const terms::Vector& x, terms::Vector& g) const {
  double work = 0.0;
  for (const int e : elements_) {
    const double pressure = a_.elem(e + 1).pressure;
    double p[3][3];
    corners(a_, &x, e, origin_, p);
    work += pressure * ((six_volume(p) - reference_[static_cast<std::size_t>(e)]) / 6.0);
    add_volume_gradient(a_, e, p, -pressure, g.data());
  }
  return f - work;
}

void PressurePotential::add_tangent(const terms::Vector& x,
                                    std::span<const int> position,
                                    std::span<double> values) const {
  for (const int e : elements_) {
    element_tangent(x, e, position.data() + static_cast<std::size_t>(e) * kTangentEntries, values);
  }
}

void PressurePotential::element_tangent(const terms::Vector& x, int e, const int* pos, std::span<double> values) const {
  double p[3][3];
  corners(a_, &x, e, origin_, p);
  add_volume_hessian(p, -a_.elem(e + 1).pressure, pos, values);
}

}  // namespace solver
