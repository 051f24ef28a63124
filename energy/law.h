#pragma once
// A material law: how an element's sides are strained. The two laws differ
// only in the side strain (energy/strain.h); each is one instantiation of
// StrainLaw (energy/strain_law.h) in an object file of its own
// (law_green.cpp, law_engineering.cpp). A program chooses its law at run
// time by passing one to the driver.

#include <array>
#include <memory>
#include <span>
#include <vector>

#include "energy/evaluator.h"
#include "model/analysis.h"
#include "model/model.h"
#include "terms/terms.h"

namespace solver {

struct Wrinkling;  // energy/wrinkling.h

// Side stresses N1, N2, N3 (with the prestress, when there is one) and
// strain energy of one element (the relaxed ones when the model wrinkles).
struct ElementState {
  double n1 = 0.0;
  double n2 = 0.0;
  double n3 = 0.0;
  double energy = 0.0;
  int state = 0;  // with wrinkling (energy/wrinkling.h): 0 taut, 1 wrinkled, 2 slack; 0 without
};

class MaterialLaw {
 public:
  virtual ~MaterialLaw() = default;

  // A short name for messages and tests: "green" or "engineering".
  virtual const char* name() const = 0;

  // One element at unknowns x (1..nfree): side stresses, strain energy, and
  // in grad the gradient of the energy with respect to the nine
  // displacement components (vertex 1 X, Y, Z, vertex 2 ..., vertex 3 ...).
  // When e is one of a's records and a carries a prestress, the side
  // stresses include e's, and the energy its work (energy/kernel.h).
  virtual ElementState cstobj(const analysis& a,
                              const element& e,
                              const terms::Vector& x,
                              std::array<double, 9>& grad) const = 0;

  // The energy evaluation of the set-up model a with this law.
  virtual std::unique_ptr<EnergyEvaluator> evaluator(const analysis& a, const EvaluationOptions& options) const = 0;

  // The tangent (second derivative) of the strain energy at x (1..nfree)
  // summed into values, which it first clears: position holds, for every
  // element in turn, where each of the kTangentEntries entries of the upper
  // triangle of its 9 x 9 tangent goes in values (-1 for a component that
  // is not an unknown). With clamp, the compressive side forces are left
  // out (energy/tangent.h).
  virtual void tangent(const analysis& a,
                       const std::vector<ElementSlots>& slots,
                       const terms::Vector& x,
                       std::span<const int> position,
                       bool clamp,
                       std::span<double> values) const = 0;

  // One element's tangent at its nine displacement components delta, row by
  // row (energy/tangent.h), with the side stresses of its prestress (none
  // when null), relaxed by wrinkling (none when null).
  virtual void element_tangent(const element& e,
                               const double (&delta)[9],
                               bool clamp,
                               double (&h)[81],
                               const std::array<double, 3>* prestress,
                               const Wrinkling* wrinkling) const = 0;
};

// The Green strain of each side, (lambda^2 - 1) / 2: the Saint
// Venant-Kirchhoff membrane (velora1). In law_green.cpp.
const MaterialLaw& green_law();

// The engineering strain of each side, lambda - 1 (velora2). In
// law_engineering.cpp.
const MaterialLaw& engineering_law();

}  // namespace solver
