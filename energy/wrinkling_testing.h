#pragma once
// Test helpers of wrinkling: one irregular triangle strained homogeneously
// to given principal strains and turned in space, so that each state of
// the relaxed energy and each boundary between them can be reached, and the
// element results of either law with or without the relaxation.

#include <cmath>
#include <string>

#include "energy/kernel.h"
#include "energy/strain.h"
#include "energy/wrinkling.h"
#include "model/model.h"
#include "model/model_testing.h"

namespace solver::testing {

enum class StrainLaw { green, engineering };

inline std::string law_name(StrainLaw law) { return law == StrainLaw::green ? "green" : "engineering"; }

// The triangle (0, 0), (1.2, 0.1), (0.3, 0.9) in the plane z = 0, young
// 1000, poisson 0.3, wrinkling on, set up.
inline analysis wrinkling_triangle() {
  analysis a = make_model({{0.0, 0.0, 0.0}, {1.2, 0.1, 0.0}, {0.3, 0.9, 0.0}}, {{1, 2, 3}}, 1000.0, 0.3);
  a.wrinkling = true;
  start(a);
  return a;
}

// The displacements of the triangle's vertices (vertex 1 X, Y, Z, ...) for
// the stretch with principal Green strains e1 and e2 along the angle theta
// and -theta + pi/2 of the plane, then a rotation by 0.7 about the axis
// (1, 2, 3): the Green strain tensor of the deformation is exactly
// diag(e1, e2) in those axes.
inline void homogeneous_delta(const analysis& a, double e1, double e2, double theta, double (&delta)[9]) {
  const double l1 = std::sqrt(1.0 + 2.0 * e1);
  const double l2 = std::sqrt(1.0 + 2.0 * e2);
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  // U = l1 n n^T + l2 m m^T, n = (c, s), m = (-s, c).
  const double u[2][2] = {{l1 * c * c + l2 * s * s, (l1 - l2) * c * s}, {(l1 - l2) * c * s, l1 * s * s + l2 * c * c}};
  double n[3] = {1.0, 2.0, 3.0};
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (double& v : n) v /= len;
  const double ct = std::cos(0.7);
  const double st = std::sin(0.7);
  double r[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r[i][j] = (i == j ? ct : 0.0) + (1.0 - ct) * n[i] * n[j];
  }
  r[0][1] -= st * n[2];
  r[0][2] += st * n[1];
  r[1][0] += st * n[2];
  r[1][2] -= st * n[0];
  r[2][0] -= st * n[1];
  r[2][1] += st * n[0];
  for (int v = 0; v < 3; ++v) {
    const int k = a.elem(1).node[static_cast<std::size_t>(v)];
    const double x = a.coordx(k);
    const double y = a.coordy(k);
    const double p[3] = {u[0][0] * x + u[0][1] * y, u[1][0] * x + u[1][1] * y, 0.0};
    const double reference[3] = {x, y, a.coordz(k)};
    for (int i = 0; i < 3; ++i) {
      delta[3 * v + i] = (r[i][0] * p[0] + r[i][1] * p[1] + r[i][2] * p[2]) - reference[i];
    }
  }
}

// The element results of the law at delta, relaxed when w is not null.
inline kernel::ElementResult<double> element_result(StrainLaw law,
                                                    const element& el,
                                                    const double (&delta)[9],
                                                    const Wrinkling* w) {
  kernel::ElementResult<double> res{};
  if (law == StrainLaw::green) {
    if (w != nullptr) {
      kernel::evaluate<GreenStrain>(el, delta, res, kernel::NoPrestress{}, *w);
    } else {
      kernel::evaluate<GreenStrain>(el, delta, res);
    }
  } else {
    if (w != nullptr) {
      kernel::evaluate<EngineeringStrain>(el, delta, res, kernel::NoPrestress{}, *w);
    } else {
      kernel::evaluate<EngineeringStrain>(el, delta, res);
    }
  }
  return res;
}

// A point of the strain plane at which to check the relaxation: fixed
// principal strains, or a point at `offset` from the boundary between two
// states along one of the two paths below (the boundary found by bisection
// on the kernel's own state, so that it is the law's boundary):
//   taut-wrinkled: e1 = 0.01, e2 = t in [-0.01, 0.005];
//   wrinkled-slack: e2 = -0.01, e1 = t in [-0.004, 0.004].
struct StrainPoint {
  const char* name;
  enum Path { fixed, taut_wrinkled, wrinkled_slack } path;
  double e1, e2;  // fixed: the principal strains
  double offset;  // along a path: from the boundary, towards larger t
};
inline constexpr double kPointAngle = 0.3;  // the first principal direction's angle

inline constexpr StrainPoint kStrainPoints[] = {
    {"taut", StrainPoint::fixed, 0.012, 0.004, 0.0},
    {"wrinkled", StrainPoint::fixed, 0.012, -0.009, 0.0},
    {"slack", StrainPoint::fixed, -0.003, -0.008, 0.0},
    {"wrinkled_near_taut", StrainPoint::taut_wrinkled, 0.0, 0.0, -1e-5},
    {"taut_near_wrinkled", StrainPoint::taut_wrinkled, 0.0, 0.0, 1e-5},
    {"slack_near_wrinkled", StrainPoint::wrinkled_slack, 0.0, 0.0, -1e-5},
    {"wrinkled_near_slack", StrainPoint::wrinkled_slack, 0.0, 0.0, 1e-5},
};

// The principal strains of path `path` at t.
inline void path_strains(StrainPoint::Path path, double t, double& e1, double& e2) {
  if (path == StrainPoint::taut_wrinkled) {
    e1 = 0.01;
    e2 = t;
  } else {
    e1 = t;
    e2 = -0.01;
  }
}

// The parameter t of the boundary between the states along a path, to the
// last bits: bisection on the state the kernel gives.
inline double boundary_of(StrainLaw law, const analysis& a, const Wrinkling& w, StrainPoint::Path path) {
  double lo = path == StrainPoint::taut_wrinkled ? -0.01 : -0.004;
  double hi = path == StrainPoint::taut_wrinkled ? 0.005 : 0.004;
  auto state = [&](double t) {
    double e1 = 0.0;
    double e2 = 0.0;
    path_strains(path, t, e1, e2);
    double delta[9];
    homogeneous_delta(a, e1, e2, kPointAngle, delta);
    return element_result(law, a.elem(1), delta, &w).state;
  };
  const double at_lo = state(lo);
  for (int i = 0; i < 200 && lo < hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    (state(mid) == at_lo ? lo : hi) = mid;
  }
  return hi;
}

// The displacements of a point.
inline void point_delta(
    StrainLaw law, const analysis& a, const Wrinkling& w, const StrainPoint& p, double (&delta)[9]) {
  double e1 = p.e1;
  double e2 = p.e2;
  if (p.path != StrainPoint::fixed) path_strains(p.path, boundary_of(law, a, w, p.path) + p.offset, e1, e2);
  homogeneous_delta(a, e1, e2, kPointAngle, delta);
}

// The state a point lies in (its name says it).
inline MembraneState point_state(const StrainPoint& p) {
  const std::string name = p.name;
  if (name.rfind("taut", 0) == 0) return MembraneState::taut;
  if (name.rfind("wrinkled", 0) == 0) return MembraneState::wrinkled;
  return MembraneState::slack;
}

}  // namespace solver::testing
