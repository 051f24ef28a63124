// velora1: the solver with the Green side strain (Saint Venant-Kirchhoff).
#include "platform/failure.h"
#include "solver/law.h"
#include "solver/solver.h"

int main() { return platform::run_program([] { solver::run(solver::green_law()); }); }
