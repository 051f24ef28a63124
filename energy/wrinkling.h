#pragma once
// Wrinkling: the tension-field membrane, which carries no compression. An
// element's strain energy is replaced by its relaxed energy (tension-field
// theory), written in the principal stresses S1 >= S2 of the elastic
// stress the element's side strains give (docs/report.md says what the
// states mean to a user):
//   taut      S2 >= 0:             the energy of the law, W = N . e / 2;
//   slack     S1 - nu S2 <= 0:     W = 0 (the larger principal strain E1 =
//                                  (S1 - nu S2) / Et is not positive);
//   wrinkled  otherwise:           W = (S1 - nu S2)^2 / (2 Et), uniaxial
//                                  tension Et E1 along the larger principal
//                                  direction (the tension line).
// Et is young, nu poisson. For an isotropic law the stress is coaxial with
// the strain, so the state follows from the strains alone: no state is
// remembered between evaluations, and the line search's energy is exact.
// The relaxed energy is convex in the strain and continuously
// differentiable across both boundaries: at S2 = 0 the wrinkled energy is
// S1^2 / (2 Et) = N . e / 2, and at S1 = nu S2 it is 0.
//
// The energy gradient keeps its form A sum_k N_k B_k (B_k the strain rows):
// only the side stresses change. With T = N1 + N2 + N3 and Q = (S1 - S2)^2
// (the principal stresses as solver/output.cpp forms them) the side
// stresses of the wrinkled state are
//   N_w = c (N - S2 N_I),   c = (S1 - nu S2) / (S1 - S2),
// N_I being the side stresses of the identity tensor, (1 - nu) / Et K
// (1, 1, 1)^T: the relaxed stress (S1 - nu S2) n1 n1^T equals c (S - S2 I)
// with S the elastic stress. There S2 < 0 < S1 - nu S2, so S1 - S2 >
// (1 - nu) |S2| > 0 and 0 < c <= 1.
//
// The same construction serves both laws: it acts on the side stresses,
// whatever side strain made them. With a prestress (side stresses N0 added
// to K e), the relaxation acts on the total side stresses, and the energy
// of the non-taut states needs the constant -(1/2) e0 . K e0 (e0 = K^-1 N0)
// to stay continuous.

#include <cstddef>
#include <optional>
#include <string>

#include "energy/lanes.h"
#include "model/analysis.h"
#include "platform/failure.h"

namespace solver {

// The states of a tension-field element, as ElementState::state and the
// report's readers number them.
enum class MembraneState { taut = 0, wrinkled = 1, slack = 2 };

// The material constants of the relaxation, one set per model.
struct Wrinkling {
  double poisson = 0.0;          // nu
  double identity = 0.0;         // (1 - nu) / Et: N_I = identity * K (1, 1, 1)^T
  double half_compliance = 0.0;  // 1 / (2 Et): W = (S1 - nu S2)^2 * half_compliance
  // The share of its taut material stiffness that a wrinkled or slack
  // element keeps in the tangent (energy/tangent.h says why); the energy
  // and its gradient never see it.
  double residual = kResidual;
  static constexpr double kResidual = 1e-6;
  // The isotropic tension, in units of Et / (1 - nu) (the stress of an
  // isotropic strain of 1), whose side forces such an element also keeps in
  // the tangent, so that it is stiff out of its plane too (energy/tangent.h).
  double residual_tension = kResidualTension;
  static constexpr double kResidualTension = 3e-5;
};

// The relaxation's constants of the model a, or none when a.wrinkling is
// off. It needs young > 0 and -1 < poisson < 1 (both boundaries of the
// wrinkled state and its c in (0, 1] rest on them): DataError otherwise.
inline std::optional<Wrinkling> wrinkling_of(const analysis& a) {
  if (!a.wrinkling) return std::nullopt;
  if (!(a.young > 0.0) || !(a.poisson > -1.0 && a.poisson < 1.0)) {
    throw platform::DataError(
        "input.txt: wrinkling needs young > 0 and poisson between -1 and 1 (exclusive), found young " +
        std::to_string(a.young) + " and poisson " + std::to_string(a.poisson));
  }
  Wrinkling w;
  w.poisson = a.poisson;
  w.identity = (1.0 - a.poisson) / a.young;
  w.half_compliance = 0.5 / a.young;
  return w;
}

// The loops of a model without wrinkling take this in place of Wrinkling:
// their arithmetic is that of a model that never had it.
struct NoWrinkling {};

namespace kernel {

// The quantities of the relaxation of one element (T = double) or of one per
// lane: the principal stresses of the side stresses n and what the wrinkled
// state's side stresses and tangent are made of.
template <class T>
struct Principal {
  T h[3];  // c_k^2 - 1/2: Q = n . G n with G = [1 2h3 2h2; 2h3 1 2h1; 2h2 2h1 1]
  T root;  // sqrt(Q) = S1 - S2
  T s1, s2;
  T p;  // S1 - nu S2 = Et E1
};

// c_k^2 - 1/2, c_k = -dir(k+1) . dir(k+2) the cosine at vertex k, from the
// reference side directions in the order of model/geometry.h's dot (only
// the square of the cosine is used, so its sign does not matter).
template <class T, class Ref>
[[gnu::always_inline]] inline T cosine_term(const Ref& r, std::size_t v) {
  const auto& p = r.dir[(v + 1) % 3];
  const auto& q = r.dir[(v + 2) % 3];
  const T c = (p[0] * q[0] + p[1] * q[1]) + p[2] * q[2];
  return c * c - 0.5;
}

// The principal stresses of the side stresses n1, n2, n3 by the report's
// formula (solver/output.cpp principal): T = n1 + n2 + n3 and Q the square
// of their difference; a Q that rounding left below zero is zero.
template <class T, class Ref>
[[gnu::always_inline]] inline Principal<T> principal_of(
    const Ref& r, const Wrinkling& w, const T& n1, const T& n2, const T& n3) {
  Principal<T> s;
  for (std::size_t v = 0; v < 3; ++v) s.h[v] = cosine_term<T>(r, v);
  const T zero{};
  const T t = (n1 + n2) + n3;
  T q = ((n1 * n1 + n2 * n2) + n3 * n3) + 4.0 * (((n1 * n2) * s.h[2] + (n1 * n3) * s.h[1]) + (n2 * n3) * s.h[0]);
  q = q < zero ? zero : q;
  s.root = root(q);
  s.s1 = 0.5 * (t + s.root);
  s.s2 = 0.5 * (t - s.root);
  s.p = s.s1 - w.poisson * s.s2;
  return s;
}

// The side stresses of the identity tensor, (1 - nu) / Et K (1, 1, 1)^T,
// from the upper triangle of the stiffness (the kernel reads no other).
template <class T, class Stiffness>
[[gnu::always_inline]] inline void identity_stresses(const Stiffness& k, const Wrinkling& w, T (&ni)[3]) {
  ni[0] = w.identity * ((k[0][0] + k[0][1]) + k[0][2]);
  ni[1] = w.identity * ((k[0][1] + k[1][1]) + k[1][2]);
  ni[2] = w.identity * ((k[0][2] + k[1][2]) + k[2][2]);
}

// The relaxation of one element (T = double) or of one per lane, called on
// the total side stresses n1, n2, n3 once they are formed, with an_k = area
// x n_k and energy the taut energy as the kernel made them. A taut lane
// keeps every value as it came, bit for bit; a wrinkled one gets N_w, its
// area multiples and A W; a slack one zeros. state: 0 taut, 1 wrinkled, 2
// slack (MembraneState). Every lane does the same operations, whichever
// state it is in, and the states are chosen lane by lane (a select, which
// rounds nothing), so each lane's bits are the scalar ones on every path.
// The quotient c is formed in every lane; where it is not used (S1 = S2
// there, a taut or slack lane) it divides by 1 instead of by zero.
template <class T, class Ref>
[[gnu::always_inline]] inline void relax(
    const Ref& r, const Wrinkling& w, T& n1, T& n2, T& n3, T& an1, T& an2, T& an3, T& energy, T& state) {
  const Principal<T> s = principal_of<T>(r, w, n1, n2, n3);
  T ni[3];
  identity_stresses<T>(r.stiff, w, ni);
  const T zero{};
  const T one = zero + 1.0;
  const T c = s.p / (s.root > zero ? s.root : one);
  const T w1 = c * (n1 - s.s2 * ni[0]);
  const T w2 = c * (n2 - s.s2 * ni[1]);
  const T w3 = c * (n3 - s.s2 * ni[2]);
  const T ew = r.area * ((s.p * s.p) * w.half_compliance);
  const auto taut = s.s2 >= zero;
  const auto tense = s.p > zero;  // wrinkled where not taut; slack otherwise
  n1 = taut ? n1 : (tense ? w1 : zero);
  n2 = taut ? n2 : (tense ? w2 : zero);
  n3 = taut ? n3 : (tense ? w3 : zero);
  an1 = taut ? an1 : r.area * n1;
  an2 = taut ? an2 : r.area * n2;
  an3 = taut ? an3 : r.area * n3;
  energy = taut ? energy : (tense ? ew : zero);
  state = taut ? zero : (tense ? one : one + 1.0);
}

// With a prestress N0, the constant that the energy of a non-taut element
// loses, so that it meets the taut energy A (e . K e / 2 + N0 . e) at the
// boundary: A e0 . K e0 / 2 = A N0 . K^-1 N0 / 2, from the adjugate of the
// symmetric K (upper triangle).
template <class T, class Ref>
[[gnu::always_inline]] inline T prestress_offset(const Ref& r, const T (&n0)[3]) {
  const auto& k = r.stiff;
  const T c00 = k[1][1] * k[2][2] - k[1][2] * k[1][2];
  const T c01 = k[0][2] * k[1][2] - k[0][1] * k[2][2];
  const T c02 = k[0][1] * k[1][2] - k[0][2] * k[1][1];
  const T c11 = k[0][0] * k[2][2] - k[0][2] * k[0][2];
  const T c12 = k[0][1] * k[0][2] - k[0][0] * k[1][2];
  const T c22 = k[0][0] * k[1][1] - k[0][1] * k[0][1];
  const T det = (k[0][0] * c00 + k[0][1] * c01) + k[0][2] * c02;
  const T quad = ((c00 * n0[0] * n0[0] + c11 * n0[1] * n0[1]) + c22 * n0[2] * n0[2]) +
                 2.0 * ((c01 * n0[0] * n0[1] + c02 * n0[0] * n0[2]) + c12 * n0[1] * n0[2]);
  return r.area * (0.5 * quad / det);
}

}  // namespace kernel

// The relaxed side stresses and their derivative with respect to the side
// strains, for the element tangent (energy/tangent.h). n: in, the side
// stresses K e (with a prestress, the total ones); out, the relaxed ones,
// bit for bit those of the energy. d: dN/de, the relaxed side-strain
// stiffness: K when taut, 0 when slack, and when wrinkled the derivative
// of N_w = c (N - S2 N_I) through N = K e,
//   dN_w/dN = (N - S2 N_I) dc^T + c (I - N_I dS2^T),   d = dN_w/dN K,
// with dS2 = (u - G N / r) / 2, d(S1 - nu S2) = ((1 - nu) u + (1 + nu) G N
// / r) / 2 and dc = d(S1 - nu S2) / r - (S1 - nu S2) G N / r^3 (u = (1, 1,
// 1), r = S1 - S2 = sqrt(Q), dQ/dN = 2 G N). It is the Hessian of the
// wrinkled energy in e, so symmetric; its rounding is averaged out. It is
// positive semi-definite, singular along the strain across the wrinkles.
inline MembraneState relaxed_stiffness(const element& r, const Wrinkling& w, double (&n)[3], double (&d)[3][3]) {
  const double elastic[3] = {n[0], n[1], n[2]};
  const kernel::Principal<double> s = kernel::principal_of<double>(r, w, n[0], n[1], n[2]);
  double an[3] = {};
  double energy = 0.0;
  double state = 0.0;
  kernel::relax(r, w, n[0], n[1], n[2], an[0], an[1], an[2], energy, state);
  const auto mode = static_cast<MembraneState>(static_cast<int>(state));
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) d[i][j] = mode == MembraneState::taut ? r.stiff[i][j] : 0.0;
  }
  if (mode != MembraneState::wrinkled) return mode;
  double ni[3];
  kernel::identity_stresses<double>(r.stiff, w, ni);
  const double g[3][3] = {
      {1.0, 2.0 * s.h[2], 2.0 * s.h[1]}, {2.0 * s.h[2], 1.0, 2.0 * s.h[0]}, {2.0 * s.h[1], 2.0 * s.h[0], 1.0}};
  const double nu = w.poisson;
  const double rq = s.root;
  const double c = s.p / rq;
  double ds2[3];
  double dc[3];
  for (std::size_t i = 0; i < 3; ++i) {
    const double gn = ((g[i][0] * elastic[0] + g[i][1] * elastic[1]) + g[i][2] * elastic[2]) / rq;
    ds2[i] = 0.5 * (1.0 - gn);
    const double dp = 0.5 * ((1.0 - nu) + (1.0 + nu) * gn);
    dc[i] = (dp - c * gn) / rq;
  }
  double jac[3][3];
  for (std::size_t i = 0; i < 3; ++i) {
    const double m = elastic[i] - s.s2 * ni[i];
    for (std::size_t j = 0; j < 3; ++j) jac[i][j] = m * dc[j] + c * ((i == j ? 1.0 : 0.0) - ni[i] * ds2[j]);
  }
  double full[3][3];
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) {
      full[i][j] = (jac[i][0] * r.stiff[0][j] + jac[i][1] * r.stiff[1][j]) + jac[i][2] * r.stiff[2][j];
    }
  }
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) d[i][j] = 0.5 * (full[i][j] + full[j][i]);
  }
  return mode;
}

}  // namespace solver
