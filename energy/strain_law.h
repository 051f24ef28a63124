#pragma once
// A material law made from its side strain (energy/strain.h): every entry
// of MaterialLaw is the element code of energy/kernel.h and energy/tangent.h
// instantiated for that one strain. Each law's source instantiates it once
// (law_green.cpp, law_engineering.cpp), so each law is an object file of its
// own and a program links only the law it names.

#include <array>
#include <memory>
#include <span>
#include <vector>

#include "energy/kernel.h"
#include "energy/law.h"
#include "energy/tangent.h"

namespace solver {

template <class Strain>
class StrainLaw final : public MaterialLaw {
 public:
  const char* name() const override { return Strain::kName; }

  ElementState cstobj(const analysis& a,
                      const element& e,
                      const terms::Vector& x,
                      std::array<double, 9>& grad) const override {
    return kernel::cstobj_with<Strain>(a, e, x, grad);
  }

  std::unique_ptr<EnergyEvaluator> evaluator(const analysis& a, const EvaluationOptions& options) const override {
    return std::make_unique<kernel::LawEvaluator<Strain>>(a, options);
  }

  void tangent(const analysis& a,
               const std::vector<ElementSlots>& slots,
               const terms::Vector& x,
               std::span<const int> position,
               bool clamp,
               std::span<double> values) const override {
    assemble_tangent<Strain>(a, slots, x, position, clamp, values);
  }

  void element_tangent(const element& e,
                       const double (&delta)[9],
                       bool clamp,
                       double (&h)[81],
                       const std::array<double, 3>* prestress,
                       const Wrinkling* wrinkling) const override {
    solver::element_tangent<Strain>(e, delta, clamp, h, prestress, wrinkling);
  }
};

}  // namespace solver
