// velora1: the solver with the Green side strain (Saint Venant-Kirchhoff).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"
#include "solver/law.h"
#include "solver/solver.h"

// Until the command line carries --method, VELORA_METHOD=newton selects the
// second-order method, and VELORA_NEWTON_COUNTS=1 prints its counts on
// standard error (for the benchmarks).
int main() {
  solver::RunOptions options;
  solver::NewtonCounts counts;
  const char* method = std::getenv("VELORA_METHOD");
  if (method != nullptr && std::strcmp(method, "newton") == 0) options.method = solver::Method::newton;
  options.newton_counts = &counts;
  const int status = platform::run_program([&options] { solver::run(solver::green_law(), options); });
  if (options.method == solver::Method::newton && status == 0 && std::getenv("VELORA_NEWTON_COUNTS") != nullptr) {
    std::fprintf(stderr,
                 "newton: steps %d factorizations %d failed %d evaluations %d tangent entries %.0f factor entries %.0f\n",
                 counts.steps,
                 counts.factorizations,
                 counts.failed,
                 counts.evaluations,
                 counts.tangent_entries,
                 counts.factor_entries);
  }
  return status;
}
