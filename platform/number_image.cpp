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

void append_integer(std::string& out, std::int64_t k, int width) {
  // The digits from the last one backwards, as "%lld" would print them;
  // node and element numbers fill the large files, and a formatted print
  // per number costs more than the rest of their writing. The magnitude is
  // taken unsigned, so the most negative value has one too.
  char buf[24];
  char* const end = buf + sizeof buf;
  char* p = end;
  std::uint64_t m = k < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(k) : static_cast<std::uint64_t>(k);
  do {
    *--p = static_cast<char>('0' + m % 10);
    m /= 10;
  } while (m != 0);
  if (k < 0) *--p = '-';
  pad_left(out, p, static_cast<std::size_t>(end - p), width);
}

}  // namespace platform
