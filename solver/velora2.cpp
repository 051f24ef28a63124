// velora2: the solver with the engineering side strain.
#include "platform/failure.h"
#include "solver/law.h"
#include "solver/solver.h"

int main() { return platform::run_program([] { solver::run(solver::engineering_law()); }); }
