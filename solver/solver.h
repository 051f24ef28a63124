#pragma once

#include <string>

#include "energy/law.h"
#include "model/analysis.h"
#include "newton/newton.h"
#include "platform/failure.h"
#include "solver/progress.h"

namespace solver {

// The minimiser of a major iteration.
enum class Method {
  lbfgs,   // the limited-memory BFGS method with its cubic line search (the default)
  newton,  // a safeguarded Newton method with a sparse Cholesky factorization
};

struct RunOptions {
  // Threads of the energy evaluation, the calling thread included; 0: the
  // CPUs this process may run on. The results do not depend on it.
  unsigned threads = 0;
  // Fewest elements worth more than one thread (tests lower it to run small
  // models in parallel).
  int parallel_from = EvaluationOptions{}.parallel_from;
  Method method = Method::lbfgs;
  // Every element a tension-field membrane (energy/wrinkling.h), also when
  // the model file does not say :wrinkling on (--wrinkling).
  bool wrinkling = false;
  // The second-order method minimises the pressure's potential with the
  // elements' energy where the pressure has one (energy/gas.h,
  // PressurePotential): one major iteration then reaches the equilibrium.
  // false, or a pressure without a potential: frozen within each major
  // iteration and refreshed between them, as the default method does.
  bool newton_pressure_potential = true;
  // The second-order method's settings (benchmarks and tests compare its
  // ways of taking a step and its preconditioners).
  NewtonOptions newton;
  // Where the second-order method leaves its counts (tests, benchmarks);
  // none when null.
  NewtonCounts* newton_counts = nullptr;
  // Told of every objective evaluation of the minimisers (not owned; none
  // when null). It sees the run, it does not change it.
  ProgressObserver* progress = nullptr;
};

// A run whose state is no solution: the energy or a displacement is no
// longer finite, or the energy has reached the end of the doubles, or the
// second-order method found no step that lowers it. A data failure, so the
// programs report it as one; its own type lets a caller tell it apart.
struct Diverged : platform::DataError {
  using platform::DataError::DataError;
};

// A run in three steps: input (model/model.h) reads the model into a
// fresh state, solve solves it in memory, write_results (solver/results.h)
// writes its files.

// Sets up a state that input has filled and runs the major iterations;
// the state then holds the solution (u, g, force, the counters). Writes
// nothing: every failure leaves the files as they were.
void solve(analysis& a, const MaterialLaw& law, const RunOptions& options = {});

// The residual force below which a set-up model's starting residual is
// rounding noise of its internal forces (the model is then in equilibrium
// where it starts).
double rounding_level(const analysis& a);

// Runs one analysis on a state: "input.txt" in, "autocad.scr" and
// "output.txt" out, in the current directory; the state is left as the run
// ended (tests look at it).
void run(analysis& a, const MaterialLaw& law, const RunOptions& options = {});

// The same on a fresh state: what a solver program does.
void run(const MaterialLaw& law, const RunOptions& options = {});

}  // namespace solver
