// Material law of velora1: the Green strain of each element side, which
// makes the element a Saint Venant-Kirchhoff membrane.

#include "solver/kernel.h"
#include "solver/law.h"
#include "solver/strain.h"
#include "solver/tangent.h"

namespace solver {

namespace {

class GreenLaw final : public MaterialLaw {
 public:
  const char* name() const override { return "green"; }

  element_state cstobj(const analysis& a,
                       const element& e,
                       const terms::Vector& x,
                       std::array<double, 9>& grad) const override {
    return kernel::cstobj_with<green_strain>(a, e, x, grad);
  }

  std::unique_ptr<EnergyEvaluator> evaluator(const analysis& a, const EvaluationOptions& options) const override {
    return std::make_unique<kernel::LawEvaluator<green_strain>>(a, options);
  }

  void tangent(const analysis& a,
               const std::vector<element_slots>& slots,
               const terms::Vector& x,
               const TangentPattern& p,
               bool clamp,
               std::span<double> values) const override {
    assemble_tangent<green_strain>(a, slots, x, p, clamp, values);
  }

  void element_tangent(const element& e, const double (&delta)[9], bool clamp, double (&h)[81]) const override {
    solver::element_tangent<green_strain>(e, delta, clamp, h);
  }
};

}  // namespace

const MaterialLaw& green_law() {
  static const GreenLaw law;
  return law;
}

}  // namespace solver
