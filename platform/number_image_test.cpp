#include "platform/number_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

using platform::integer_image;
using platform::real_image;

TEST(RealImage, ExamplesOfTheFileFormats) {
  EXPECT_EQ(real_image(1.0, 2, 6, 3), " 1.000000E+00");
  EXPECT_EQ(real_image(-0.00034, 2, 8, 3), "-3.40000000E-04");
  EXPECT_EQ(real_image(0.1, 2, 6, 3), " 1.000000E-01");
  EXPECT_EQ(real_image(-0.5, 2, 6, 3), "-5.000000E-01");
  EXPECT_EQ(real_image(1.0e-6, 2, 8, 3), " 1.00000000E-06");
  EXPECT_EQ(real_image(-1.23456789e-2, 2, 8, 3), "-1.23456789E-02");
  EXPECT_EQ(real_image(0.25, 1, 8, 3), "2.50000000E-01");
  EXPECT_EQ(real_image(-1.0, 1, 8, 3), "-1.00000000E+00");
  EXPECT_EQ(real_image(0.5, 1, 6, 3), "5.000000E-01");
  EXPECT_EQ(real_image(-0.5, 1, 6, 3), "-5.000000E-01");
}

TEST(RealImage, ZeroAndNegativeZeroAreWrittenAlike) {
  EXPECT_EQ(real_image(0.0, 2, 6, 3), " 0.000000E+00");
  EXPECT_EQ(real_image(-0.0, 2, 6, 3), " 0.000000E+00");
  EXPECT_EQ(real_image(-0.0, 1, 8, 3), "0.00000000E+00");
  EXPECT_EQ(real_image(0.0, 2, 8, 3), " 0.00000000E+00");
}

TEST(RealImage, ThreeDigitExponentsWidenTheField) {
  EXPECT_EQ(real_image(1.0e-100, 2, 8, 3), " 1.00000000E-100");
  EXPECT_EQ(real_image(1.0e+200, 2, 6, 3), " 1.000000E+200");
  EXPECT_EQ(real_image(-2.5e-300, 1, 8, 3), "-2.50000000E-300");
  EXPECT_EQ(real_image(std::numeric_limits<double>::denorm_min(), 2, 6, 3), " 4.940656E-324");
}

TEST(RealImage, RoundingCarriesIntoTheExponent) {
  EXPECT_EQ(real_image(9.9999999999e-01, 2, 6, 3), " 1.000000E+00");
  EXPECT_EQ(real_image(-9.99999999999e+09, 2, 8, 3), "-1.00000000E+10");
  EXPECT_EQ(real_image(9.99999999e-05, 1, 6, 3), "1.000000E-04");
}

// See docs/decisions.md, 'Rounding ties go to even'.
TEST(RealImage, ExactTiesRoundToEven) {
  // 1234567885 and 1234567895 are exact doubles whose tenth digit is a tie.
  EXPECT_EQ(real_image(1234567885.0, 2, 8, 3), " 1.23456788E+09");
  EXPECT_EQ(real_image(1234567895.0, 2, 8, 3), " 1.23456790E+09");
  EXPECT_EQ(real_image(0.125, 2, 1, 3), " 1.2E-01");
}

TEST(RealImage, ExponentWidthSetting) {
  EXPECT_EQ(real_image(1.0, 2, 6, 2), " 1.000000E+0");
  // A field too narrow for a digit still gets one.
  EXPECT_EQ(real_image(1.0, 2, 6, 1), " 1.000000E+0");
  EXPECT_EQ(real_image(2.5e-7, 2, 6, 0), " 2.500000E-7");
  EXPECT_EQ(real_image(1.0e12, 2, 6, 2), " 1.000000E+12");
  EXPECT_EQ(real_image(1.0, 2, 6, 4), " 1.000000E+000");
  EXPECT_EQ(real_image(3.0, 3, 0, 3), "  3.E+00");
}

// See docs/decisions.md, 'Non-finite numbers in reports'.
TEST(RealImage, NonFiniteValuesKeepTheColumnWidth) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(real_image(std::nan(""), 2, 8, 3), "            NaN");
  EXPECT_EQ(real_image(inf, 2, 8, 3), "            Inf");
  EXPECT_EQ(real_image(-inf, 2, 8, 3), "           -Inf");
  EXPECT_EQ(real_image(-inf, 1, 6, 3).size(), 12u);
}

TEST(IntegerImage, RightAlignedAndWidenedWhenNeeded) {
  EXPECT_EQ(integer_image(3, 15), "              3");
  EXPECT_EQ(integer_image(42, 5), "   42");
  EXPECT_EQ(integer_image(123456, 5), "123456");
  EXPECT_EQ(integer_image(-7, 5), "   -7");
  EXPECT_EQ(integer_image(17, 0), "17");
  EXPECT_EQ(integer_image(0, 0), "0");
  EXPECT_EQ(integer_image(-2147483648LL, 5), "-2147483648");
}

// What printf's "%*lld" makes of k in width w (a width of 0 or less pads
// nothing, as in append_integer).
std::string printf_image(std::int64_t k, int width) {
  char buf[64];
  const int len = std::snprintf(buf, sizeof buf, "%*lld", width, static_cast<long long>(k));
  return std::string(buf, static_cast<std::size_t>(len));
}

TEST(IntegerImage, SameTextAsPrintf) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::vector<std::int64_t> values = {0, 1, -1, 9, -9, 10, -10, 99, 100, kMin, kMin + 1, kMax, kMax - 1};
  // Every power of ten and its neighbours, both signs: the digit counts
  // change there.
  for (std::int64_t p = 1;; p *= 10) {
    for (const std::int64_t v : {p - 1, p, p + 1}) {
      values.push_back(v);
      values.push_back(-v);
    }
    if (p > kMax / 10) break;  // p = 10^18, the last power below kMax
  }
  // The 32-bit bounds and a spread of values in between (a fixed sequence).
  for (const std::int64_t v : {std::int64_t{2147483647}, std::int64_t{2147483648}, std::int64_t{4294967295}}) {
    values.push_back(v);
    values.push_back(-v);
  }
  std::uint64_t state = 88172645463325252u;
  for (int i = 0; i < 2000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const auto v = static_cast<std::int64_t>(state >> (state % 64));
    values.push_back(i % 2 == 0 ? v : ~v);  // ~v: a negative without overflow
  }
  for (const std::int64_t v : values) {
    for (int width = 0; width <= 20; ++width) {
      ASSERT_EQ(integer_image(v, width), printf_image(v, width)) << v << " in width " << width;
    }
  }
  EXPECT_EQ(integer_image(kMin, 0), "-9223372036854775808");
  EXPECT_EQ(integer_image(5, -3), "5");
}

}  // namespace
