#pragma once
// The two side strains of the material laws, as policies of the element
// kernel (energy/kernel.h):
//
//   struct Law {
//     // The law's short name for messages and tests (MaterialLaw::name).
//     static constexpr const char* kName;
//     // From s = lambda^2 (squared stretch of a side) and the side's
//     // reference length: returns the side strain and sets q such that the
//     // strain's derivative vector is b = a / q, a being the current side
//     // vector divided by the reference length. T is double or a vector of
//     // doubles (several elements at once, lane by lane); square roots
//     // through kernel::root().
//     template <class T> static T strain(T s, T length, T& q);
//     // The second derivative, for the element tangent (energy/tangent.h):
//     // with d the displacement difference of the side's end and start
//     // vertex, a = dir + d / length and
//     //   d(b)/d(d) = I / (q * length) + c * a a^T,
//     // returns c = -2 q'(s) / (length * q^2) at the q that strain() set.
//     template <class T> static T curvature(T s, T length, T q);
//   };
//
// The policies are always inlined: the element loops of the wider lanes are
// compiled for AVX2 or AVX-512 (kernel.h), and a call that passed their
// vectors by value to a function compiled without would disagree about
// where the vectors go (at -O0, where nothing else is inlined).

#include "energy/lanes.h"

namespace solver {

// The Green strain of a side, (lambda^2 - 1) / 2, which makes the element a
// Saint Venant-Kirchhoff membrane. It is a polynomial of the displacements,
// so no square root is needed: with s = lambda^2 the strain is 0.5 * (s - 1)
// and its derivative vector b = a / length.
struct GreenStrain {
  static constexpr const char* kName = "green";
  template <class T>
  [[gnu::always_inline]] static T strain(T s, T length, T& q) {
    q = length;
    return 0.5 * (s - 1.0);
  }
  // q does not depend on s: b' = I / length^2.
  template <class T>
  static T curvature(T /*s*/, T /*length*/, T /*q*/) {
    return T{};
  }
};

// The engineering strain of a side, lambda - 1. It is computed as
// (s - 1) / (lambda + 1) with s = lambda^2, which equals lambda - 1 but
// keeps its precision near lambda = 1, where a direct subtraction would
// cancel; its derivative vector is b = a / (lambda * length).
struct EngineeringStrain {
  static constexpr const char* kName = "engineering";
  template <class T>
  [[gnu::always_inline]] static T strain(T s, T length, T& q) {
    const T lambda = kernel::root(s);
    q = lambda * length;
    return (s - 1.0) / (lambda + 1.0);
  }
  // q = sqrt(s) length, q'(s) = length / (2 lambda): c = -1 / (lambda q^2).
  template <class T>
  static T curvature(T s, T /*length*/, T q) {
    return -1.0 / (kernel::root(s) * (q * q));
  }
};

}  // namespace solver
