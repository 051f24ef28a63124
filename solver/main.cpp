#include "platform/failure.h"
#include "solver/solver.h"

int main() { return platform::run_program([] { solver::run(); }); }
