// velora2: the solver with the engineering side strain.
#include "energy/law.h"
#include "programs/solver_program.h"

int main(int argc, char** argv) { return programs::solver_main(argc, argv, "velora2", solver::engineering_law()); }
