#pragma once

#include "solver/analysis.h"
#include "solver/newton.h"

namespace solver {

// The minimiser of each major iteration: the limited-memory quasi-Newton
// method (the default) or the second-order method of solver/newton.h.
enum class Method { lbfgs, newton };

// Runs one analysis in the current directory: "input.txt" in, "autocad.scr"
// and "output.txt" out.
void run();
void run(Method method);

// The same on a given state (left as the run ended, for tests).
void run(analysis& a);
void run(analysis& a, Method method);

// The counts of the last run with the second-order method (tests, benchmarks).
extern NewtonCounts last_newton_counts;

}  // namespace solver
