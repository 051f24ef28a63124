#pragma once
// Vectors of doubles for the element kernel: the same scalar arithmetic on
// several elements at once. Every operation acts on each lane as the scalar
// operation would (IEEE, no contraction), so each lane's result is bit for
// bit the scalar result; the lanes only cut the number of division and
// square-root instructions, which bound the kernel.

#include <cmath>

namespace solver::kernel {

// Two doubles side by side, one per element.
using pair = double __attribute__((vector_size(16)));

inline double root(double s) { return std::sqrt(s); }

// The square root of each lane, correctly rounded like std::sqrt.
inline pair root(pair s) {
#if defined(__SSE2__)
  return __builtin_ia32_sqrtpd(s);
#else
  return pair{std::sqrt(s[0]), std::sqrt(s[1])};
#endif
}

}  // namespace solver::kernel
