#pragma once
// The main of a solver program: its command line (cli::CommandLine with the
// solver options), the run options it gives the driver, and the progress
// line on standard error.

#include "solver/law.h"

namespace solver {

// Parses the command line of the program `name` and solves the model of
// the working directory with `law`. Returns the exit status.
int program_main(int argc, const char* const* argv, const char* name, const MaterialLaw& law);

}  // namespace solver
