#pragma once
// What a solver run tells an observer while it minimises: once per
// objective evaluation, cheap arguments only. The observer decides itself
// whether it updates (a clock check) and reads the gradient only then.

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
};

class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // Called after every objective evaluation of the minimisers: must return
  // quickly and must not change anything the run reads.
  virtual void evaluated(const Evaluation& e) = 0;
};

}  // namespace solver
