#include "solver/fields.h"

#include <cmath>
#include <cstddef>

#include "energy/gas.h"
#include "model/model.h"
#include "solver/results.h"

namespace solver {

namespace {

using Vec = std::array<double, 3>;

double dot(const Vec& x, const Vec& y) { return (x[0] * y[0] + x[1] * y[1]) + x[2] * y[2]; }

Vec cross(const Vec& x, const Vec& y) {
  return {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]};
}

}  // namespace

// The stress tensor of an element is the sum of Nk dir(k) dir(k)^T (the
// report's principal stresses are its eigenvalues). In the plane's basis
// ea = dir(3), eb = n x ea its components are Saa, Sab, Sbb, and the
// eigenvector of the larger eigenvalue makes the angle
// theta = atan2(2 Sab, Saa - Sbb) / 2 with ea (Mohr's circle).
std::array<double, 3> principal_direction(const element& e, const std::array<double, 3>& n) {
  const Vec& ea = e.dir[2];
  Vec normal = cross(e.dir[2], e.dir[0]);
  const double length = std::sqrt(dot(normal, normal));
  for (double& c : normal) c /= length;
  const Vec eb = cross(normal, ea);
  double saa = 0.0, sab = 0.0, sbb = 0.0;
  for (std::size_t k = 0; k < 3; ++k) {
    const double a = dot(e.dir[k], ea);
    const double b = dot(e.dir[k], eb);
    saa += n[k] * a * a;
    sab += n[k] * a * b;
    sbb += n[k] * b * b;
  }
  const double theta = 0.5 * std::atan2(2.0 * sab, saa - sbb);
  const double c = std::cos(theta), s = std::sin(theta);
  return {c * ea[0] + s * eb[0], c * ea[1] + s * eb[1], c * ea[2] + s * eb[2]};
}

ResultFields fields(const analysis& a, const MaterialLaw& law) {
  const auto nn = static_cast<std::size_t>(a.nnode);
  const auto ne = static_cast<std::size_t>(a.nelem);
  ResultFields r;
  r.displacement.resize(nn);
  r.position.resize(nn);
  // The residual forces as the report sums them: the applied loads with
  // their sign turned, then every element's internal forces in element
  // order.
  std::vector<Vec> residual(nn);
  for (int p = 1; p <= a.nnode; ++p) {
    const auto k = static_cast<std::size_t>(p - 1);
    for (int j = 1; j <= 3; ++j) {
      const int d = a.dof(p, j);
      r.displacement[k][static_cast<std::size_t>(j - 1)] = d <= a.nfree ? a.u(d) : a.displ(p, j);
      residual[k][static_cast<std::size_t>(j - 1)] = -a.force(p, j);
    }
    r.position[k] = vertex(a, p);
  }
  // The gas of the chambers loads the membrane too.
  const GasChambers gas(a);
  if (!gas.empty()) {
    terms::RealTable loads(a.nnode, 0.0);
    gas.add_loads(a.u, 1.0, loads);
    for (int p = 1; p <= a.nnode; ++p) {
      for (int j = 1; j <= 3; ++j)
        residual[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(j - 1)] -= loads(p, j);
    }
    for (const ChamberState& c : gas.states(a.u)) r.chamber.push_back({c.volume, c.pressure});
  }
  r.stress.resize(ne);
  r.direction.resize(ne);
  std::array<double, 9> grad{};
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    const ElementState st = law.cstobj(a, el, a.u, grad);
    const PrincipalStresses ps = principal(el, st.n1, st.n2, st.n3);
    const auto i = static_cast<std::size_t>(e - 1);
    r.stress[i] = {ps.s1, ps.s2};
    r.direction[i] = principal_direction(el, {st.n1, st.n2, st.n3});
    for (std::size_t v = 0; v < 3; ++v) {
      Vec& node = residual[static_cast<std::size_t>(el.node[v] - 1)];
      for (std::size_t j = 0; j < 3; ++j) node[j] += grad[3 * v + j];
    }
  }
  r.reaction.assign(nn, {0.0, 0.0, 0.0});
  for (int p = 1; p <= a.nnode; ++p) {
    const auto k = static_cast<std::size_t>(p - 1);
    for (std::size_t j = 0; j < 3; ++j) {
      const bool held = a.dof(p, static_cast<int>(j) + 1) > a.nfree;
      if (held && std::fabs(residual[k][j]) > a.residue) r.reaction[k][j] = residual[k][j];
    }
  }
  return r;
}

}  // namespace solver
