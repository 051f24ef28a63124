#pragma once
// The element tangent: the second derivative of one element's strain
// energy with respect to its nine displacement components, for either
// strain policy of energy/strain.h, and its assembly over the free unknowns
// at the positions of a sparse pattern (newton/tangent_pattern.h builds
// them).
//
// With e the three side strains, K the side-strain stiffness, A the
// reference area and n = K e the side stresses, the energy is
// W = A/2 e^T K e and, B_k being the derivative row of side k's strain
// (+b_k at the vertex where side k ends, -b_k where it starts),
//   d2W = A sum_kl K_kl B_k^T B_l          (material part)
//       + A sum_k n_k d2e_k                (part from the side forces),
// where d2e_k has the block M_k = d(b_k)/d(d_k) at (end, end) and
// (start, start) and -M_k at (end, start) and (start, end); M_k =
// I / (q_k length_k) + c_k a_k a_k^T (energy/strain.h).
//
// With a prestress N0 (model/prestress.h) the energy gains A N0 . e, whose
// second derivative is A sum_k N0_k d2e_k: the side forces of the second
// part are then the total side stresses n = N0 + K e.
//
// A compressed side (n_k < 0) makes its part of the tangent negative
// semi-definite. With `clamp` the tangent takes max(n_k, 0) instead: the
// matrix is then positive semi-definite, so a Newton step with it is a
// descent direction of the energy, which itself is left unchanged.
//
// With wrinkling (energy/wrinkling.h) the energy is the relaxed one, and so
// is its tangent: K becomes the relaxed side-strain stiffness D = dN/de
// (relaxed_stiffness) and n the relaxed side stresses. A taut element's
// tangent is the one above, bit for bit. A wrinkled element's D is
// positive semi-definite, with no stiffness across the wrinkles; a slack
// element has no tangent at all. Left so, a wrinkled or slack region would
// make the matrix singular in-plane, the factorization would fail or
// deliver huge steps along those directions, and the shift, raised by ten
// per failure and lowered by ten per success (newton/shift.h), would cycle
// through failed factorizations at every step. So such an element keeps a
// residual stiffness: Wrinkling::residual (1e-6) times its taut material
// part A B^T K B, which makes its in-plane part positive definite, and the
// side forces of a small isotropic tension, Wrinkling::residual_tension
// (3e-5) times K (1, 1, 1)^T, whose part A sum_k n_k d2e_k stiffens it out
// of its plane: the shift matrix R of newton/tangent_pattern.h is the same
// part for a unit tension, so this is a shift that follows the wrinkled
// and slack elements, where the matrix needs one, and leaves the taut
// ones exact. Without it a slack region has no out-of-plane stiffness but
// the global shift, which falls by ten at every full step: the square
// airbag (VERIFICATION.md, section 7) then took thousands of backtracked
// steps per major iteration. The relaxed stress tensor is positive
// semi-definite, so for the Green strain the part from the side forces is
// positive semi-definite too; for the engineering strain clamping keeps
// it so, as above. Directions that no element stiffens (the flat start)
// are left to the shift, as always.
// Neither the residue nor the shift moves the solution: the tangent only
// shapes the step. Every step is accepted by the line search on the exact
// relaxed energy, and the minimiser stops on the exact relaxed gradient
// (the residue test), so the point it returns is an equilibrium of the
// relaxed energy to within the residue, whatever matrix made the steps; a
// stiffer matrix only shortens the steps along the soft directions, which
// the following steps make up.

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "energy/evaluator.h"
#include "energy/kernel.h"
#include "energy/wrinkling.h"
#include "model/analysis.h"
#include "model/geometry.h"
#include "platform/failure.h"
#include "terms/terms.h"

namespace solver {

// Entries (i, j), i <= j, of an element's 9 x 9 tangent, row by row.
inline constexpr std::size_t kTangentEntries = 45;

// h: the 9 x 9 tangent, row by row, rows and columns ordered vertex 1 X, Y,
// Z, vertex 2 ..., vertex 3 ... like the displacements delta; prestress:
// the element's prestress side stresses, none when null; wrinkling: the
// model's relaxation, none when null.
template <class Law>
void element_tangent(const element& r,
                     const double (&delta)[9],
                     bool clamp,
                     double (&h)[81],
                     const std::array<double, 3>* prestress = nullptr,
                     const Wrinkling* wrinkling = nullptr) {
  // The side strains and their derivatives exactly as the energy has them,
  // with what the second derivative needs beside them.
  double e[3];
  double b[3][3];
  double a[3][3];
  double c[3];
  double diag[3];  // 1 / (q length)
  kernel::strain_sides<Law>(r, delta, e, b, [&](std::size_t k, const double(&ak)[3], double s, double q) {
    for (std::size_t x = 0; x < 3; ++x) a[k][x] = ak[x];
    c[k] = Law::curvature(s, r.length[k], q);
    diag[k] = 1.0 / (q * r.length[k]);
  });
  double n[3];
  kernel::side_stresses(r.stiff, e, n[0], n[1], n[2]);
  if (prestress != nullptr) {
    for (std::size_t k = 0; k < 3; ++k) n[k] = n[k] + (*prestress)[k];
  }
  double kk[3][3];  // the side-strain stiffness of the material part: K, or the relaxed one
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t x = 0; x < 3; ++x) kk[k][x] = r.stiff[k][x];
  }
  if (wrinkling != nullptr && relaxed_stiffness(r, *wrinkling, n, kk) != MembraneState::taut) {
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t x = 0; x < 3; ++x) kk[k][x] = kk[k][x] + wrinkling->residual * r.stiff[k][x];
    }
    for (std::size_t k = 0; k < 3; ++k) {
      n[k] = n[k] + wrinkling->residual_tension * ((r.stiff[k][0] + r.stiff[k][1]) + r.stiff[k][2]);
    }
  }

  // B: 3 x 9, row k the derivative of strain k.
  double bm[3][9] = {};
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t x = 0; x < 3; ++x) {
      bm[k][3 * kSideTo[k] + x] = b[k][x];
      bm[k][3 * kSideFrom[k] + x] = -b[k][x];
    }
  }
  // A K B: 3 x 9.
  double kb[3][9];
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t p = 0; p < 9; ++p) {
      kb[k][p] = r.area * ((kk[k][0] * bm[0][p] + kk[k][1] * bm[1][p]) + kk[k][2] * bm[2][p]);
    }
  }
  for (std::size_t p = 0; p < 9; ++p) {
    for (std::size_t q = 0; q < 9; ++q) {
      h[9 * p + q] = (bm[0][p] * kb[0][q] + bm[1][p] * kb[1][q]) + bm[2][p] * kb[2][q];
    }
  }
  for (std::size_t k = 0; k < 3; ++k) {
    const double nk = clamp && n[k] < 0.0 ? 0.0 : n[k];
    const double w = r.area * nk;
    if (w == 0.0) continue;
    double m[3][3];
    for (std::size_t x = 0; x < 3; ++x) {
      for (std::size_t y = 0; y < 3; ++y) m[x][y] = w * (c[k] * a[k][x] * a[k][y] + (x == y ? diag[k] : 0.0));
    }
    const std::size_t i = 3 * kSideFrom[k];
    const std::size_t j = 3 * kSideTo[k];
    for (std::size_t x = 0; x < 3; ++x) {
      for (std::size_t y = 0; y < 3; ++y) {
        h[9 * (i + x) + i + y] += m[x][y];
        h[9 * (j + x) + j + y] += m[x][y];
        h[9 * (i + x) + j + y] -= m[x][y];
        h[9 * (j + x) + i + y] -= m[x][y];
      }
    }
  }
}

// Adds the upper triangle of an element's tangent h, row by row, into
// values at the element's positions pos (kTangentEntries of them; -1 for
// an entry whose row or column is not an unknown).
inline void add_upper_triangle(const double (&h)[81], const int* pos, std::span<double> values) {
  std::size_t k = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    for (std::size_t j = i; j < 9; ++j, ++k) {
      if (pos[k] >= 0) values[static_cast<std::size_t>(pos[k])] += h[9 * i + j];
    }
  }
}

// The full-length displacement vector by slot (dof number - 1): x(1..nfree)
// at slots 0..nfree-1, the prescribed displacements after them.
inline void gather_full(const analysis& a, const terms::Vector& x, std::vector<double>& full) {
  full.resize(3 * static_cast<std::size_t>(a.nnode));
  const int* dof = a.dof.data();
  const double* displ = a.displ.data();
  for (std::size_t i = 0; i < full.size(); ++i) {
    const int k = dof[i];
    full[static_cast<std::size_t>(k - 1)] = k <= a.nfree ? x(k) : displ[i];
  }
}

// The tangent of the strain energy at x over the free unknowns: values of
// positions `position` (kTangentEntries per element, see
// add_upper_triangle), summed element by element in element order (a fixed
// order, so the same x gives the same bits); values is cleared first.
template <class Law>
void assemble_tangent(const analysis& a,
                      const std::vector<ElementSlots>& slots,
                      const terms::Vector& x,
                      std::span<const int> position,
                      bool clamp,
                      std::span<double> values) {
  if (position.size() != kTangentEntries * slots.size()) {
    throw platform::RangeError("the tangent's positions do not match the elements");
  }
  std::vector<double> full;
  gather_full(a, x, full);
  std::fill(values.begin(), values.end(), 0.0);
  const element* records = a.elem.data();
  const std::array<double, 3>* prestress = a.side_prestress.empty() ? nullptr : a.side_prestress.data();
  const std::optional<Wrinkling> wrinkling = wrinkling_of(a);
  for (std::size_t e = 0; e < slots.size(); ++e) {
    double delta[9];
    kernel::gather(slots[e], full.data(), delta);
    double h[81];
    element_tangent<Law>(
        records[e], delta, clamp, h, prestress != nullptr ? prestress + e : nullptr, wrinkling ? &*wrinkling : nullptr);
    add_upper_triangle(h, position.data() + kTangentEntries * e, values);
  }
}

}  // namespace solver
