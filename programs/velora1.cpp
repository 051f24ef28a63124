// velora1: the solver with the Green side strain (Saint Venant-Kirchhoff).
#include "energy/law.h"
#include "programs/solver_program.h"

int main(int argc, char** argv) { return programs::solver_main(argc, argv, "velora1", solver::green_law()); }
