#include "viewer/wrinkles.h"

#include <cmath>
#include <cstddef>

namespace viewer {

namespace {

using Vec = std::array<double, 3>;

Vec minus(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec& a, const Vec& b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }

}  // namespace

int state_of(double stress1, double stress2) {
  if (stress2 != 0.0) return kTaut;
  return stress1 == 0.0 ? kSlack : kWrinkled;
}

std::array<double, 3> tension_line(const std::array<std::array<double, 3>, 3>& p,
                                   const std::array<std::array<double, 3>, 3>& q) {
  const Vec g1 = minus(p[1], p[0]);
  const Vec g2 = minus(p[2], p[0]);
  const Vec f1 = minus(q[1], q[0]);
  const Vec f2 = minus(q[2], q[0]);
  const double g[2][2] = {{dot(g1, g1), dot(g1, g2)}, {dot(g1, g2), dot(g2, g2)}};
  const double h[2][2] = {{dot(f1, f1), dot(f1, f2)}, {dot(f1, f2), dot(f2, f2)}};
  const double det = g[0][0] * g[1][1] - g[0][1] * g[1][0];
  if (!(det > 0.0)) return {0.0, 0.0, 0.0};
  // M = G^-1 H; its eigenvalues, the squared principal stretches, are real.
  const double m00 = (g[1][1] * h[0][0] - g[0][1] * h[1][0]) / det;
  const double m01 = (g[1][1] * h[0][1] - g[0][1] * h[1][1]) / det;
  const double m10 = (g[0][0] * h[1][0] - g[1][0] * h[0][0]) / det;
  const double m11 = (g[0][0] * h[1][1] - g[1][0] * h[0][1]) / det;
  const double half_trace = 0.5 * (m00 + m11);
  const double disc = half_trace * half_trace - (m00 * m11 - m01 * m10);
  const double lambda = half_trace + std::sqrt(disc > 0.0 ? disc : 0.0);
  // (M - lambda I) v = 0 from the row that says more.
  double v1 = m01;
  double v2 = lambda - m00;
  if (std::hypot(lambda - m11, m10) > std::hypot(v1, v2)) {
    v1 = lambda - m11;
    v2 = m10;
  }
  Vec w = {v1 * f1[0] + v2 * f2[0], v1 * f1[1] + v2 * f2[1], v1 * f1[2] + v2 * f2[2]};
  const double len = std::sqrt(dot(w, w));
  if (!(len > 0.0) || !std::isfinite(len)) return {0.0, 0.0, 0.0};
  for (double& c : w) c /= len;
  // One of the two senses, the same for neighbours: X, else Y, else Z up.
  const double sense = w[0] != 0.0 ? w[0] : (w[1] != 0.0 ? w[1] : w[2]);
  if (sense < 0.0) {
    for (double& c : w) c = -c;
  }
  return w;
}

Wrinkles wrinkles_of(const Mesh& mesh, const Report& report) {
  Wrinkles w;
  const std::size_t nelem = mesh.tri.size();
  w.state.resize(nelem);
  w.direction.assign(nelem, {0.0, 0.0, 0.0});
  for (std::size_t e = 0; e < nelem; ++e) {
    w.state[e] = state_of(report.stress1[e], report.stress2[e]);
    if (w.state[e] != kWrinkled) continue;
    std::array<Vec, 3> p{};
    std::array<Vec, 3> q{};
    for (std::size_t v = 0; v < 3; ++v) {
      const auto k = static_cast<std::size_t>(mesh.tri[e][v]);
      p[v] = mesh.node[k];
      q[v] = report.position[k];
    }
    w.direction[e] = tension_line(p, q);
  }
  return w;
}

}  // namespace viewer
