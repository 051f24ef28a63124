// Material law of velora2: the engineering strain of each element side.

#include "energy/kernel.h"
#include "energy/law.h"
#include "energy/strain.h"
#include "energy/tangent.h"

namespace solver {

namespace {

class EngineeringLaw final : public MaterialLaw {
 public:
  const char* name() const override { return "engineering"; }

  ElementState cstobj(const analysis& a,
                      const element& e,
                      const terms::Vector& x,
                      std::array<double, 9>& grad) const override {
    return kernel::cstobj_with<EngineeringStrain>(a, e, x, grad);
  }

  std::unique_ptr<EnergyEvaluator> evaluator(const analysis& a, const EvaluationOptions& options) const override {
    return std::make_unique<kernel::LawEvaluator<EngineeringStrain>>(a, options);
  }

  void tangent(const analysis& a,
               const std::vector<ElementSlots>& slots,
               const terms::Vector& x,
               std::span<const int> position,
               bool clamp,
               std::span<double> values) const override {
    assemble_tangent<EngineeringStrain>(a, slots, x, position, clamp, values);
  }

  void element_tangent(const element& e, const double (&delta)[9], bool clamp, double (&h)[81]) const override {
    solver::element_tangent<EngineeringStrain>(e, delta, clamp, h);
  }
};

}  // namespace

const MaterialLaw& engineering_law() {
  static const EngineeringLaw law;
  return law;
}

}  // namespace solver
