// A region of a model against the whole model: the same gradient and
// tangent at the region's unknowns, the same energy differences, and the
// rings it grows by.

#include "newton/region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "energy/energy_testing.h"
#include "energy/gas.h"
#include "energy/law.h"
#include "newton/tangent_pattern.h"

namespace {

using solver::analysis;

struct Case {
  bool green;
  int rings;
};

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.green ? "green" : "engineering") + "_rings" + std::to_string(info.param.rings);
}

class RegionTest : public ::testing::TestWithParam<Case> {
 protected:
  // An irregular 8 x 8 model, strained at random (some sides compressed),
  // with random loads, and two seed unknowns inside it.
  void SetUp() override {
    a_ = solver::testing::irregular_model(23, 8, 0.1, x_);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> load(-1.0, 1.0);
    for (int p = 1; p <= a_.nnode; ++p) {
      for (int j = 1; j <= 3; ++j) a_.force(p, j) = load(rng);
    }
    evaluator_ = Law().evaluator(a_, solver::EvaluationOptions{1, 1});
    slots_ = evaluator_->slots();
    pattern_ = solver::tangent_pattern(a_, slots_);
    shift_ = solver::shift_values(a_, pattern_);
    const int centre = a_.dof(40, 3) - 1;  // node 40 lies inside the grid
    seed_ = {a_.dof(41, 1) - 1, centre};
    std::sort(seed_.begin(), seed_.end());
  }
  const solver::MaterialLaw& Law() const { return GetParam().green ? solver::green_law() : solver::engineering_law(); }

  analysis a_;
  std::unique_ptr<solver::EnergyEvaluator> evaluator_;
  terms::Vector x_;
  std::vector<solver::ElementSlots> slots_;
  solver::TangentPattern pattern_;
  std::vector<double> shift_;
  std::vector<int> seed_;
};

TEST_P(RegionTest, HasTheWholeModelsGradientAndEnergyDifferences) {
  solver::RegionProblem region(a_, *evaluator_, Law(), pattern_, shift_, x_, seed_, GetParam().rings);
  const std::vector<int>& unknowns = region.unknowns();
  const int n = static_cast<int>(unknowns.size());
  terms::Vector g(a_.nfree);
  const double f = solver::testing::objective(a_, a_.nfree, x_, g, Law());
  terms::Vector xr = region.gather(x_);
  terms::Vector gr(n);
  const double fr = region.energy(n, xr, gr);
  double scale = 0.0;
  for (int i = 1; i <= a_.nfree; ++i) scale = std::max(scale, std::fabs(g(i)));
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(gr.data()[i], g.data()[unknowns[static_cast<std::size_t>(i)]], 1e-12 * scale) << i;
  }
  // Moving the region's unknowns changes both energies alike; the others
  // stay where they were.
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> move(-0.02, 0.02);
  for (int i = 0; i < n; ++i) xr.data()[i] += move(rng);
  terms::Vector moved = x_;
  region.scatter(xr, moved);
  int changed = 0;
  for (int i = 1; i <= a_.nfree; ++i) changed += moved(i) != x_(i) ? 1 : 0;
  EXPECT_EQ(changed, n);
  const double f2 = solver::testing::objective(a_, a_.nfree, moved, g, Law());
  const double fr2 = region.energy(n, xr, gr);
  EXPECT_NEAR(fr2 - fr, f2 - f, 1e-10 * std::fabs(f));
  EXPECT_NE(fr2, fr);
}

TEST_P(RegionTest, HasTheWholeModelsTangentAndShiftAmongItsUnknowns) {
  solver::RegionProblem region(a_, *evaluator_, Law(), pattern_, shift_, x_, seed_, GetParam().rings);
  const std::vector<int>& unknowns = region.unknowns();
  const solver::TangentPattern& p = region.pattern();
  for (const bool clamp : {false, true}) {
    std::vector<double> whole(pattern_.row.size());
    Law().tangent(a_, slots_, x_, pattern_.position, clamp, whole);
    std::vector<double> part(p.row.size());
    region.tangent(region.gather(x_), clamp, part);
    // Every entry of the whole tangent among the region's unknowns, and
    // nothing else.
    std::size_t among = 0;
    for (std::size_t j = 0; j < unknowns.size(); ++j) {
      const int col = unknowns[j];
      for (int e = pattern_.colptr[static_cast<std::size_t>(col)];
           e < pattern_.colptr[static_cast<std::size_t>(col) + 1];
           ++e) {
        among +=
            std::binary_search(unknowns.begin(), unknowns.end(), pattern_.row[static_cast<std::size_t>(e)]) ? 1u : 0u;
      }
      for (int e = p.colptr[j]; e < p.colptr[j + 1]; ++e) {
        const int row = unknowns[static_cast<std::size_t>(p.row[static_cast<std::size_t>(e)])];
        const auto begin = pattern_.row.begin() + pattern_.colptr[static_cast<std::size_t>(col)];
        const auto end = pattern_.row.begin() + pattern_.colptr[static_cast<std::size_t>(col) + 1];
        const auto at = std::lower_bound(begin, end, row);
        ASSERT_TRUE(at != end && *at == row);
        const std::size_t w = static_cast<std::size_t>(at - pattern_.row.begin());
        // The same elements add to the entry in the same order: the same bits.
        EXPECT_EQ(part[static_cast<std::size_t>(e)], whole[w]) << row << ", " << col << (clamp ? " clamped" : "");
        EXPECT_EQ(region.shift()[static_cast<std::size_t>(e)], shift_[w]);
      }
    }
    EXPECT_EQ(p.row.size(), among);
  }
}

// With the pressure's potential, element by element: the region carries
// its elements' part, so it keeps the whole model's gradient, energy
// differences and (up to the order of the sums) tangent.
TEST_P(RegionTest, CarriesThePressuresPotentialOfItsElements) {
  for (int e = 1; e <= a_.nelem; ++e) a_.elem(e).pressure = 0.3 + 0.01 * e;
  const solver::PressurePotential pressure(a_, true);
  solver::RegionProblem region(a_, *evaluator_, Law(), pattern_, shift_, x_, seed_, GetParam().rings, &pressure);
  const std::vector<int>& unknowns = region.unknowns();
  const int n = static_cast<int>(unknowns.size());
  const auto whole = [&](const terms::Vector& x, terms::Vector& g) {
    return pressure.add(solver::testing::objective(a_, a_.nfree, x, g, Law()), x, g);
  };
  terms::Vector g(a_.nfree), gr(n);
  const double f = whole(x_, g);
  terms::Vector xr = region.gather(x_);
  const double fr = region.energy(n, xr, gr);
  double scale = 0.0;
  for (int i = 1; i <= a_.nfree; ++i) scale = std::max(scale, std::fabs(g(i)));
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(gr.data()[i], g.data()[unknowns[static_cast<std::size_t>(i)]], 1e-12 * scale) << i;
  }
  for (int i = 0; i < n; ++i) xr.data()[i] += 0.01 * std::sin(i + 1.0);
  terms::Vector moved = x_;
  region.scatter(xr, moved);
  EXPECT_NEAR(region.energy(n, xr, gr) - fr, whole(moved, g) - f, 1e-10 * std::fabs(f));
  std::vector<double> all(pattern_.row.size());
  Law().tangent(a_, slots_, x_, pattern_.position, false, all);
  pressure.add_tangent(x_, pattern_.position, all);
  const solver::TangentPattern& p = region.pattern();
  std::vector<double> part(p.row.size());
  region.tangent(region.gather(x_), false, part);
  for (std::size_t j = 0; j < unknowns.size(); ++j) {
    const auto col = static_cast<std::size_t>(unknowns[j]);
    for (int e = p.colptr[j]; e < p.colptr[j + 1]; ++e) {
      const int row = unknowns[static_cast<std::size_t>(p.row[static_cast<std::size_t>(e)])];
      const auto begin = pattern_.row.begin() + pattern_.colptr[col];
      const auto at = std::lower_bound(begin, pattern_.row.begin() + pattern_.colptr[col + 1], row);
      const double w = all[static_cast<std::size_t>(at - pattern_.row.begin())];
      EXPECT_NEAR(part[static_cast<std::size_t>(e)], w, 1e-12 * std::fabs(w) + 1e-14) << row << ", " << col;
    }
  }
}

// The evaluator's element list over every element in order, from the load
// potential, is its serial pass: the same bits of energy and gradient (the
// region's energy is this entry over its own elements).
TEST_P(RegionTest, ElementListOfEveryElementIsTheSerialPass) {
  terms::Vector g(a_.nfree);
  const double f = (*evaluator_)(a_.nfree, x_, g);
  const std::size_t entries = 3 * static_cast<std::size_t>(a_.nnode);
  std::vector<double> xs(entries, 0.0);
  std::vector<double> gs(entries, 0.0);
  double load = 0.0;
  for (int p = 1; p <= a_.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      const int k = a_.dof(p, j);
      const std::size_t slot = static_cast<std::size_t>(k - 1);
      if (k <= a_.nfree) {
        xs[slot] = x_(k);
        gs[slot] = -a_.force(p, j);
        load = load - a_.force(p, j) * x_(k);
      } else {
        xs[slot] = a_.displ(p, j);
      }
    }
  }
  std::vector<std::size_t> all(slots_.size());
  for (std::size_t e = 0; e < all.size(); ++e) all[e] = e;
  EXPECT_EQ(evaluator_->element_list(all, slots_.data(), xs.data(), gs.data(), load), f);
  for (int i = 0; i < a_.nfree; ++i) EXPECT_EQ(gs[static_cast<std::size_t>(i)], g.data()[i]) << i;
}

// Ring k holds the free unknowns of every element that touches ring k - 1;
// ring 0 is the seed. Counted here the slow way, from the elements' nodes.
TEST_P(RegionTest, GrowsByRingsOfElements) {
  const int rings = GetParam().rings;
  solver::RegionProblem region(a_, *evaluator_, Law(), pattern_, shift_, x_, seed_, rings);
  std::set<int> grown(seed_.begin(), seed_.end());
  for (int ring = 0; ring < rings; ++ring) {
    std::set<int> next = grown;
    for (int e = 1; e <= a_.nelem; ++e) {
      bool touches = false;
      for (const int node : a_.elem(e).node) {
        for (int j = 1; j <= 3; ++j) touches = touches || grown.count(a_.dof(node, j) - 1) > 0;
      }
      if (!touches) continue;
      for (const int node : a_.elem(e).node) {
        for (int j = 1; j <= 3; ++j) {
          if (a_.dof(node, j) <= a_.nfree) next.insert(a_.dof(node, j) - 1);
        }
      }
    }
    grown = next;
  }
  EXPECT_EQ(region.unknowns(), std::vector<int>(grown.begin(), grown.end()));
  // Its elements: every one that touches it.
  std::size_t touching = 0;
  for (int e = 1; e <= a_.nelem; ++e) {
    bool touches = false;
    for (const int node : a_.elem(e).node) {
      for (int j = 1; j <= 3; ++j) touches = touches || grown.count(a_.dof(node, j) - 1) > 0;
    }
    touching += touches ? 1u : 0u;
  }
  EXPECT_EQ(region.elements(), touching);
}

INSTANTIATE_TEST_SUITE_P(BothLaws,
                         RegionTest,
                         ::testing::Values(Case{true, 0}, Case{true, 2}, Case{false, 0}, Case{false, 1}),
                         Name);

TEST(RegionProblem, RefusesASeedOutsideTheUnknowns) {
  terms::Vector x;
  const analysis a = solver::testing::irregular_model(3, 2, 0.0, x);
  const auto evaluator = solver::green_law().evaluator(a, solver::EvaluationOptions{1, 1});
  const solver::TangentPattern p = solver::tangent_pattern(a, evaluator->slots());
  const std::vector<double> shift = solver::shift_values(a, p);
  const std::vector<int> seed{a.nfree};
  EXPECT_THROW(solver::RegionProblem(a, *evaluator, solver::green_law(), p, shift, x, seed, 1), platform::RangeError);
}

}  // namespace
