#pragma once
// Fixed-width images of numbers, as every output file of the system writes
// them.
//
// A real is written in scientific form with three settings (fore, aft, exp):
// the sign (a minus for a negative value, nothing otherwise) and the one
// digit before the point, together right-aligned in `fore` characters; then
// ".", `aft` digits rounded, "E", the exponent's sign and at least exp - 1
// exponent digits, zero-padded. Zero, negative zero included, is written as
// 0.000...E+00. So 1.0 with (2, 6, 3) is " 1.000000E+00" and -0.00034 with
// (2, 8, 3) is "-3.40000000E-04".
//
// A value that is not finite cannot occur in a converged solution, but the
// writer must never fail on one: NaN, +Inf and -Inf are written as "NaN",
// "Inf" and "-Inf" right-aligned in the width of a finite image with a
// two-digit exponent, so tables keep their columns.
//
// An integer of width w is right-aligned in w characters and takes more only
// when its digits need them; width 0 writes the digits alone.

#include <cstdint>
#include <string>

namespace platform {

// Appends the image of the real v to out.
void append_real(std::string& out, double v, int fore, int aft, int exp);

// Appends the image of the integer k in a field of the given width to out.
void append_integer(std::string& out, std::int64_t k, int width);

// Writes the same image at out, which must have room for max(width, 20)
// characters; returns the end of what was written.
char* write_integer(char* out, std::int64_t k, int width);

inline std::string real_image(double v, int fore, int aft, int exp) {
  std::string s;
  append_real(s, v, fore, aft, exp);
  return s;
}

inline std::string integer_image(std::int64_t k, int width) {
  std::string s;
  append_integer(s, k, width);
  return s;
}

}  // namespace platform
