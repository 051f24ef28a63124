#include "platform/number_image.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

void pad_left(std::string& out, const char* text, std::size_t len, int width) {
  if (width > 0 && static_cast<std::size_t>(width) > len) {
    out.append(static_cast<std::size_t>(width) - len, ' ');
  }
  out.append(text, len);
}

}  // namespace

void append_real(std::string& out, double v, int fore, int aft, int exp) {
  if (aft < 0) aft = 0;
  if (aft > 60) aft = 60;
  const int exp_digits = exp - 1 < 1 ? 1 : exp - 1;
  if (!std::isfinite(v)) {
    const char* text = std::isnan(v) ? "NaN" : (v > 0 ? "Inf" : "-Inf");
    const int width = fore + 1 + aft + 2 + (exp_digits < 2 ? 2 : exp_digits);
    pad_left(out, text, std::strlen(text), width);
    return;
  }
  if (v == 0.0) v = 0.0;  // negative zero is written like zero

  // printf rounds the exact binary value correctly (ties to even) and gives
  // "[-]d.dddE±xx" with at least two exponent digits.
  char buf[128];
  const int len = std::snprintf(buf, sizeof buf, "%.*E", aft, v);
  const char* e = std::strchr(buf, 'E');
  if (len <= 0 || e == nullptr) return;  // cannot happen for a finite value

  // Sign and leading digit, right-aligned in fore characters.
  const std::size_t lead = buf[0] == '-' ? 2 : 1;
  pad_left(out, buf, lead, fore);
  // Point and fraction ("%.0E" has no point; the image always has one).
  out.push_back('.');
  const char* frac = buf + lead;
  if (*frac == '.') ++frac;
  out.append(frac, static_cast<std::size_t>(e - frac));
  // Exponent: sign, then its digits without leading zeros, padded to
  // at least exp_digits.
  out.push_back('E');
  out.push_back(e[1]);
  const char* digits = e + 2;
  while (digits[0] == '0' && digits[1] != '\0') ++digits;
  const int ndig = static_cast<int>(std::strlen(digits));
  if (ndig < exp_digits) out.append(static_cast<std::size_t>(exp_digits - ndig), '0');
  out.append(digits);
}

char* write_integer(char* out, std::int64_t k, int width) {
  // The digits from the last one backwards, two at a time, as "%*lld"
  // would print them, straight into place: node and element numbers fill
  // the large files, and a formatted print per number costs more than the
  // rest of their writing. The magnitude is taken unsigned, so the most
  // negative value has one too.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  std::uint64_t m = k < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(k) : static_cast<std::uint64_t>(k);
  int length = k < 0 ? 2 : 1;
  for (std::uint64_t rest = m; rest >= 10; rest /= 10) ++length;
  if (width > length) {
    const int pad = width - length;
    if (pad <= 8) {
      std::memcpy(out, "        ", 8);  // the room for 20 characters holds 8
    } else {
      std::memset(out, ' ', static_cast<std::size_t>(pad));
    }
    out += pad;
  }
  char* const end = out + length;
  char* p = end;
  while (m >= 100) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * (m % 100), 2);
    m /= 100;
  }
  if (m >= 10) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * m, 2);
  } else {
    *--p = static_cast<char>('0' + m);
  }
  if (k < 0) *out = '-';
  return end;
}

void append_integer(std::string& out, std::int64_t k, int width) {
  char digits[20];
  const auto length = static_cast<std::size_t>(write_integer(digits, k, 0) - digits);
  pad_left(out, digits, length, width);
}

}  // namespace platform
