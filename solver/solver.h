#pragma once

#include "solver/analysis.h"

namespace solver {

// Runs one analysis in the current directory: "input.txt" in, "autocad.scr"
// and "output.txt" out.
void run();

// The same on a given state (left as the run ended, for tests).
void run(analysis& a);

}  // namespace solver
