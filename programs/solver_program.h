#pragma once
// The main of a solver program: its command line (cli::CommandLine with the
// solver options), the run options it gives the driver, and the progress
// line on standard error.

#include <string>

#include "cli/command_line.h"
#include "energy/law.h"

namespace programs {

// The options of the solver programs, as given on the command line.
struct SolverOptions {
  std::string method = "lbfgs";  // the minimiser: "lbfgs" or "newton"
  unsigned threads = 0;          // 0: the CPUs this process may run on
  bool progress = false;         // --progress: show progress even when stderr is no terminal
  bool quiet = false;            // --quiet: never show progress
};

// The largest --threads accepted (more than any machine we run on; the
// pool falls back to fewer when threads cannot start).
inline constexpr unsigned kMaxThreads = 1024;

// Adds --method, --threads, --progress and --quiet to line, parsed into
// options (which must outlive the parse).
void add_solver_options(cli::CommandLine& line, SolverOptions& options);

// Parses the command line of the program `name` and solves the model of
// the working directory with `law`. Returns the exit status.
int solver_main(int argc, const char* const* argv, const char* name, const solver::MaterialLaw& law);

}  // namespace programs
