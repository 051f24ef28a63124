// velora2: the solver with the engineering side strain.
#include "solver/law.h"
#include "solver/program.h"

int main(int argc, char** argv) { return solver::program_main(argc, argv, "velora2", solver::engineering_law()); }
