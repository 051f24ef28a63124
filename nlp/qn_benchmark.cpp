// Cost of lbfgs's own vector work per iteration, next to the objective's.
//
// The objective is the cheapest smooth one, a diagonal quadratic (one pass
// over x and g), so the time per iteration is mostly the minimiser: the
// two-loop recursion over the ring, the line search's copies and trial
// points, the step and gradient-change bookkeeping. The time spent inside
// the objective is measured as well and reported per iteration, and
// overhead_ns is what remains.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

#include "nlp/qn.h"

namespace {

void lbfgs_iteration(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int maxlist = static_cast<int>(state.range(1));
  const int maxminor = 20;
  terms::Vector c(n);
  for (int i = 1; i <= n; ++i) c(i) = 1.0 + static_cast<double>(i % 97) / 97.0 * 99.0;  // curvatures 1..100

  double objective_seconds = 0.0;
  long evaluations = 0;
  auto objective = [&](int m, const terms::Vector& x, terms::Vector& g) {
    const auto start = std::chrono::steady_clock::now();
    const double* cp = c.data();
    const double* xp = x.data();
    double* gp = g.data();
    double f = 0.0;
    for (int i = 0; i < m; ++i) {
      gp[i] = cp[i] * xp[i];
      f = f + 0.5 * (gp[i] * xp[i]);
    }
    objective_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++evaluations;
    return f;
  };
  nlp::qn q(objective);
  terms::Vector x(n), g(n);

  long iterations = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (int i = 1; i <= n; ++i) x(i) = 1.0;
    const auto r = q.lbfgs(maxlist, n, maxminor, 10, 0.0, 0.1, x, g);
    iterations += r.iterations;
    benchmark::DoNotOptimize(r.value);
  }
  const double total_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double per = 1e9 / static_cast<double>(iterations);
  state.counters["evals_per_iter"] = static_cast<double>(evaluations) / static_cast<double>(iterations);
  state.counters["iter_ns"] = total_seconds * per;
  state.counters["objective_ns"] = objective_seconds * per;
  state.counters["overhead_ns"] = (total_seconds - objective_seconds) * per;
  state.counters["overhead_ns_per_unknown"] = (total_seconds - objective_seconds) * per / n;
  state.SetItemsProcessed(iterations);
}

BENCHMARK(lbfgs_iteration)
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {5}})
    ->Args({100000, 1})
    ->Args({100000, 20})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
