#include "terms/terms.h"

#include <gtest/gtest.h>

namespace {

TEST(Terms, CountOfZeroOrLessGivesEmptyArrays) {
  EXPECT_TRUE(terms::Vector(0).empty());
  EXPECT_TRUE(terms::Vector(-5).empty());
  EXPECT_EQ(terms::RealTable(-1).rows(), 0);
  EXPECT_TRUE(terms::IntTable(0).empty());
}

TEST(Terms, OneBasedIndexingOverContiguousStorage) {
  terms::Vector v(3);
  v(1) = 1.0;
  v(3) = 3.0;
  EXPECT_EQ(v.data()[0], 1.0);
  EXPECT_EQ(v.data()[2], 3.0);

  terms::IntTable t(4);
  t(2, 3) = 7;
  EXPECT_EQ(t.data()[3 * 1 + 2], 7);
  EXPECT_EQ(t.rows(), 4);  // every node-by-axis table has 3 * rows entries
}

TEST(Terms, CheckedAccessRaisesRangeError) {
  terms::Vector v(2);
  EXPECT_THROW(v.at(0), platform::RangeError);
  EXPECT_THROW(v.at(3), platform::RangeError);
  EXPECT_NO_THROW(v.at(2));
  terms::RealTable t(2);
  EXPECT_THROW(t.at(3, 1), platform::RangeError);
  EXPECT_THROW(t.at(1, 4), platform::RangeError);
  EXPECT_THROW(t.at(1, 0), platform::RangeError);
  try {
    t.at(5, 1);
  } catch (const platform::Failure& f) {
    EXPECT_EQ(f.full_name(), "RANGE_ERROR");
    EXPECT_EQ(f.message(), "row 5 is outside 1..2");
  }
}

}  // namespace
