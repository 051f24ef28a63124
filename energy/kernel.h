#pragma once
// The element energy kernel and its loops, written once for both material
// laws. StrainLaw (energy/strain_law.h) instantiates cstobj_with and
// LawEvaluator with each law's strain policy (energy/strain.h), so the two
// laws share every line of arithmetic except the side strain itself.
//
// Every sum below keeps one fixed order, the order of the golden files'
// results: the minimiser turns a last-bit difference into a different
// iteration count, so no term may be regrouped.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <type_traits>

#include "energy/evaluator.h"
#include "energy/kernel_path.h"
#include "energy/lanes.h"
#include "energy/law.h"
#include "energy/wrinkling.h"
#include "model/analysis.h"
#include "model/geometry.h"
#include "model/model.h"
#include "terms/terms.h"

namespace solver::kernel {

// Side stresses, strain energy and energy gradient of one element (T =
// double) or of one per lane.
template <class T>
struct ElementResult {
  T n1, n2, n3;
  T energy;
  T grad[9];  // vertex 1 X, Y, Z, vertex 2 X, Y, Z, vertex 3 X, Y, Z
  T state;    // with wrinkling: 0 taut, 1 wrinkled, 2 slack (MembraneState); not set without
};

// The reference quantities of one element per lane, indexed as in the
// element record. Only the upper triangle of the stiffness is filled: the
// kernel reads no other entry.
template <class T>
struct LaneReference {
  T length[3];
  T dir[3][3];
  T area;
  T stiff[3][3];
};

// The records r[0..W-1] side by side, one per lane.
template <class T>
[[gnu::always_inline]] inline void interleave(const element* const (&r)[width<T>], LaneReference<T>& p) {
  for (std::size_t k = 0; k < 3; ++k) {
    p.length[k] = make_lanes<T>([&](std::size_t l) { return r[l]->length[k]; });
    for (std::size_t j = 0; j < 3; ++j) p.dir[k][j] = make_lanes<T>([&](std::size_t l) { return r[l]->dir[k][j]; });
    for (std::size_t j = k; j < 3; ++j) {
      p.stiff[k][j] = make_lanes<T>([&](std::size_t l) { return r[l]->stiff[k][j]; });
    }
  }
  p.area = make_lanes<T>([&](std::size_t l) { return r[l]->area; });
}

// The side strains e and their derivative vectors b of an element (T =
// double) or of one element per lane at the displacements delta (vertex 1
// X, Y, Z, vertex 2 ..., vertex 3 ...); Ref is the element record (T =
// double) or LaneReference<T>. Side k runs from vertex kSideFrom[k] to
// kSideTo[k] (model/geometry.h); b[k] is the derivative of e[k] with
// respect to the displacement of its end vertex. Each side is also handed
// to side(k, a, s, q): a its current vector over the reference length, s =
// a . a its squared stretch, q what the strain policy set (b = a / q); the
// tangent (energy/tangent.h) needs them, the energy does not.
template <class Law, class T, class Ref, class Side>
[[gnu::always_inline]] inline void strain_sides(
    const Ref& r, const T (&delta)[9], T (&e)[3], T (&b)[3][3], const Side& side) {
  for (std::size_t k = 0; k < 3; ++k) {
    const T length = r.length[k];
    const std::size_t i = 3 * kSideFrom[k];
    const std::size_t j = 3 * kSideTo[k];
    const T a[3] = {r.dir[k][0] + (delta[j] - delta[i]) / length,
                    r.dir[k][1] + (delta[j + 1] - delta[i + 1]) / length,
                    r.dir[k][2] + (delta[j + 2] - delta[i + 2]) / length};
    const T s = (a[0] * a[0] + a[1] * a[1]) + a[2] * a[2];
    T q;
    e[k] = Law::strain(s, length, q);
    b[k][0] = a[0] / q;
    b[k][1] = a[1] / q;
    b[k][2] = a[2] / q;
    side(k, a, s, q);
  }
}

// The side stresses n = K e from the side strains e. The stiffness K is
// symmetric (the set-up copies its upper triangle into the lower), so only
// the upper triangle is read: LaneReference fills no other entry.
template <class T, class Stiffness>
[[gnu::always_inline]] inline void side_stresses(const Stiffness& k, const T (&e)[3], T& n1, T& n2, T& n3) {
  n1 = (k[0][0] * e[0] + k[0][1] * e[1]) + k[0][2] * e[2];
  n2 = (k[0][1] * e[0] + k[1][1] * e[1]) + k[1][2] * e[2];
  n3 = (k[0][2] * e[0] + k[1][2] * e[1]) + k[2][2] * e[2];
}

// The prestress of an element (model/prestress.h) as the kernel takes it:
// none, the loops of a model without prestress, or the side stresses N0 of
// one element (T = double) or of one per lane.
struct NoPrestress {};
template <class T>
struct SidePrestress {
  T n[3];
};

// The element at the displacements delta: side stresses, strain energy and
// gradient. Side k's strain derivative row is +b at the vertex where it
// ends, -b where it starts and 0 at the third, whose zero term is left out
// of the gradient sums (it could only change the sign of an exact zero).
// With a prestress N0 the energy gains its work on the strains, A N0 . e,
// and the side stresses, which the gradient and the report take, are
// N0 + K e; without one (NoPrestress) the arithmetic is that of a model
// that never had any. With Wrinkling the side stresses, once formed, are
// relaxed (energy/wrinkling.h): a taut element keeps every bit, the others
// take the relaxed side stresses and energy; with NoWrinkling the
// arithmetic is that of a model that never had it. With both, the
// relaxation acts on the total side stresses N0 + K e, and a non-taut
// element's energy loses the constant prestress_offset, which keeps it
// continuous with the taut one.
template <class Law, class T, class Ref, class Prestress = NoPrestress, class Relaxation = NoWrinkling>
[[gnu::always_inline]] inline void evaluate(const Ref& r,
                                            const T (&delta)[9],
                                            ElementResult<T>& out,
                                            const Prestress& prestress = {},
                                            const Relaxation& relaxation = {}) {
  T e[3];
  T b[3][3];
  strain_sides<Law>(r, delta, e, b, [](std::size_t, const T(&)[3], T, T) {});
  side_stresses(r.stiff, e, out.n1, out.n2, out.n3);
  T an1 = r.area * out.n1;
  T an2 = r.area * out.n2;
  T an3 = r.area * out.n3;
  out.energy = 0.5 * ((an1 * e[0] + an2 * e[1]) + an3 * e[2]);
  if constexpr (!std::is_same_v<Prestress, NoPrestress>) {
    const T ap1 = r.area * prestress.n[0];
    const T ap2 = r.area * prestress.n[1];
    const T ap3 = r.area * prestress.n[2];
    out.energy = out.energy + ((ap1 * e[0] + ap2 * e[1]) + ap3 * e[2]);
    out.n1 = out.n1 + prestress.n[0];
    out.n2 = out.n2 + prestress.n[1];
    out.n3 = out.n3 + prestress.n[2];
    an1 = an1 + ap1;
    an2 = an2 + ap2;
    an3 = an3 + ap3;
  }
  if constexpr (std::is_same_v<Relaxation, Wrinkling>) {
    relax(r, relaxation, out.n1, out.n2, out.n3, an1, an2, an3, out.energy, out.state);
    if constexpr (!std::is_same_v<Prestress, NoPrestress>) {
      const T offset = prestress_offset(r, prestress.n);
      out.energy = out.state > T{} ? out.energy - offset : out.energy;
    }
  }
  for (std::size_t c = 0; c < 3; ++c) {
    out.grad[c] = an2 * b[1][c] - an3 * b[2][c];      // vertex 1: end of side 2, start of side 3
    out.grad[3 + c] = an3 * b[2][c] - an1 * b[0][c];  // vertex 2: start of side 1, end of side 3
    out.grad[6 + c] = an1 * b[0][c] - an2 * b[1][c];  // vertex 3: end of side 1, start of side 2
  }
}

// The nine displacements of one element from the full-length workspace xf
// (unknowns, then prescribed displacements) by its slots.
[[gnu::always_inline]] inline void gather(const ElementSlots& s, const double* xf, double (&delta)[9]) {
  for (std::size_t q = 0; q < 9; ++q) delta[q] = xf[static_cast<std::size_t>(s[q])];
}

// The prestress side stresses of el, one of the state's element records,
// or none when the model carries no prestress (or el is not one of its
// records).
inline const std::array<double, 3>* prestress_of(const analysis& a, const element& el) {
  if (a.side_prestress.empty()) return nullptr;
  const element* first = a.elem.data();
  const element* last = first + a.side_prestress.size();
  if (std::less<const element*>()(&el, first) || !std::less<const element*>()(&el, last)) return nullptr;
  return &a.side_prestress[static_cast<std::size_t>(&el - first)];
}

// cstobj: one element at unknowns x, its displacements gathered by the
// degree-of-freedom rule (x for free components, displ for the others),
// relaxed when the model wrinkles. Not on the hot path (the report calls it
// once per element), so the indices are checked.
template <class Law>
ElementState cstobj_with(const analysis& a, const element& el, const terms::Vector& x, std::array<double, 9>& grad) {
  double delta[9];
  for (std::size_t v = 0; v < 3; ++v) {
    const int node = el.node[v];
    for (int j = 1; j <= 3; ++j) {
      const int k = a.dof.at(node, j);
      delta[3 * v + static_cast<std::size_t>(j - 1)] = k <= a.nfree ? x.at(k) : a.displ(node, j);
    }
  }
  ElementResult<double> res;
  int state = 0;
  const std::array<double, 3>* n0 = prestress_of(a, el);
  if (const std::optional<Wrinkling> w = wrinkling_of(a)) {
    if (n0 != nullptr) {
      evaluate<Law>(el, delta, res, SidePrestress<double>{{(*n0)[0], (*n0)[1], (*n0)[2]}}, *w);
    } else {
      evaluate<Law>(el, delta, res, NoPrestress{}, *w);
    }
    state = static_cast<int>(res.state);
  } else if (n0 != nullptr) {
    evaluate<Law>(el, delta, res, SidePrestress<double>{{(*n0)[0], (*n0)[1], (*n0)[2]}});
  } else {
    evaluate<Law>(el, delta, res);
  }
  for (std::size_t q = 0; q < 9; ++q) grad[q] = res.grad[q];
  return {res.n1, res.n2, res.n3, res.energy, state};
}

// Asks the cache for the records of the elements a few groups ahead while
// the current group is evaluated (a record spans three to four cache
// lines). The records are read front to back, but only part of each is the
// kernel's; the hint brings their lines in while the divisions of the
// current group run, which on a model larger than the caches takes back
// most of what reading the records instead of a packed copy costs
// (BENCHMARKS.md, "History"). It changes no value.
template <std::size_t W>
[[gnu::always_inline]] inline void prefetch_group(const element* records, std::size_t e, std::size_t count) {
  constexpr std::size_t kAhead = 16;
  if (e + kAhead + W > count) return;  // the whole group lies inside the array
  const char* p = reinterpret_cast<const char*>(records + e + kAhead);
  for (std::size_t off = 0; off < W * sizeof(element); off += 64) __builtin_prefetch(p + off);
}

// The elements begin..end-1 (0-based), W = width<T> at a time, their nine
// displacements gathered from the full-length workspace xf by their slots,
// with the side stresses of their prestress from prestress[e] when
// kPrestress (prestress is not read otherwise). Each element's results are
// handed to sink(e, res, l), lane l of res, in element order. The last
// group of a range may be short: its empty lanes repeat the range's last
// element, and their results are not handed on. relaxation: Wrinkling or
// NoWrinkling, as evaluate takes it.
template <class Law, class T, bool kPrestress, class Relaxation, class Sink>
[[gnu::always_inline]] inline void element_range(const element* records,
                                                 const ElementSlots* slots,
                                                 const std::array<double, 3>* prestress,
                                                 const double* xf,
                                                 std::size_t begin,
                                                 std::size_t end,
                                                 Sink& sink,
                                                 const Relaxation& relaxation) {
  constexpr std::size_t W = width<T>;
  for (std::size_t e = begin; e < end; e += W) {
    const std::size_t valid = end - e < W ? end - e : W;
    ElementResult<T> res;
    T delta[9];
    if constexpr (W == 1) {
      gather(slots[e], xf, delta);
      if constexpr (kPrestress) {
        evaluate<Law>(
            records[e], delta, res, SidePrestress<T>{{prestress[e][0], prestress[e][1], prestress[e][2]}}, relaxation);
      } else {
        evaluate<Law>(records[e], delta, res, NoPrestress{}, relaxation);
      }
    } else {
      prefetch_group<W>(records, e, end);
      const element* r[W];
      const int* lane_slots[W];
      for (std::size_t l = 0; l < W; ++l) {
        const std::size_t el = e + (l < valid ? l : valid - 1);
        r[l] = records + el;
        lane_slots[l] = slots[el].data();
      }
      for (std::size_t q = 0; q < 9; ++q) {
        delta[q] = make_lanes<T>([&](std::size_t l) { return xf[static_cast<std::size_t>(lane_slots[l][q])]; });
      }
      LaneReference<T> ref;
      interleave<T>(r, ref);
      if constexpr (kPrestress) {
        SidePrestress<T> p;
        for (std::size_t k = 0; k < 3; ++k) {
          p.n[k] = make_lanes<T>([&](std::size_t l) { return prestress[r[l] - records][k]; });
        }
        evaluate<Law>(ref, delta, res, p, relaxation);
      } else {
        evaluate<Law>(ref, delta, res, NoPrestress{}, relaxation);
      }
    }
    for (std::size_t l = 0; l < valid; ++l) sink(e + l, res, l);
  }
}

// One element loop per path and prestress variant: the same source,
// compiled for the registers of the path; which one runs is chosen at run
// time (current_path).
template <class Law, bool kPrestress, class Relaxation, class Sink>
void range_scalar(const element* records,
                  const ElementSlots* slots,
                  const std::array<double, 3>* prestress,
                  const double* xf,
                  std::size_t begin,
                  std::size_t end,
                  Sink& sink,
                  const Relaxation& relaxation) {
  element_range<Law, double, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
}
template <class Law, bool kPrestress, class Relaxation, class Sink>
void range_pairs(const element* records,
                 const ElementSlots* slots,
                 const std::array<double, 3>* prestress,
                 const double* xf,
                 std::size_t begin,
                 std::size_t end,
                 Sink& sink,
                 const Relaxation& relaxation) {
  element_range<Law, Pair, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
}
#if defined(__x86_64__)
template <class Law, bool kPrestress, class Relaxation, class Sink>
[[gnu::target("avx2")]] void range_avx2(const element* records,
                                        const ElementSlots* slots,
                                        const std::array<double, 3>* prestress,
                                        const double* xf,
                                        std::size_t begin,
                                        std::size_t end,
                                        Sink& sink,
                                        const Relaxation& relaxation) {
  element_range<Law, Quad, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
}
template <class Law, bool kPrestress, class Relaxation, class Sink>
[[gnu::target("avx512f")]] void range_avx512(const element* records,
                                             const ElementSlots* slots,
                                             const std::array<double, 3>* prestress,
                                             const double* xf,
                                             std::size_t begin,
                                             std::size_t end,
                                             Sink& sink,
                                             const Relaxation& relaxation) {
  element_range<Law, Octet, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
}
#endif

// The elements begin..end-1 on the path p, in the variant of a model with
// prestress (the side stresses of element e at prestress[e]) or, when
// prestress is null, in the one without. Sink is a generic callable:
// sink(e, res, l) for ElementResult<T> of the path's lane type T.
template <class Law, bool kPrestress, class Relaxation, class Sink>
void run_path(Path p,
              const element* records,
              const ElementSlots* slots,
              const std::array<double, 3>* prestress,
              const double* xf,
              std::size_t begin,
              std::size_t end,
              Sink& sink,
              const Relaxation& relaxation) {
  switch (p) {
#if defined(__x86_64__)
    case Path::avx512:
      range_avx512<Law, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
      return;
    case Path::avx2:
      range_avx2<Law, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
      return;
#else
    case Path::avx512:
    case Path::avx2:  // not supported(): current_path never returns them here
#endif
    case Path::pairs:
      range_pairs<Law, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
      return;
    case Path::scalar:
      range_scalar<Law, kPrestress>(records, slots, prestress, xf, begin, end, sink, relaxation);
      return;
  }
}
// The variant is chosen once per pass, outside the element loop: with or
// without prestress (prestress null), with or without wrinkling; a model
// with neither runs today's loops.
template <class Law, class Sink>
void run_range(Path p,
               const element* records,
               const ElementSlots* slots,
               const std::array<double, 3>* prestress,
               const double* xf,
               std::size_t begin,
               std::size_t end,
               Sink& sink,
               const std::optional<Wrinkling>& wrinkling) {
  if (wrinkling && prestress != nullptr) {
    run_path<Law, true>(p, records, slots, prestress, xf, begin, end, sink, *wrinkling);
  } else if (wrinkling) {
    run_path<Law, false>(p, records, slots, prestress, xf, begin, end, sink, *wrinkling);
  } else if (prestress != nullptr) {
    run_path<Law, true>(p, records, slots, prestress, xf, begin, end, sink, NoWrinkling{});
  } else {
    run_path<Law, false>(p, records, slots, prestress, xf, begin, end, sink, NoWrinkling{});
  }
}

// The element loops of the energy for the law's strain policy, on the
// path (lane width) chosen when the evaluator was built.
template <class Law>
class LawEvaluator final : public EnergyEvaluator {
 public:
  LawEvaluator(const analysis& a, const EvaluationOptions& options)
      : EnergyEvaluator(a, options),
        path_(current_path()),
        prestress_(a.side_prestress.empty() ? nullptr : a.side_prestress.data()),
        wrinkling_(wrinkling_of(a)) {}

 private:
  // Elements a group of lanes at a time; each group's contributions are
  // added element by element, so the sums keep element order.
  double serial_elements(const double* xf, double* gf, double f) const override {
    const ElementSlots* slots = slots_.data();
    auto add = [&f, gf, slots](std::size_t e, const auto& res, std::size_t l) {
      f = f + lane(res.energy, l);
      for (std::size_t q = 0; q < 9; ++q) {
        double& gq = gf[static_cast<std::size_t>(slots[e][q])];
        gq = gq + lane(res.grad[q], l);
      }
    };
    run_range<Law>(path_, a_.elem.data(), slots, prestress_, xf, 0, slots_.size(), add, wrinkling_);
    return f;
  }

  // One element at a time, scalar: the lanes would do the same arithmetic.
  double element_list(std::span<const std::size_t> list,
                      const ElementSlots* slots,
                      const double* xs,
                      double* gs,
                      double f) const override {
    const element* records = a_.elem.data();
    for (std::size_t i = 0; i < list.size(); ++i) {
      const ElementSlots& s = slots[i];
      double delta[9];
      for (std::size_t q = 0; q < 9; ++q) delta[q] = xs[static_cast<std::size_t>(s[q])];
      ElementResult<double> res;
      if (wrinkling_ && prestress_ != nullptr) {
        const std::array<double, 3>& n0 = prestress_[list[i]];
        evaluate<Law>(records[list[i]], delta, res, SidePrestress<double>{{n0[0], n0[1], n0[2]}}, *wrinkling_);
      } else if (wrinkling_) {
        evaluate<Law>(records[list[i]], delta, res, NoPrestress{}, *wrinkling_);
      } else if (prestress_ != nullptr) {
        const std::array<double, 3>& n0 = prestress_[list[i]];
        evaluate<Law>(records[list[i]], delta, res, SidePrestress<double>{{n0[0], n0[1], n0[2]}});
      } else {
        evaluate<Law>(records[list[i]], delta, res);
      }
      f = f + res.energy;
      for (std::size_t q = 0; q < 9; ++q) {
        double& gq = gs[static_cast<std::size_t>(s[q])];
        gq = gq + res.grad[q];
      }
    }
    return f;
  }

  // One part of a parallel pass: the elements of part t, their energies
  // and gradient terms handed on in element, vertex and axis order. Part 0
  // adds its energies to *f; the others store theirs. Every term goes into
  // the part's own gradient; the own gradient's entries that nobody reads
  // (unknowns the part does not own, prescribed components) collect terms
  // harmlessly. Only the few elements on the seam with an earlier part
  // (the list seam) also look up which of their terms to defer: one
  // well-predicted comparison per element, so that the other elements take
  // the one-thread loop's sink, with no store or look-up for terms that
  // are not deferred (BENCHMARKS.md, "Threads").
  void part_elements(std::size_t t, const double* xf, int /*n*/, double* g, double* f) override {
    const ElementSlots* slots = slots_.data();
    const double* force = a_.force.data();
    const std::size_t* entry = free_entry_.data();
    double* own = gradient_[t].data();
    for (const int k : owned_[t]) own[k] = -force[entry[k]];
    double* deferred = deferred_[t].value.data();
    const std::size_t* seam = deferred_[t].seam.data();
    const unsigned char* defers = defers_[t].data();
    double* energies = part_energies_[t].data() - part_element_[t];
    const bool first = t == 0;
    double sum = first ? *f : 0.0;
    // Captured by value, so that the loop keeps them in registers.
    auto hand_on = [own, deferred, seam, defers, energies, slots, first, &sum](
                       std::size_t e, const auto& res, std::size_t l) mutable {
      if (first) {
        sum = sum + lane(res.energy, l);
      } else {
        energies[e] = lane(res.energy, l);
      }
      const ElementSlots& s = slots[e];
      if (e != *seam) [[likely]] {
        for (std::size_t q = 0; q < 9; ++q) {
          const std::size_t k = static_cast<std::size_t>(s[q]);
          own[k] = own[k] + lane(res.grad[q], l);
        }
        return;
      }
      ++seam;
      for (std::size_t q = 0; q < 9; ++q) {
        const std::size_t k = static_cast<std::size_t>(s[q]);
        const double term = lane(res.grad[q], l);
        own[k] = own[k] + term;
        if (defers[k] != 0) *deferred++ = term;
      }
    };
    run_range<Law>(
        path_, a_.elem.data(), slots, prestress_, xf, part_element_[t], part_element_[t + 1], hand_on, wrinkling_);
    for (const int k : owned_[t]) g[k] = own[k];
    if (first) {
      *f = sum;
    } else {
      // Handed over in one sequential copy each; see DeferredTerms.
      std::copy(part_energies_[t].begin(),
                part_energies_[t].end(),
                energies_.begin() + static_cast<std::ptrdiff_t>(part_element_[t] - part_element_[1]));
      std::copy(deferred_[t].value.begin(), deferred_[t].value.end(), deferred_[t].handed.begin());
    }
  }

  const Path path_;
  const std::array<double, 3>* const prestress_;  // element e's side stresses at [e]; null: no prestress
  const std::optional<Wrinkling> wrinkling_;      // the relaxation's constants; none: the model does not wrinkle
};

}  // namespace solver::kernel
