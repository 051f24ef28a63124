#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"
#include "solver/solver.h"

// Until the command line carries --method, VELORA_METHOD=newton selects the
// second-order method, and VELORA_NEWTON_COUNTS=1 prints its counts on
// standard error (for the benchmarks).
int main() {
  const char* method = std::getenv("VELORA_METHOD");
  const bool newton = method != nullptr && std::strcmp(method, "newton") == 0;
  const int status =
      platform::run_program([newton] { solver::run(newton ? solver::Method::newton : solver::Method::lbfgs); });
  if (newton && status == 0 && std::getenv("VELORA_NEWTON_COUNTS") != nullptr) {
    const solver::NewtonCounts& c = solver::last_newton_counts;
    std::fprintf(stderr,
                 "newton: steps %d factorizations %d failed %d evaluations %d\n",
                 c.steps,
                 c.factorizations,
                 c.failed,
                 c.evaluations);
  }
  return status;
}
