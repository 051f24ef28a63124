// Material law of velora1: the Green strain of each element side, which
// makes the element a Saint Venant-Kirchhoff membrane.

#include "energy/kernel.h"
#include "energy/law.h"
#include "energy/strain.h"
#include "energy/tangent.h"

namespace solver {

namespace {

class GreenLaw final : public MaterialLaw {
 public:
  const char* name() const override { return "green"; }

  ElementState cstobj(const analysis& a,
                      const element& e,
                      const terms::Vector& x,
                      std::array<double, 9>& grad) const override {
    return kernel::cstobj_with<GreenStrain>(a, e, x, grad);
  }

  std::unique_ptr<EnergyEvaluator> evaluator(const analysis& a, const EvaluationOptions& options) const override {
    return std::make_unique<kernel::LawEvaluator<GreenStrain>>(a, options);
  }

  void tangent(const analysis& a,
               const std::vector<ElementSlots>& slots,
               const terms::Vector& x,
               std::span<const int> position,
               bool clamp,
               std::span<double> values) const override {
    assemble_tangent<GreenStrain>(a, slots, x, position, clamp, values);
  }

  void element_tangent(const element& e, const double (&delta)[9], bool clamp, double (&h)[81]) const override {
    solver::element_tangent<GreenStrain>(e, delta, clamp, h);
  }
};

}  // namespace

const MaterialLaw& green_law() {
  static const GreenLaw law;
  return law;
}

}  // namespace solver
