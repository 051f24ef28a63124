#pragma once
// The main of a solver program: its command line (cli::CommandLine with the
// solver options), the run options it gives the driver, and the progress
// line on standard error.

#include <string>

#include "cli/command_line.h"
#include "energy/law.h"
#include "solver/solver.h"

namespace programs {

// The options of the solver programs, as given on the command line.
struct SolverOptions {
  std::string method = "lbfgs";  // the minimiser: "lbfgs" or "newton" (or VELORA_METHOD)
  unsigned threads = 0;          // 0: the CPUs this process may run on
  bool progress = false;         // --progress: show progress even when stderr is no terminal
  bool quiet = false;            // --quiet: never show progress
  bool wrinkling = false;        // --wrinkling: tension-field membrane even when the model file does not say so
  // The second-order method's diagnostics, for benchmarks and comparisons;
  // each needs --method newton (docs/newton.md, rules 6 and 7).
  std::string newton_step = "cg";                // --newton-step cg|direct: the way of taking a step
  std::string newton_preconditioner = "double";  // --newton-preconditioner double|single
  std::string newton_regions = "on";             // --newton-regions on|off: the steps on regions
  std::string newton_pressure = "potential";     // --newton-pressure potential|frozen: the pressure's load stiffness
  bool newton_counts = false;                    // --newton-counts: print the method's counts on stderr
  bool newton_times = false;                     // --newton-times: print where the run's time went on stderr
};

// The largest --threads accepted (more than any machine we run on; the
// pool falls back to fewer when threads cannot start).
inline constexpr unsigned kMaxThreads = 1024;

// Adds --method, --threads, --progress, --quiet, --wrinkling and the second-order
// method's diagnostics to line, parsed into options (which must outlive
// the parse); a diagnostic without --method newton is a usage error.
void add_solver_options(cli::CommandLine& line, SolverOptions& options);

// What the options ask of the driver.
solver::RunOptions run_options(const SolverOptions& given);

// Parses the command line of the program `name` and solves the model of
// the working directory with `law`. Returns the exit status.
int solver_main(int argc, const char* const* argv, const char* name, const solver::MaterialLaw& law);

}  // namespace programs
