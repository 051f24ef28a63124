#pragma once
// The two side-strain laws, as policies of the energy kernel and of the
// element tangent. Each maps s = lambda^2 (squared stretch of a side) and
// the side's reference length to the side strain, and sets q such that the
// strain's derivative vector with respect to the side's displacement
// difference is b = a / q, a being the current side vector over the
// reference length. T is double or a pair of lanes; square roots through
// kernel::root().
//
// curvature() gives the second derivative: with d the displacement
// difference of the side's end and start vertex, a = dir + d / length and
//   d(b)/d(d) = I / (q * length) + c * a a^T,
// it returns c = -2 q'(s) / (length * q^2) at the q that strain() set.

#include "solver/kernel.h"

namespace solver {

// Green strain (lambda^2 - 1) / 2: a polynomial of the displacements, so no
// square root; b = a / length, and b's derivative is I / length^2.
struct green_strain {
  template <class T>
  static T strain(T s, T length, T& q) {
    q = length;
    return 0.5 * (s - 1.0);
  }
  template <class T>
  static T curvature(T /*s*/, T /*length*/, T /*q*/) {
    return T{};
  }
};

// Engineering strain lambda - 1, computed as (s - 1) / (lambda + 1), which
// keeps its precision near lambda = 1 where a direct subtraction would
// cancel; b = a / (lambda * length). With q = sqrt(s) * length,
// q'(s) = length / (2 lambda), so c = -1 / (lambda q^2).
struct engineering_strain {
  template <class T>
  static T strain(T s, T length, T& q) {
    const T lambda = kernel::root(s);
    q = lambda * length;
    return (s - 1.0) / (lambda + 1.0);
  }
  template <class T>
  static T curvature(T s, T /*length*/, T q) {
    return -1.0 / (kernel::root(s) * (q * q));
  }
};

}  // namespace solver
