// velora1: the solver with the Green side strain (Saint Venant-Kirchhoff).
#include "solver/law.h"
#include "solver/program.h"

int main(int argc, char** argv) { return solver::program_main(argc, argv, "velora1", solver::green_law()); }
