#pragma once
// The safeguard of the second-order method: the shift tau of the matrix
// T + tau R it factorizes (R: newton/tangent_pattern.h), and the one rule
// by which it moves.
//   - It starts at `start` (> 0): the flat membrane's tangent is singular.
//   - on_failure(), after a factorization that found the matrix not
//     positive definite or a step the line search refused: tau becomes
//     max(10 tau, floor), at most the ceiling. Once tau is at the ceiling
//     the safeguard is exhausted: on_failure() returns false and leaves tau
//     there, and the minimiser stops (newton/newton.h says what follows).
//   - on_success(), after a step taken at its full length: tau / 10, and 0
//     (the plain tangent) below the floor.
// A failure multiplies by ten and a success divides by ten, so that after
// an indefinite stretch the shift falls back as fast as it rose. The floor
// is where a shift of zero rises to (ten times zero is zero), and below it
// a shift changes the factorization by less than its rounding, so it is
// dropped.

#include <algorithm>

namespace solver {

class Shift {
 public:
  Shift(double start, double floor, double ceiling) : tau_(start), floor_(floor), ceiling_(ceiling) {}

  double tau() const { return tau_; }
  double ceiling() const { return ceiling_; }

  // Raises tau; false when it was at the ceiling already (tau unchanged).
  [[nodiscard]] bool on_failure() {
    if (tau_ >= ceiling_) return false;
    tau_ = std::min(std::max(10.0 * tau_, floor_), ceiling_);
    return true;
  }

  // Lowers tau.
  void on_success() {
    tau_ = tau_ / 10.0;
    if (tau_ < floor_) tau_ = 0.0;
  }

 private:
  double tau_;
  double floor_;
  double ceiling_;
};

}  // namespace solver
