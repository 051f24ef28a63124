#pragma once
// The whole model's tangent for the second-order method: the elements'
// part (the material law's element tangent, energy/tangent.h) and, where
// the pressure is a potential, its load stiffness (energy/gas.h), summed
// on the evaluator's threads with the bits of the one-thread sum.
//
// The one-thread sum adds, into each stored entry, every element's term
// in element order, then every pressed element's term in element order.
// Here the elements are cut into contiguous parts, one per thread. An
// entry that the elements of one part alone touch takes that part's terms
// straight away, in element order: no other term reaches it. An entry on
// a seam (touched by elements of more than one part) takes the elements'
// terms of its first part straight away; every other term for it is kept,
// by its part, in a list, and the lists are added afterwards on the
// calling thread: the elements' lists part by part, then the pressure's
// lists part by part. Each list holds its terms in element order, so every
// entry is summed in the one-thread order, whatever the thread count. The
// seams are the few elements at the ends of the parts: which of their
// entries wait is worked out once, with the parts.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "energy/evaluator.h"
#include "energy/gas.h"
#include "energy/law.h"
#include "energy/wrinkling.h"
#include "model/analysis.h"
#include "newton/tangent_pattern.h"
#include "platform/thread_pool.h"
#include "terms/terms.h"

namespace solver {

class TangentAssembly {
 public:
  // For the set-up model a with the elements' slots and the pattern p; the
  // pressure's potential when pressure is not empty; on the threads of
  // pool, or on the calling thread when it is null. All must outlive it.
  TangentAssembly(const analysis& a,
                  const MaterialLaw& law,
                  const std::vector<ElementSlots>& slots,
                  const TangentPattern& p,
                  const PressurePotential& pressure,
                  platform::ThreadPool* pool);

  // The tangent at x into values (cleared first), on p's positions: the
  // elements' part (clamped with clamp) and, with with_pressure, the
  // pressure's (indefinite: never with clamp).
  void assemble(const terms::Vector& x, bool clamp, bool with_pressure, std::span<double> values);

  // The threads it sums on (1: the calling thread alone).
  std::size_t parts() const { return parts_.size(); }

 private:
  struct Term {
    int entry;
    double value;
  };
  // An element at a seam, and which of its positions wait (bit 0: its
  // element term, bit 1: its pressure term).
  struct SeamElement {
    std::size_t element;
    unsigned char waits[TangentPattern::kEntries];
  };
  struct Part {
    std::size_t begin = 0, end = 0;  // its elements
    std::size_t pressed_begin = 0;   // its first pressed element, an index into the pressure's list
    std::size_t pressed_end = 0;
    std::vector<SeamElement> seam;    // increasing elements
    std::vector<Term> element_terms;  // the waiting terms of the last assembly, in element order
    std::vector<Term> pressure_terms;
  };
  void assemble_part(Part& part, bool clamp, bool with_pressure);

  const analysis& a_;
  const MaterialLaw& law_;
  const std::vector<ElementSlots>& slots_;
  const TangentPattern& pattern_;
  const PressurePotential& pressure_;
  platform::ThreadPool* pool_;
  std::optional<Wrinkling> wrinkling_;  // the relaxation, when the model wrinkles
  std::vector<Part> parts_;
  // The assembly running: the displacements by slot, x, and the values.
  std::vector<double> full_;
  const terms::Vector* x_ = nullptr;
  std::span<double> values_;
};

}  // namespace solver
