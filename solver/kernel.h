#pragma once
// The element energy kernel and the objective loop, written once for both
// material laws. Each program's law source supplies a strain policy and
// instantiates cstobj_with and objective_with with it, so the two programs
// share every line of arithmetic except the side strain itself:
//
//   struct Law {
//     // From s = lambda^2 (squared stretch of a side) and the side's
//     // reference length: returns the side strain and sets q such that the
//     // strain's derivative vector is b = a / q, a being the current side
//     // vector divided by the reference length. T is double or pair (two
//     // elements at once, lane by lane); square roots through root().
//     template <class T> static T strain(T s, T length, T& q);
//   };
//
// Every sum below keeps one fixed order, the one the reference results were
// computed with; the minimiser turns a last-bit difference into a different
// iteration count, so no term may be regrouped.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/failure.h"
#include "solver/analysis.h"
#include "solver/model.h"
#include "solver/pool.h"
#include "terms/terms.h"

namespace solver::kernel {

// Two doubles side by side, one per element: the pair kernel below runs
// the scalar arithmetic on two elements at once. Every operation acts on
// each lane as the scalar operation would (IEEE, no contraction), so each
// lane's result is bit for bit the scalar result; the pairing only halves
// the number of division and square-root instructions, which bound the
// kernel.
using pair = double __attribute__((vector_size(16)));

inline double root(double s) { return std::sqrt(s); }
inline pair root(pair s) { return __builtin_ia32_sqrtpd(s); }

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
                                                 const element_stream *stream,
                                                 const double *xf,
                                                 std::size_t e,
                                                 std::size_t last,
                                                 element_result<pair> &res) {
  prefetch_pair(records, e, last);
  const std::array<int, 9> &s0 = stream[e].slot;
  const std::array<int, 9> &s1 = stream[e + 1].slot;
  pair delta[9];
  for (std::size_t q = 0; q < 9; ++q) {
    delta[q] = pair{xf[static_cast<std::size_t>(s0[q])], xf[static_cast<std::size_t>(s1[q])]};
  }
  evaluate<Law>(interleave(records[e], records[e + 1]), delta, res);
}

// Element e alone (the last of an odd number).
template <class Law>
inline void evaluate_one(const element *records,
                         const element_stream *stream,
                         const double *xf,
                         std::size_t e,
                         element_result<double> &res) {
  const std::array<int, 9> &s = stream[e].slot;
  double delta[9];
  for (std::size_t q = 0; q < 9; ++q) delta[q] = xf[static_cast<std::size_t>(s[q])];
  evaluate<Law>(records[e], delta, res);
}

// One part of a parallel evaluation: the elements of part t, their energies
// and gradient terms handed on in element, vertex and axis order. Part 0
// adds its energies to *f; the others store theirs in a.energies. A term
// for an unknown this part owns goes straight into g, any other into the
// part's deferred list; terms of prescribed components are dropped.
template <class Law>
void element_part(analysis &a, const double *xf, std::size_t t, int n, double *g, double *f) {
  const element *records = a.elem.data();  // element e + 1 at records[e]
  const element_stream *stream = a.stream.data();
  const unsigned char *owner = a.owner.data();
  const unsigned char self = static_cast<unsigned char>(t);
  analysis::deferred_term *deferred = a.deferred[t].data();
  double *energies = a.energies.data();
  const std::size_t begin = static_cast<std::size_t>(a.part_element[t]);
  const std::size_t end = static_cast<std::size_t>(a.part_element[t + 1]);
  double sum = t == 0 ? *f : 0.0;
  auto hand_on = [&](std::size_t e, double energy, const std::array<int, 9> &s, const double *grad) {
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
    const std::array<int, 9> &s0 = stream[e].slot;
    const std::array<int, 9> &s1 = stream[e + 1].slot;
    element_result<pair> res;
    evaluate_pair<Law>(records, stream, xf, e, end, res);
    double g0[9];
    double g1[9];
    for (std::size_t q = 0; q < 9; ++q) {
      g0[q] = res.grad[q][0];
      g1[q] = res.grad[q][1];
    }
    hand_on(e, res.energy[0], s0, g0);
    hand_on(e + 1, res.energy[1], s1, g1);
  }
  if (e < end) {
    const std::array<int, 9> &s = stream[e].slot;
    element_result<double> res;
    evaluate_one<Law>(records, stream, xf, e, res);
    hand_on(e, res.energy, s, res.grad);
  }
  if (t == 0) *f = sum;
}

// objective: total potential energy at x (1..n) and its gradient into g.
//
// One pass over the node table puts x and the prescribed displacements into
// the full-length workspace by dof number and starts the gradient at -force
// (f takes the load potential in node and axis order); the elements are
// then visited in order, each one's nine displacements gathered by its
// slots and its reference quantities read from its record, and energy and
// gradient are added in element, vertex and axis order.
template <class Law>
double objective_with(analysis &a, int n, const terms::Vector &x, terms::Vector &g) {
  const std::size_t entries = 3 * static_cast<std::size_t>(a.nnode);
  if (n != a.nfree || x.size() < n || g.size() < n || a.xfull.size() != entries ||
      a.stream.size() != static_cast<std::size_t>(a.nelem) || a.elem.size() != a.nelem) {
    throw platform::RangeError("objective called with " + std::to_string(n) + " unknowns (vectors of " +
                               std::to_string(x.size()) + " and " + std::to_string(g.size()) +
                               ") on a model set up for " + std::to_string(a.nfree));
  }
  const bool parallel = prepare_parallel(a);
  // The one-thread path adds every term into the full-length gradient
  // workspace, whose constrained slots collect terms nobody reads; that
  // spares the kernel a branch per component. The parallel path starts
  // each unknown's gradient in g and needs no such workspace.
  if (!parallel && a.gfull.size() != entries) a.gfull.assign(entries, 0.0);
  const int *dof = a.dof.data();
  const double *force = a.force.data();
  const double *displ = a.displ.data();
  const double *xp = x.data();
  double *xf = a.xfull.data();
  double *gf = parallel ? g.data() : a.gfull.data();

  double f = 0.0;
  for (std::size_t i = 0; i < entries; ++i) {  // node by node, axis by axis
    const int k = dof[i];
    const std::size_t slot = static_cast<std::size_t>(k - 1);
    if (k <= n) {
      const double xk = xp[slot];  // read before g is written: x and g may be one vector
      f = f - force[i] * xk;
      xf[slot] = xk;
      gf[slot] = -force[i];
    } else {
      if (!parallel) gf[slot] = 0.0;
      xf[slot] = displ[i];
    }
  }

  if (parallel) {
    // The parts run side by side; part 0 extends f and every part writes
    // only the unknowns it owns. Then, in part order, the energies and the
    // deferred terms of the later parts follow, element by element.
    auto compute = [&a, xf, n, gf, &f](std::size_t t) { element_part<Law>(a, xf, t, n, gf, &f); };
    const std::size_t parts = a.part_element.size() - 1;
    a.workers->run(parts, compute);
    const double *energies = a.energies.data();
    const std::size_t count = static_cast<std::size_t>(a.nelem);
    for (std::size_t e = static_cast<std::size_t>(a.part_element[1]); e < count; ++e) f = f + energies[e];
    for (std::size_t t = 1; t < parts; ++t) {
      for (const analysis::deferred_term &d : a.deferred[t]) {
        double &gk = gf[static_cast<std::size_t>(d.unknown)];
        gk = gk + d.value;
      }
    }
    return f;
  }

  // Elements two at a time; each pair's contributions are added element
  // by element, so the sums keep element order.
  const element *records = a.elem.data();  // element e + 1 at records[e]
  const element_stream *stream = a.stream.data();
  const std::size_t count = a.stream.size();
  std::size_t e = 0;
  for (; e + 1 < count; e += 2) {
    const std::array<int, 9> &s0 = stream[e].slot;
    const std::array<int, 9> &s1 = stream[e + 1].slot;
    element_result<pair> res;
    evaluate_pair<Law>(records, stream, xf, e, count, res);
    f = f + res.energy[0];
    for (std::size_t q = 0; q < 9; ++q) {
      double &gq = gf[static_cast<std::size_t>(s0[q])];
      gq = gq + res.grad[q][0];
    }
    f = f + res.energy[1];
    for (std::size_t q = 0; q < 9; ++q) {
      double &gq = gf[static_cast<std::size_t>(s1[q])];
      gq = gq + res.grad[q][1];
    }
  }
  if (e < count) {  // the last one of an odd number
    const std::array<int, 9> &s = stream[e].slot;
    element_result<double> res;
    evaluate_one<Law>(records, stream, xf, e, res);
    f = f + res.energy;
    for (std::size_t q = 0; q < 9; ++q) {
      double &gq = gf[static_cast<std::size_t>(s[q])];
      gq = gq + res.grad[q];
    }
  }

  if (n > 0) std::memcpy(g.data(), gf, static_cast<std::size_t>(n) * sizeof(double));
  return f;
}

}  // namespace solver::kernel
