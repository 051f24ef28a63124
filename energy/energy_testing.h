#pragma once
// Test helpers of the energy: the law a test program is built for, and the
// energy and slots of small models (model/model_testing.h builds them).

#include <array>
#include <vector>

#include "energy/evaluator.h"
#include "energy/law.h"
#include "model/analysis.h"
#include "model/model_testing.h"
#include "terms/terms.h"

namespace solver::testing {

// The law a law-dependent test program is built for: the whole-program
// tests are built once per law, VELORA_GREEN selecting the Green strain.
inline const MaterialLaw& tested_law() {
#if defined(VELORA_GREEN)
  return green_law();
#else
  return engineering_law();
#endif
}

// The total potential energy at x and its gradient, by an evaluator built
// for this one call on one thread: tests change the model between calls.
inline double objective(
    const analysis& a, int n, const terms::Vector& x, terms::Vector& g, const MaterialLaw& law = tested_law()) {
  return (*law.evaluator(a, EvaluationOptions{1, EvaluationOptions{}.parallel_from}))(n, x, g);
}

// The slots of the elements, as the energy evaluator lays them out.
inline std::vector<ElementSlots> element_slots_of(const analysis& a) {
  return green_law().evaluator(a, EvaluationOptions{1, 1})->slots();
}

}  // namespace solver::testing
