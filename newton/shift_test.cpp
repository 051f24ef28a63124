// The safeguard's rule: tenfold up on failure from the floor at least, up
// to the ceiling and no further; tenfold down on success, zero below the
// floor.

#include "newton/shift.h"

#include <gtest/gtest.h>

namespace {

TEST(Shift, RisesTenfoldToItsCeilingAndThenIsExhausted) {
  solver::Shift shift(1e-3, 1e-8, 1e2);
  EXPECT_EQ(shift.tau(), 1e-3);
  int raised = 0;
  while (shift.on_failure()) ++raised;
  // 1e-3 -> 1e-2 -> ... -> 1e2: five rises, the last one onto the ceiling.
  EXPECT_EQ(raised, 5);
  EXPECT_EQ(shift.tau(), 1e2);
  EXPECT_FALSE(shift.on_failure());
  EXPECT_EQ(shift.tau(), 1e2);
}

TEST(Shift, AStepOverTheCeilingStopsAtIt) {
  solver::Shift shift(3.0, 1e-8, 10.0);
  ASSERT_TRUE(shift.on_failure());
  EXPECT_EQ(shift.tau(), 10.0);
  EXPECT_FALSE(shift.on_failure());
}

TEST(Shift, FallsTenfoldToZeroBelowTheFloorAndRisesFromTheFloor) {
  solver::Shift shift(1e-6, 1e-8, 1e12);
  shift.on_success();
  EXPECT_DOUBLE_EQ(shift.tau(), 1e-7);
  shift.on_success();
  EXPECT_DOUBLE_EQ(shift.tau(), 1e-8);
  shift.on_success();
  EXPECT_EQ(shift.tau(), 0.0);
  shift.on_success();
  EXPECT_EQ(shift.tau(), 0.0);
  ASSERT_TRUE(shift.on_failure());
  EXPECT_EQ(shift.tau(), 1e-8);
}

}  // namespace
