// Material law of velora2: the engineering strain of each element side,
// lambda - 1. It is computed as (s - 1) / (lambda + 1) with s = lambda^2,
// which equals lambda - 1 but keeps its precision near lambda = 1, where a
// direct subtraction would cancel; its derivative vector is
// b = a / (lambda * length).

#include <cmath>

#include "solver/kernel.h"
#include "solver/strain.h"
#include "solver/tangent.h"
#include "solver/model.h"

namespace solver {

element_state cstobj(const analysis &a, const element &e, const terms::Vector &x, std::array<double, 9> &grad) {
  return kernel::cstobj_with<engineering_strain>(a, e, x, grad);
}

double objective(analysis &a, int n, const terms::Vector &x, terms::Vector &g) {
  return kernel::objective_with<engineering_strain>(a, n, x, g);
}

void tangent(const analysis &a, const terms::Vector &x, const TangentPattern &p, bool clamp,
             std::vector<double> &values) {
  assemble_tangent<engineering_strain>(a, x, p, clamp, values);
}

}  // namespace solver
