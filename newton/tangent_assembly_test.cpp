// The tangent summed on several threads gives the one-thread sum's bits,
// with the pressure's load stiffness, prestress and wrinkling, and on a
// mesh whose element numbering makes seams between the parts everywhere;
// so does the conjugate gradients' product with it.

#include "newton/tangent_assembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "energy/energy_testing.h"
#include "model/model_testing.h"
#include "model/prestress.h"
#include "newton/newton.h"
#include "platform/thread_pool.h"

namespace {

using solver::analysis;

// (law, threads, wrinkling)
using Case = std::tuple<std::string, unsigned, bool>;
class ParallelTangent : public ::testing::TestWithParam<Case> {};

TEST_P(ParallelTangent, GivesTheSerialBits) {
  const auto& [name, threads, wrinkling] = GetParam();
  const solver::MaterialLaw& law = name == "green" ? solver::green_law() : solver::engineering_law();
  terms::Vector x;
  analysis a = solver::testing::irregular_model(5, 12, 0.3, x);  // 288 elements
  // Pressures that differ from element to element, some elements bare; a
  // prestress on half of them.
  for (int e = 1; e <= a.nelem; ++e) a.elem(e).pressure = e % 5 == 0 ? 0.0 : 0.5 + 0.01 * e;
  a.extension.prestress = {{1, a.nelem / 2, 0.4, 0.2, {1.0, 0.0, 0.0}}};
  solver::set_up_prestress(a);
  a.wrinkling = wrinkling;
  const solver::PressurePotential pressure(a, true);
  const auto evaluator = law.evaluator(a, {threads, 2});
  ASSERT_NE(evaluator->pool(), nullptr);
  const solver::TangentPattern p = solver::tangent_pattern(a, evaluator->slots());
  solver::TangentAssembly serial(a, law, evaluator->slots(), p, pressure, nullptr);
  solver::TangentAssembly parallel(a, law, evaluator->slots(), p, pressure, evaluator->pool());
  ASSERT_EQ(parallel.parts(), threads);
  for (const bool clamp : {false, true}) {
    std::vector<double> one(p.row.size()), many(p.row.size(), 7.0);
    for (int round = 0; round < 2; ++round) {  // the second reuses the waiting terms' lists
      serial.assemble(x, clamp, true, one);
      parallel.assemble(x, clamp, true, many);
      ASSERT_EQ(std::memcmp(one.data(), many.data(), one.size() * sizeof(double)), 0) << "clamp " << clamp;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LawsAndThreads,
                         ParallelTangent,
                         ::testing::Combine(::testing::Values("green", "engineering"),
                                            ::testing::Values(2u, 3u),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::get<0>(param.param) + "_" + std::to_string(std::get<1>(param.param)) +
                                  "_threads" + (std::get<2>(param.param) ? "_wrinkling" : "");
                         });

// The conjugate gradients' product with the tangent plus the shift, on
// two threads and on one, on a banded pattern: the same bits, and the
// product of the whole symmetric matrix.
TEST(ParallelTangentProduct, GivesTheOneThreadBitsAndTheProduct) {
  solver::TangentPattern p;
  p.n = 40;
  p.colptr = {0};
  for (int j = 0; j < p.n; ++j) {
    for (int i = std::max(0, j - 1 - j % 7); i <= j; ++i) p.row.push_back(i);
    p.colptr.push_back(static_cast<int>(p.row.size()));
  }
  std::vector<double> t(p.row.size()), r(p.row.size());
  for (std::size_t k = 0; k < t.size(); ++k) {
    t[k] = std::sin(1.3 * static_cast<double>(k));
    r[k] = std::cos(0.7 * static_cast<double>(k));
  }
  std::vector<double> v(static_cast<std::size_t>(p.n)), one(v.size()), two(v.size()), dense(v.size(), 0.0);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = 0.5 + std::sin(0.37 * static_cast<double>(i));
  const double tau = 0.25;
  for (int j = 0; j < p.n; ++j) {
    for (int k = p.colptr[static_cast<std::size_t>(j)]; k < p.colptr[static_cast<std::size_t>(j) + 1]; ++k) {
      const auto i = static_cast<std::size_t>(p.row[static_cast<std::size_t>(k)]);
      const auto jj = static_cast<std::size_t>(j);
      const double m = t[static_cast<std::size_t>(k)] + tau * r[static_cast<std::size_t>(k)];
      dense[i] += m * v[jj];
      if (i != jj) dense[jj] += m * v[i];
    }
  }
  platform::ThreadPool pool(2);
  solver::TangentProduct serial(p), parallel(p);
  serial.apply(t, r, tau, v.data(), one.data(), nullptr);
  for (int round = 0; round < 2; ++round) {
    parallel.apply(t, r, tau, v.data(), two.data(), &pool);
    EXPECT_EQ(one, two) << "round " << round;
  }
  for (std::size_t i = 0; i < v.size(); ++i) EXPECT_NEAR(one[i], dense[i], 1e-13) << "row " << i;
}

}  // namespace
