// Material law of velora1: the Green strain of each element side,
// (lambda^2 - 1) / 2, which makes the element a Saint Venant-Kirchhoff
// membrane. The strain is a polynomial of the displacements, so no square
// root is needed: with s = lambda^2 the strain is 0.5 * (s - 1) and its
// derivative vector b = a / length.

#include "solver/kernel.h"
#include "solver/strain.h"
#include "solver/tangent.h"
#include "solver/model.h"

namespace solver {

element_state cstobj(const analysis &a, const element &e, const terms::Vector &x, std::array<double, 9> &grad) {
  return kernel::cstobj_with<green_strain>(a, e, x, grad);
}

double objective(analysis &a, int n, const terms::Vector &x, terms::Vector &g) {
  return kernel::objective_with<green_strain>(a, n, x, g);
}

void tangent(const analysis &a, const terms::Vector &x, const TangentPattern &p, bool clamp,
             std::vector<double> &values) {
  assemble_tangent<green_strain>(a, x, p, clamp, values);
}

}  // namespace solver
