#pragma once
// Minimiser library: unconstrained minimisation of a smooth function of n
// unknowns, given a routine that returns the value and fills the gradient.
//
// This header holds what every minimiser shares: the largest-component norm
// used by all convergence tests, the dot product in index order, the
// result, and the failure HALT that a line search raises when it is handed
// a direction that does not descend. The minimisers themselves are in
// nlp/qn.h, a class template instantiated with the objective.

#include <cmath>
#include <cstdio>
#include <source_location>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "terms/terms.h"

namespace nlp {

// Largest |v(i)| over i = 1..n, starting from 0.0; 0.0 for n <= 0. A NaN
// element never replaces the result (the comparison with it is false), so a
// NaN is invisible to the convergence tests unless every element is NaN.
inline double norm(int n, const terms::Vector& v) {
  double result = 0.0;
  const double* p = v.data();
  for (int i = 0; i < n; ++i) {
    const double a = std::fabs(p[i]);
    if (a > result) result = a;
  }
  return result;
}

// The sum of a[i] * b[i] for i = 0..n-1 (0-based storage), from 0.0 in
// index order: the one order every slope and curvature of the minimisers
// is summed in, so that the same vectors give the same bits.
inline double dot(int n, const double* a, const double* b) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum = sum + a[i] * b[i];
  return sum;
}

// An objective f(n, x, g) with a second entry for the trial points of a
// line search: at_step(n, x0, step, d, x, g, slope) stores x0(i) +
// step*d(i) in x(i), i = 1..n, returns the objective there as f(n, x, g)
// would, and sets slope to dot(n, d, g) at the point, forming the point
// and summing the slope in whatever passes suit the objective (qn's trial
// calls it where it has it).
template <class Evaluate, class AtStep>
struct SteppedObjective {
  Evaluate& evaluate;
  AtStep& step;
  double operator()(int n, const terms::Vector& x, terms::Vector& g) { return evaluate(n, x, g); }
  double at_step(int n,
                 const terms::Vector& x0,
                 double a,
                 const terms::Vector& d,
                 terms::Vector& x,
                 terms::Vector& g,
                 double& slope) {
    return step(n, x0, a, d, x, g, slope);
  }
};

// What a minimiser returns: the qn minimisers (nlp/qn.h) and the
// second-order method of the solvers.
struct Result {
  int iterations;  // steps: line searches begun (qn: at least 1), or accepted steps
  double value;    // objective at the returned x, as the last evaluation there gave it
  bool converged;  // norm(n, g) <= gtol at the returned x
  // Stopped before its iteration limit without converging, because no step
  // it could take lowered the objective (the second-order method, its
  // shift at the ceiling); the qn minimisers never stop so.
  bool stalled = false;
};

// Raised by the line search when the slope along the search direction is not
// negative at the start point. Nothing handles it: the program ends with the
// failure report "raised NLP.HALT : <file>:<line>".
struct HALT : platform::Failure {
  explicit HALT(std::string message) : Failure("NLP.HALT", std::move(message)) {}
};

namespace detail {

// "nlp/qn.h:123": the last directory and the file name, so the message does
// not depend on where the sources were checked out.
inline std::string source_position(const std::source_location& where) {
  std::string_view file = where.file_name();
  const std::size_t slash = file.rfind('/');
  if (slash != std::string_view::npos && slash > 0) {
    const std::size_t before = file.rfind('/', slash - 1);
    if (before != std::string_view::npos) file.remove_prefix(before + 1);
  }
  return std::string(file) + ":" + std::to_string(where.line());
}

}  // namespace detail

// Writes "Line Search Failure" and a line end to standard output, flushes it
// so the line precedes the failure report on standard error, and raises HALT
// with the caller's source position as its message.
[[noreturn]] inline void halt(std::source_location where = std::source_location::current()) {
  std::fputs("Line Search Failure\n", stdout);
  std::fflush(stdout);
  throw HALT(detail::source_position(where));
}

}  // namespace nlp
