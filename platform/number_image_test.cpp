#include "platform/number_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TEST(RealImage, ExactTiesRoundToEven) {
  // 1234567885 and 1234567895 are exact doubles whose tenth digit is a tie.
  EXPECT_EQ(real_image(1234567885.0, 2, 8, 3), " 1.23456788E+09");
  EXPECT_EQ(real_image(1234567895.0, 2, 8, 3), " 1.23456790E+09");
  EXPECT_EQ(real_image(0.125, 2, 1, 3), " 1.2E-01");
}

TEST(RealImage, ExponentWidthSetting) {
  EXPECT_EQ(real_image(1.0, 2, 6, 2), " 1.000000E+0");
  EXPECT_EQ(real_image(1.0e12, 2, 6, 2), " 1.000000E+12");
  EXPECT_EQ(real_image(1.0, 2, 6, 4), " 1.000000E+000");
  EXPECT_EQ(real_image(3.0, 3, 0, 3), "  3.E+00");
}

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

}  // namespace
