#include "nlp/nlp.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <string>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

terms::Vector vec(std::initializer_list<double> values) {
  terms::Vector v(static_cast<int>(values.size()));
  int i = 1;
  for (double value : values) v(i++) = value;
  return v;
}

TEST(Norm, LargestAbsoluteValueOfTheFirstNElements) {
  EXPECT_EQ(nlp::norm(2, vec({-3.0, 2.0})), 3.0);
  EXPECT_EQ(nlp::norm(3, vec({0.5, -0.25, 1e300})), 1e300);
  // Only elements 1..n count.
  EXPECT_EQ(nlp::norm(2, vec({1.0, -2.0, 99.0})), 2.0);
  EXPECT_EQ(nlp::norm(1, vec({-0.0})), 0.0);
}

TEST(Norm, EmptyOrNonPositiveCountIsZero) {
  EXPECT_EQ(nlp::norm(0, terms::Vector()), 0.0);
  EXPECT_EQ(nlp::norm(0, vec({5.0})), 0.0);
  EXPECT_EQ(nlp::norm(-4, vec({5.0})), 0.0);
}

TEST(Norm, NaNNeverReplacesTheResult) {
  EXPECT_EQ(nlp::norm(3, vec({1.0, kNaN, -2.0})), 2.0);
  EXPECT_EQ(nlp::norm(2, vec({kNaN, 0.5})), 0.5);
  EXPECT_EQ(nlp::norm(2, vec({kNaN, kNaN})), 0.0);  // a NaN gradient reads as converged
  EXPECT_EQ(nlp::norm(2, vec({-std::numeric_limits<double>::infinity(), kNaN})),
            std::numeric_limits<double>::infinity());
}

// Summed from 0.0 in index order: 1 + 1e16 rounds back to 1e16, so the 1 is
// lost, where any other grouping would keep it.
TEST(Dot, SumsInIndexOrder) {
  const double a[] = {1.0, 1e16, -1e16};
  const double b[] = {1.0, 1.0, 1.0};
  EXPECT_EQ(nlp::dot(3, a, b), 0.0);
  EXPECT_EQ(nlp::dot(2, b, a), 1e16);  // only the first n
  EXPECT_EQ(nlp::dot(0, a, b), 0.0);
}

TEST(Halt, WritesTheLineThenRaisesWithTheSourcePosition) {
  testing::internal::CaptureStdout();
  std::string message;
  std::string full_name;
  const int line = __LINE__ + 2;
  try {
    nlp::halt();
  } catch (const platform::Failure& failure) {  // HALT is one of the project's failures
    full_name = failure.full_name();
    message = failure.message();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Line Search Failure\n");
  EXPECT_EQ(full_name, "NLP.HALT");
  EXPECT_EQ(message, "nlp/nlp_test.cpp:" + std::to_string(line));
}

TEST(Halt, SourcePositionKeepsTheLastDirectory) {
  EXPECT_TRUE(std::regex_match(nlp::detail::source_position(std::source_location::current()),
                               std::regex("nlp/nlp_test\\.cpp:[0-9]+")));
}

}  // namespace
