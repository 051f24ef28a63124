#pragma once
// Lanes: several elements side by side in one vector register, so that one
// division or square-root instruction serves them all. The element kernel
// is bound by its divisions (18 per element, 21 with the engineering
// strain) and square roots, which the prescribed arithmetic requires; a
// wider register divides more doubles per instruction.
//
// Every operation on a lane type acts on each lane as the scalar operation
// would (IEEE, correctly rounded, no contraction), so each lane's result is
// bit for bit the scalar result, whatever the width. That is what lets the
// width be chosen at run time from the processor without changing a byte.
//
//   double  1 lane   any processor
//   Pair    2 lanes  SSE2 on x86-64 (every x86-64), NEON elsewhere
//   Quad    4 lanes  AVX2
//   Octet   8 lanes  AVX-512F
//
// Quad and Octet are plain GCC vectors: code that holds them may be
// compiled for any processor, and it is the element loop of each width
// (energy/kernel.h) that is compiled for AVX2 or AVX-512 and chosen only
// when the processor has it. Functions that take them by value are inline
// and never cross a translation unit, so the note GCC gives about their
// calling convention (-Wpsabi) does not apply and is turned off.

#include <cmath>
#include <cstddef>
#include <utility>

namespace solver::kernel {

using Pair = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));
using Octet = double __attribute__((vector_size(64)));

// Lanes of a lane type.
template <class T>
inline constexpr std::size_t width = sizeof(T) / sizeof(double);

// Square roots, lane by lane. The wide ones are written lane by lane and
// become one vsqrtpd where the loop is compiled for the wider registers
// (math-errno is off, so __builtin_sqrt is the bare instruction); the
// result is the correctly rounded root either way.
inline double root(double s) { return std::sqrt(s); }
[[gnu::always_inline]] inline Pair root(Pair s) {
#if defined(__x86_64__) && defined(__SSE2__)
  return __builtin_ia32_sqrtpd(s);
#else
  return Pair{__builtin_sqrt(s[0]), __builtin_sqrt(s[1])};
#endif
}
[[gnu::always_inline]] inline Quad root(Quad s) {
  return Quad{__builtin_sqrt(s[0]), __builtin_sqrt(s[1]), __builtin_sqrt(s[2]), __builtin_sqrt(s[3])};
}
[[gnu::always_inline]] inline Octet root(Octet s) {
  return Octet{__builtin_sqrt(s[0]),
               __builtin_sqrt(s[1]),
               __builtin_sqrt(s[2]),
               __builtin_sqrt(s[3]),
               __builtin_sqrt(s[4]),
               __builtin_sqrt(s[5]),
               __builtin_sqrt(s[6]),
               __builtin_sqrt(s[7])};
}

// Lane l of a value (a double has the one lane 0).
[[gnu::always_inline]] inline double lane(const double& v, std::size_t) { return v; }
template <class T>
[[gnu::always_inline]] inline double lane(const T& v, std::size_t l) {
  return v[l];
}

// A lane value from one double per lane, value(l) for lane l. Built as one
// vector expression, so that the compiler assembles it in registers
// (loads and shuffles) instead of storing the lanes one by one and reading
// them back as a whole, which stalls on the store.
template <class T, class Value, std::size_t... L>
[[gnu::always_inline]] inline T make_lanes(const Value& value, std::index_sequence<L...>) {
  if constexpr (sizeof...(L) == 1) {
    return value(0);
  } else {
    return T{value(L)...};
  }
}
template <class T, class Value>
[[gnu::always_inline]] inline T make_lanes(const Value& value) {
  return make_lanes<T>(value, std::make_index_sequence<width<T>>());
}

}  // namespace solver::kernel
