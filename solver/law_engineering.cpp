// Material law of velora2: the engineering strain of each element side,
// lambda - 1. It is computed as (s - 1) / (lambda + 1) with s = lambda^2,
// which equals lambda - 1 but keeps its precision near lambda = 1, where a
// direct subtraction would cancel; its derivative vector is
// b = a / (lambda * length).

#include <cmath>

#include "solver/kernel.h"
#include "solver/model.h"

namespace solver {

namespace {

struct engineering_strain {
  template <class T>
  static T strain(T s, T length, T &q) {
    const T lambda = kernel::root(s);
    q = lambda * length;
    return (s - 1.0) / (lambda + 1.0);
  }
};

}  // namespace

element_state cstobj(const analysis &a, const element &e, const terms::Vector &x, std::array<double, 9> &grad) {
  return kernel::cstobj_with<engineering_strain>(a, e, x, grad);
}

double objective(analysis &a, int n, const terms::Vector &x, terms::Vector &g) {
  return kernel::objective_with<engineering_strain>(a, n, x, g);
}

}  // namespace solver
