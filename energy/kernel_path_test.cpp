// Every element loop (scalar, pairs, AVX2, AVX-512) gives the bits of the
// scalar loop, for every length of the last, short group of lanes and with
// the elements cut into parts for threads. A loop this processor lacks is
// skipped, and the skip says so. Both laws: the engineering strain takes
// square roots in the lanes.

#include "energy/kernel_path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "energy/energy_testing.h"
#include "model/model.h"

namespace solver {
namespace {

using kernel::Path;

bool same_bits(double p, double q) { return std::memcmp(&p, &q, sizeof p) == 0; }

// A strip of count triangles over two rows of nodes, lifted and skewed so
// that no two elements are alike, node 1 and 2 held, the unknowns away
// from rest so that every side is stretched differently. prestressed: an
// isotropic prestress on the first elements, none on one, an orthotropic
// one on the rest, so that groups of lanes mix them.
analysis strip(int count, bool prestressed = false) {
  std::vector<std::array<double, 3>> nodes;
  const int columns = count / 2 + 2;
  for (int i = 0; i < columns; ++i) {
    nodes.push_back({1.0 * i, 0.1 * std::sin(i), 0.05 * i});
    nodes.push_back({1.0 * i + 0.3, 1.0 + 0.2 * std::cos(i), -0.02 * i});
  }
  std::vector<std::array<int, 3>> elements;
  for (int e = 0; e < count; ++e) {
    const int i = e / 2;
    const int b = 2 * i + 1;  // node of row 0, column i (1-based)
    if (e % 2 == 0) {
      elements.push_back({b, b + 2, b + 1});
    } else {
      elements.push_back({b + 2, b + 3, b + 1});
    }
  }
  analysis a = testing::make_model(nodes, elements, 1000.0, 0.3, 0.01);
  for (int axis = 1; axis <= 3; ++axis) {
    testing::constrain(a, 1, axis, 0.0);
    testing::constrain(a, 2, axis, 0.01 * axis);
  }
  if (prestressed) {
    const int third = (count + 2) / 3;
    a.extension.prestress = {{1, third, 2.0, 2.0, {}}};
    if (third + 2 <= count) a.extension.prestress.push_back({third + 2, count, 3.0, 0.5, {1.0, 0.5, 0.2}});
  }
  start(a);
  for (int k = 1; k <= a.nfree; ++k) a.u(k) = 0.02 * std::sin(0.7 * k + 0.1);
  return a;
}

struct evaluation {
  double f;
  std::vector<double> g;
};

// One evaluation at a's unknowns with an evaluator built on path p (the
// path is fixed when the evaluator is built), on threads threads.
evaluation evaluate_on(Path p, const MaterialLaw& law, const analysis& a, unsigned threads = 1) {
  EXPECT_TRUE(kernel::use_path(p));
  const auto evaluator = law.evaluator(a, {threads, 2});
  EXPECT_EQ(evaluator->threads(), threads);
  terms::Vector g(a.nfree, 5.0);
  evaluation r;
  r.f = (*evaluator)(a.nfree, a.u, g);
  r.g.assign(g.data(), g.data() + a.nfree);
  return r;
}

void expect_same(const evaluation& want, const evaluation& got, const std::string& what) {
  EXPECT_TRUE(same_bits(want.f, got.f)) << what << ": energy " << want.f << " against " << got.f;
  ASSERT_EQ(want.g.size(), got.g.size());
  int differing = 0;
  for (std::size_t k = 0; k < want.g.size(); ++k) differing += same_bits(want.g[k], got.g[k]) ? 0 : 1;
  EXPECT_EQ(differing, 0) << what << ": of " << want.g.size() << " gradient components";
}

const MaterialLaw& law_named(const std::string& name) { return name == "green" ? green_law() : engineering_law(); }

class KernelPath : public ::testing::TestWithParam<std::tuple<std::string, Path>> {
 protected:
  void SetUp() override {
    if (!kernel::supported(lanes())) {
      GTEST_SKIP() << "this processor cannot run the " << kernel::path_name(lanes()) << " element loop";
    }
  }
  void TearDown() override { kernel::use_path(Path::scalar); }
  const MaterialLaw& law() const { return law_named(std::get<0>(GetParam())); }
  Path lanes() const { return std::get<1>(GetParam()); }
};

TEST_P(KernelPath, EveryShortLastGroupGivesTheScalarBits) {
  for (const bool prestressed : {false, true}) {
    for (int count = 1; count <= 19; ++count) {
      const analysis a = strip(count, prestressed);
      const evaluation want = evaluate_on(Path::scalar, law(), a);
      const evaluation got = evaluate_on(lanes(), law(), a);
      expect_same(want, got, std::to_string(count) + " elements" + (prestressed ? ", prestressed" : ""));
    }
  }
}

TEST_P(KernelPath, PartsForThreadsGiveTheScalarBits) {
  for (const bool prestressed : {false, true}) {
    const analysis a = strip(37, prestressed);
    const evaluation want = evaluate_on(Path::scalar, law(), a);
    for (const unsigned threads : {2u, 3u}) {
      const evaluation got = evaluate_on(lanes(), law(), a, threads);  // parts end inside a group
      expect_same(want, got, std::to_string(threads) + " threads" + (prestressed ? ", prestressed" : ""));
    }
  }
}

// The prestress reaches every path: the energy and gradient of the
// prestressed strip differ from those of the bare one, by the work and
// the side forces of the prestress.
TEST_P(KernelPath, ThePrestressedStripIsNotTheBareOne) {
  const evaluation bare = evaluate_on(lanes(), law(), strip(19));
  const evaluation prestressed = evaluate_on(lanes(), law(), strip(19, true));
  EXPECT_NE(bare.f, prestressed.f);
  EXPECT_NE(bare.g, prestressed.g);
}

TEST_P(KernelPath, NonFiniteLanesStayInTheirElement) {
  // One element stretched beyond the range of doubles: its terms are not
  // finite, its neighbours in the same group of lanes must not notice.
  analysis a = strip(9);
  const element& el = a.elem(4);
  for (int axis = 1; axis <= 3; ++axis) {
    const int from = a.dof(el.node[0], axis);
    const int to = a.dof(el.node[1], axis);
    if (from <= a.nfree && to <= a.nfree) a.u(to) = a.u(from) + (axis == 1 ? -1e300 : 0.0);
  }
  const evaluation want = evaluate_on(Path::scalar, law(), a);
  EXPECT_FALSE(std::isfinite(want.f));
  const evaluation got = evaluate_on(lanes(), law(), a);
  expect_same(want, got, "an element at an overflowing displacement");
}

// With wrinkling every loop relaxes each lane as the scalar loop relaxes
// its element: taut, wrinkled and slack elements side by side in one group
// of lanes, every short last group, and parts for threads.
TEST_P(KernelPath, WrinklingGivesTheScalarBits) {
  for (int count = 1; count <= 19; ++count) {
    analysis a = strip(count);
    a.wrinkling = true;
    const evaluation want = evaluate_on(Path::scalar, law(), a);
    const evaluation got = evaluate_on(lanes(), law(), a);
    expect_same(want, got, std::to_string(count) + " wrinkling elements");
  }
  analysis a = strip(37);
  a.wrinkling = true;
  int states[3] = {};
  std::array<double, 9> grad{};
  for (int e = 1; e <= a.nelem; ++e) ++states[law().cstobj(a, a.elem(e), a.u, grad).state];
  for (int s = 0; s < 3; ++s) EXPECT_GT(states[s], 0) << "no element in state " << s;
  const evaluation want = evaluate_on(Path::scalar, law(), a);
  for (const unsigned threads : {2u, 3u}) {
    expect_same(want, evaluate_on(lanes(), law(), a, threads), std::to_string(threads) + " threads, wrinkling");
  }
  // And the relaxation changes the results: the loops did run it.
  a.wrinkling = false;
  EXPECT_NE(evaluate_on(Path::scalar, law(), a).f, want.f);
}

INSTANTIATE_TEST_SUITE_P(LawsAndPaths,
                         KernelPath,
                         ::testing::Combine(::testing::Values("green", "engineering"),
                                            ::testing::Values(Path::scalar, Path::pairs, Path::avx2, Path::avx512)),
                         [](const ::testing::TestParamInfo<std::tuple<std::string, Path>>& param) {
                           return std::get<0>(param.param) + "_" + kernel::path_name(std::get<1>(param.param));
                         });

TEST(KernelPathName, NamesAPathThisProcessorRuns) {
  const std::string name = kernel_path();
  bool found = false;
  for (const Path p : {Path::scalar, Path::pairs, Path::avx2, Path::avx512}) {
    if (name == kernel::path_name(p)) found = kernel::supported(p);
  }
  EXPECT_TRUE(found) << name;
}

TEST(KernelPathName, AMissingPathCannotBeForced) {
  const Path before = kernel::current_path();
  for (const Path p : {Path::avx2, Path::avx512}) {
    if (kernel::supported(p)) continue;
    EXPECT_FALSE(kernel::use_path(p));
    EXPECT_EQ(kernel::current_path(), before);
  }
  EXPECT_TRUE(kernel::use_path(Path::scalar));  // every processor runs it
  EXPECT_EQ(kernel_path(), "scalar");
}

}  // namespace
}  // namespace solver
