#pragma once
// What the second-order minimiser minimises (newton/newton.h): a problem
// gives the energy, its gradient and the values of its tangent on a
// pattern fixed when the problem is made. The whole model under frozen
// loads is one such problem (solver/solver.cpp); a region of it, the rest
// of its unknowns held, is another (newton/region.h). The minimiser knows
// both only through these two interfaces.

#include <memory>
#include <span>
#include <vector>

#include "energy/gas.h"
#include "newton/tangent_pattern.h"
#include "terms/terms.h"

namespace solver {

class SubProblem;

class NewtonProblem {
 public:
  virtual ~NewtonProblem() = default;
  // Energy at x(1..n), its gradient into g(1..n).
  virtual double energy(int n, const terms::Vector& x, terms::Vector& g) = 0;
  // The values of the tangent at x on the problem's pattern; with clamp,
  // the compressive side forces left out (positive semi-definite).
  virtual void tangent(const terms::Vector& x, bool clamp, std::span<double> values) = 0;
  // Terms w v v^T of the second derivative at x that couple more unknowns
  // than the pattern holds (a gas chamber's, energy/gas.h): the second
  // derivative is the tangent plus their sum. Each w is positive, so they
  // keep a positive definite matrix so. None by default.
  virtual std::vector<RankOne> rank_one(const terms::Vector& /*x*/) { return {}; }
  // The problem on the region grown by `rings` rings of elements around the
  // unknowns seed (0-based, increasing), every other unknown held at x; p
  // and shift are this problem's pattern and shift matrix. None where the
  // problem has no elements to grow a region from (the default).
  virtual std::unique_ptr<SubProblem> region(const terms::Vector& /*x*/,
                                             std::span<const int> /*seed*/,
                                             int /*rings*/,
                                             const TangentPattern& /*p*/,
                                             const std::vector<double>& /*shift*/) {
    return nullptr;
  }
};

// A problem over some of another problem's unknowns, the others held: its
// energy differs from the other's by a constant, so both have the same
// gradient and tangent at its unknowns.
class SubProblem : public NewtonProblem {
 public:
  // Its unknowns: 0-based unknowns of the other problem, increasing.
  virtual const std::vector<int>& unknowns() const = 0;
  // Its tangent's pattern and shift matrix (the other's among its unknowns).
  virtual const TangentPattern& pattern() const = 0;
  virtual const std::vector<double>& shift() const = 0;
  // Its unknowns at the other problem's x, in its order.
  terms::Vector gather(const terms::Vector& x) const;
  // Writes its unknowns xr into the other problem's x.
  void scatter(const terms::Vector& xr, terms::Vector& x) const;
};

inline terms::Vector SubProblem::gather(const terms::Vector& x) const {
  const std::vector<int>& own = unknowns();
  terms::Vector xr(static_cast<int>(own.size()));
  for (std::size_t i = 0; i < own.size(); ++i) xr.data()[i] = x.data()[own[i]];
  return xr;
}

inline void SubProblem::scatter(const terms::Vector& xr, terms::Vector& x) const {
  const std::vector<int>& own = unknowns();
  for (std::size_t i = 0; i < own.size(); ++i) x.data()[own[i]] = xr.data()[i];
}

}  // namespace solver
