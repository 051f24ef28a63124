#pragma once
// What a solver run tells an observer while it minimises: once per
// objective evaluation, cheap arguments only, and once at the end of each
// major iteration. The observer decides itself whether it updates (a clock
// check) and reads the gradient only then.

#include <string>
#include <utility>

#include "platform/failure.h"
#include "terms/terms.h"

namespace solver {

// The state of a run right after one objective evaluation.
struct Evaluation {
  int major = 0;                     // the major iteration running, 1..maxmajor
  int minor = 0;                     // minor iterations (line searches) begun so far, over the whole run
  long long evaluations = 0;         // objective evaluations so far, over the whole run
  int n = 0;                         // the number of unknowns
  const terms::Vector* g = nullptr;  // gradient at the point just evaluated, g(1..n)
  double residue = 0.0;              // the allowable residue: converged when norm(n, g) <= residue
  double energy = 0.0;               // the total potential energy at that point
};

class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // Called after every objective evaluation of the minimisers: must return
  // quickly and must not change anything the run reads.
  virtual void evaluated(const Evaluation& e) = 0;
  // Called once before the first major iteration (major 0: the starting
  // state) and once after each major iteration, its loads refreshed: g and
  // energy are those the driver's loop test judges.
  virtual void major_done(const Evaluation& /*e*/) {}
};

// What an observer throws to stop a run on a request of its user (an
// interrupt): nothing in the driver catches it, so the run ends there, with
// no result written.
struct Stopped : platform::Failure {
  explicit Stopped(std::string message) : Failure("STOPPED", std::move(message)) {}
};

}  // namespace solver
