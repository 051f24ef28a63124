// Minimises the Rosenbrock function f = 100 (y - x^2)^2 + (1 - x)^2 from
// (-1.2, 1) with the installed lbfgs; prints the minimiser's result and
// exits 0 when it found the minimum at (1, 1).
#include <cmath>
#include <cstdio>

#include "nlp/nlp.h"
#include "nlp/qn.h"
#include "terms/terms.h"

int main() {
  auto rosenbrock = [](int, const terms::Vector& x, terms::Vector& g) {
    const double t = x(2) - x(1) * x(1);
    const double e = 1.0 - x(1);
    g(1) = -400.0 * x(1) * t - 2.0 * e;
    g(2) = 200.0 * t;
    return 100.0 * t * t + e * e;
  };
  terms::Vector x(2);
  terms::Vector g(2);
  x(1) = -1.2;
  x(2) = 1.0;
  nlp::qn<decltype(rosenbrock)> minimiser(rosenbrock);
  const auto r = minimiser.lbfgs(5, 2, 1000, 20, 1e-10, 0.1, x, g);
  std::printf("iterations %d  f %.3e  x (%.12f, %.12f)  converged %s\n",
              r.iterations,
              r.value,
              x(1),
              x(2),
              r.converged ? "yes" : "no");
  const bool found = r.converged && std::fabs(x(1) - 1.0) < 1e-8 && std::fabs(x(2) - 1.0) < 1e-8;
  return found ? 0 : 1;
}
