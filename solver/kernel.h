#pragma once
// The element energy kernel and its loops, written once for both material
// laws. Each law's library instantiates cstobj_with and LawEvaluator with
// its strain policy (solver/strain.h), so the two laws share every line of
// arithmetic except the side strain itself.
//
// Every sum below keeps one fixed order, the one the reference results were
// computed with; the minimiser turns a last-bit difference into a different
// iteration count, so no term may be regrouped.

#include <array>
#include <cstddef>

#include "solver/analysis.h"
#include "solver/evaluator.h"
#include "solver/lanes.h"
#include "solver/model.h"
#include "terms/terms.h"

namespace solver::kernel {

// Side stresses, strain energy and energy gradient of one element (T =
// double) or of two (T = pair).
template <class T>
struct element_result {
  T n1, n2, n3;
  T energy;
  T grad[9];  // vertex 1 X, Y, Z, vertex 2 X, Y, Z, vertex 3 X, Y, Z
};

// The reference quantities of two elements, lane by lane, indexed as in
// the element record. Only the upper triangle of the stiffness is filled:
// the kernel reads no other entry.
struct pair_reference {
  pair length[3];
  pair dir[3][3];
  pair area;
  pair stiff[3][3];
};

inline pair_reference interleave(const element &r0, const element &r1) {
  pair_reference p;
  for (std::size_t k = 0; k < 3; ++k) {
    p.length[k] = pair{r0.length[k], r1.length[k]};
    for (std::size_t j = 0; j < 3; ++j) p.dir[k][j] = pair{r0.dir[k][j], r1.dir[k][j]};
    for (std::size_t j = k; j < 3; ++j) p.stiff[k][j] = pair{r0.stiff[k][j], r1.stiff[k][j]};
  }
  p.area = pair{r0.area, r1.area};
  return p;
}

// The element at the displacements delta (vertex 1 X, Y, Z, vertex 2 ...,
// vertex 3 ...); Ref is the element record (T = double) or pair_reference.
// Side k lies opposite vertex k and runs from vertex 2 to 3 (side 1), 3 to
// 1 (side 2), 1 to 2 (side 3); its strain derivative row is +b at the
// vertex where it ends, -b where it starts and 0 at the third, whose zero
// term is left out of the gradient sums (it could only change the sign of
// an exact zero).
template <class Law, class T, class Ref>
[[gnu::always_inline]] inline void evaluate(const Ref &r, const T (&delta)[9], element_result<T> &out) {
  constexpr std::size_t from[3] = {1, 2, 0};  // 0-based vertex where side k starts
  constexpr std::size_t to[3] = {2, 0, 1};    // and where it ends
  T e[3];
  T b[3][3];
  for (std::size_t k = 0; k < 3; ++k) {
    const T length = r.length[k];
    const std::size_t i = 3 * from[k];
    const std::size_t j = 3 * to[k];
    // a: the current side vector over the reference length.
    const T ax = r.dir[k][0] + (delta[j] - delta[i]) / length;
    const T ay = r.dir[k][1] + (delta[j + 1] - delta[i + 1]) / length;
    const T az = r.dir[k][2] + (delta[j + 2] - delta[i + 2]) / length;
    const T s = (ax * ax + ay * ay) + az * az;
    T q;
    e[k] = Law::strain(s, length, q);
    b[k][0] = ax / q;
    b[k][1] = ay / q;
    b[k][2] = az / q;
  }
  // The stiffness is symmetric; only its upper triangle is read.
  const auto &k = r.stiff;
  out.n1 = (k[0][0] * e[0] + k[0][1] * e[1]) + k[0][2] * e[2];
  out.n2 = (k[0][1] * e[0] + k[1][1] * e[1]) + k[1][2] * e[2];
  out.n3 = (k[0][2] * e[0] + k[1][2] * e[1]) + k[2][2] * e[2];
  const T an1 = r.area * out.n1;
  const T an2 = r.area * out.n2;
  const T an3 = r.area * out.n3;
  out.energy = 0.5 * ((an1 * e[0] + an2 * e[1]) + an3 * e[2]);
  for (std::size_t c = 0; c < 3; ++c) {
    out.grad[c] = an2 * b[1][c] - an3 * b[2][c];      // vertex 1: end of side 2, start of side 3
    out.grad[3 + c] = an3 * b[2][c] - an1 * b[0][c];  // vertex 2: start of side 1, end of side 3
    out.grad[6 + c] = an1 * b[0][c] - an2 * b[1][c];  // vertex 3: end of side 1, start of side 2
  }
}

// cstobj: one element at unknowns x, its displacements gathered by the
// degree-of-freedom rule (x for free components, displ for the others).
// Not on the hot path (the report calls it once per element), so the
// indices are checked.
template <class Law>
element_state cstobj_with(const analysis &a, const element &el, const terms::Vector &x, std::array<double, 9> &grad) {
  double delta[9];
  for (std::size_t v = 0; v < 3; ++v) {
    const int node = el.node[v];
    for (int j = 1; j <= 3; ++j) {
      const int k = a.dof.at(node, j);
      delta[3 * v + static_cast<std::size_t>(j - 1)] = k <= a.nfree ? x.at(k) : a.displ(node, j);
    }
  }
  element_result<double> res;
  evaluate<Law>(el, delta, res);
  for (std::size_t q = 0; q < 9; ++q) grad[q] = res.grad[q];
  return {res.n1, res.n2, res.n3, res.energy};
}

// Asks the cache for the records of elements e + ahead and e + ahead + 1
// (two records span seven cache lines) while elements e and e + 1 are
// evaluated. The records are read front to back, but only part of each is
// the kernel's, and on a model larger than the caches the hint took back
// most of what reading the records instead of a packed copy had cost
// (160 000 elements, one thread: 38.9 ns per element without, 36.0 with,
// 35.9 for the packed copy).
inline void prefetch_pair(const element *records, std::size_t e, std::size_t count) {
  constexpr std::size_t ahead = 16;
  if (e + ahead + 1 >= count) return;  // both records lie inside the array
  const char *p = reinterpret_cast<const char *>(records + e + ahead);
  for (std::size_t off = 0; off < 2 * sizeof(element); off += 64) __builtin_prefetch(p + off);
}

// Elements e and e + 1 (0-based) side by side: their nine displacements
// gathered from the full-length workspace xf by their slots, the records of
// a few pairs ahead prefetched (last: one past the run's last element).
template <class Law>
[[gnu::always_inline]] inline void evaluate_pair(const element *records,
                                                 const element_slots *slots,
                                                 const double *xf,
                                                 std::size_t e,
                                                 std::size_t last,
                                                 element_result<pair> &res) {
  prefetch_pair(records, e, last);
  const std::array<int, 9> &s0 = slots[e];
  const std::array<int, 9> &s1 = slots[e + 1];
  pair delta[9];
  for (std::size_t q = 0; q < 9; ++q) {
    delta[q] = pair{xf[static_cast<std::size_t>(s0[q])], xf[static_cast<std::size_t>(s1[q])]};
  }
  evaluate<Law>(interleave(records[e], records[e + 1]), delta, res);
}

// Element e alone (the last of an odd number).
template <class Law>
inline void evaluate_one(const element *records,
                         const element_slots *slots,
                         const double *xf,
                         std::size_t e,
                         element_result<double> &res) {
  const std::array<int, 9> &s = slots[e];
  double delta[9];
  for (std::size_t q = 0; q < 9; ++q) delta[q] = xf[static_cast<std::size_t>(s[q])];
  evaluate<Law>(records[e], delta, res);
}

// The element loops of the energy for the law's strain policy.
template <class Law>
class LawEvaluator final : public EnergyEvaluator {
 public:
  LawEvaluator(const analysis& a, const EvaluationOptions& options) : EnergyEvaluator(a, options) {}

 private:
  // Elements two at a time; each pair's contributions are added element by
  // element, so the sums keep element order.
  double serial_elements(const double* xf, double* gf, double f) const override {
    const element* records = a_.elem.data();  // element e + 1 at records[e]
    const element_slots* slots = slots_.data();
    const std::size_t count = slots_.size();
    std::size_t e = 0;
    for (; e + 1 < count; e += 2) {
      element_result<pair> res;
      evaluate_pair<Law>(records, slots, xf, e, count, res);
      f = f + res.energy[0];
      for (std::size_t q = 0; q < 9; ++q) {
        double& gq = gf[static_cast<std::size_t>(slots[e][q])];
        gq = gq + res.grad[q][0];
      }
      f = f + res.energy[1];
      for (std::size_t q = 0; q < 9; ++q) {
        double& gq = gf[static_cast<std::size_t>(slots[e + 1][q])];
        gq = gq + res.grad[q][1];
      }
    }
    if (e < count) {  // the last one of an odd number
      element_result<double> res;
      evaluate_one<Law>(records, slots, xf, e, res);
      f = f + res.energy;
      for (std::size_t q = 0; q < 9; ++q) {
        double& gq = gf[static_cast<std::size_t>(slots[e][q])];
        gq = gq + res.grad[q];
      }
    }
    return f;
  }

  // One part of a parallel pass: the elements of part t, their energies and
  // gradient terms handed on in element, vertex and axis order. Part 0 adds
  // its energies to *f; the others store theirs. A term for an unknown this
  // part owns goes straight into g, any other into the part's deferred
  // list; terms of prescribed components are dropped.
  void part_elements(std::size_t t, const double* xf, int n, double* g, double* f) override {
    const element* records = a_.elem.data();
    const element_slots* slots = slots_.data();
    const unsigned char* owner = owner_.data();
    const unsigned char self = static_cast<unsigned char>(t);
    deferred_term* deferred = deferred_[t].data();
    double* energies = energies_.data();
    const std::size_t begin = static_cast<std::size_t>(part_element_[t]);
    const std::size_t end = static_cast<std::size_t>(part_element_[t + 1]);
    double sum = t == 0 ? *f : 0.0;
    auto hand_on = [&](std::size_t e, double energy, const element_slots& s, const double* grad) {
      if (t == 0) {
        sum = sum + energy;
      } else {
        energies[e] = energy;
      }
      for (std::size_t q = 0; q < 9; ++q) {
        const int k = s[q];
        if (k >= n) continue;
        if (owner[k] == self) {
          g[k] = g[k] + grad[q];
        } else {
          *deferred++ = {k, grad[q]};
        }
      }
    };
    std::size_t e = begin;
    for (; e + 1 < end; e += 2) {
      element_result<pair> res;
      evaluate_pair<Law>(records, slots, xf, e, end, res);
      double g0[9];
      double g1[9];
      for (std::size_t q = 0; q < 9; ++q) {
        g0[q] = res.grad[q][0];
        g1[q] = res.grad[q][1];
      }
      hand_on(e, res.energy[0], slots[e], g0);
      hand_on(e + 1, res.energy[1], slots[e + 1], g1);
    }
    if (e < end) {
      element_result<double> res;
      evaluate_one<Law>(records, slots, xf, e, res);
      hand_on(e, res.energy, slots[e], res.grad);
    }
    if (t == 0) *f = sum;
  }
};

}  // namespace solver::kernel
