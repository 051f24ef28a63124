#pragma once
// The energy of a model as a function of a few of its unknowns, every other
// unknown held where it is: the problem a Newton minimiser solves on a small
// region of the membrane.
//
// Why: part-way through a solve the residual forces of a pressurised sheet
// gather in a few places (the compressed corners of a square, where the
// sheet wrinkles): nearly all of the gradient's square in a small share of
// the unknowns, while the rest is already in equilibrium (BENCHMARKS.md,
// "Steps on regions where the gradient gathers"). Every step of the whole
// model there costs a factorization or solves with the whole factor for a
// change in those few unknowns. On the region around them, a step costs a
// factorization of the region alone, and the region's energy, a sum over
// its own elements only, resolves decreases that the whole model's
// rounding hides (its rounding is that of a far shorter sum).
//
// A region is grown from seed unknowns by rings of elements: the elements
// around the seeds, then all the free unknowns of those elements, and so on.
// Its energy is the strain energy of every element that touches one of its
// unknowns minus the work of the (frozen) loads at its unknowns; the
// difference from the whole model's energy does not depend on the region's
// unknowns, so both have the same gradient and tangent there.

#include <cstddef>
#include <span>
#include <vector>

#include "energy/evaluator.h"
#include "energy/gas.h"
#include "energy/law.h"
#include "model/analysis.h"
#include "newton/problem.h"
#include "newton/tangent_pattern.h"
#include "terms/terms.h"

namespace solver {

class RegionProblem final : public SubProblem {
 public:
  // The region grown by `rings` rings of elements around the unknowns
  // `seed` (0-based, increasing) of the model a, at the unknowns x
  // (1..nfree). Its energy is evaluated through the model's evaluator (its
  // slots and element code), its tangent through the law. pattern and
  // shift: the whole model's tangent pattern and shift matrix, whose
  // entries among the region's unknowns are the region's shift. pressure:
  // the pressure's potential where the model minimises it (none: frozen in
  // the loads); its part is element by element, so the region's elements
  // carry theirs.
  RegionProblem(const analysis& a,
                const EnergyEvaluator& evaluator,
                const MaterialLaw& law,
                const TangentPattern& pattern,
                const std::vector<double>& shift,
                const terms::Vector& x,
                std::span<const int> seed,
                int rings,
                const PressurePotential* pressure = nullptr);

  // The region's unknowns (0-based model unknowns, increasing) and elements.
  const std::vector<int>& unknowns() const override { return unknowns_; }
  std::size_t elements() const { return elements_.size(); }
  const TangentPattern& pattern() const override { return pattern_; }
  const std::vector<double>& shift() const override { return shift_; }

  double energy(int n, const terms::Vector& xr, terms::Vector& gr) override;
  void tangent(const terms::Vector& xr, bool clamp, std::span<double> values) override;

 private:
  // The region's unknowns xr into the workspace.
  void place(const terms::Vector& xr);

  const analysis& a_;
  const EnergyEvaluator& evaluator_;
  const MaterialLaw& law_;
  const PressurePotential* pressure_;
  std::vector<int> unknowns_;              // model unknowns, 0-based, increasing
  std::vector<std::size_t> elements_;      // model elements touching them, increasing
  std::vector<ElementSlots> local_slots_;  // per region element: its components' places in the workspace
  std::vector<double> force_;              // per region unknown: its frozen load
  TangentPattern pattern_;
  std::vector<double> shift_;
  // The displacements of the region's elements: its unknowns at 0..n-1,
  // then every held component (another unknown, held where it was, or a
  // prescribed displacement) once. gradient_: the same places, the held
  // ones collecting terms nobody reads.
  std::vector<double> workspace_;
  std::vector<double> gradient_;
};

}  // namespace solver
