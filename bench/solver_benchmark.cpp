// The solver's steps on square models of the generator's layout (4 n^2
// elements), built once per material law:
//
//   objective/n/threads/poll_us  one energy and gradient evaluation on 1
//                 thread or on the hardware's count (0, in parallel at
//                 every size, so that the small-model threshold can be
//                 read off), idle threads polling poll_us before they
//                 sleep (-1: as the programs run); ns_per_element is
//                 nanoseconds per element per evaluation (wall time).
//   objective_wrinkling/n/wrinkling  one evaluation on 1 thread with
//                 wrinkling off (0) or on (1).
//   setforce/n    one refresh of the loads (pressure on the current shape).
//   lbfgs_iteration/n  lbfgs from rest, 8 iterations, on the real objective;
//                 per iteration: evaluations, time inside the objective and
//                 the minimiser's own time per unknown (overhead_ns_per_unknown).
//   solve/n       a whole solve in process (set-up, loads, major iterations;
//                 no files), once, with its counters: objective evaluations,
//                 line searches, major iterations and the share of the time
//                 spent in the objective.

#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cmath>

#include "bench/square_model.h"
#include "energy/law.h"
#include "model/model.h"
#include "nlp/nlp.h"
#include "nlp/qn.h"

namespace {

using clock_type = std::chrono::steady_clock;

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The law of this benchmark program (one program per law).
const solver::MaterialLaw& law() {
#ifdef VELORA_LAW_GREEN
  return solver::green_law();
#else
  return solver::engineering_law();
#endif
}

void per_element(benchmark::State& state, const solver::analysis& a) {
  state.counters["elements"] = a.nelem;
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(a.nelem) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void objective(benchmark::State& state) {
  solver::analysis a = bench::strained_square(static_cast<int>(state.range(0)));
  solver::EvaluationOptions options;
  options.threads = static_cast<unsigned>(state.range(1));
  options.parallel_from = 2;  // threads 0 runs in parallel at every size: the small-model threshold is measured here
  if (state.range(2) >= 0) options.spin = std::chrono::microseconds(state.range(2));
  const auto evaluator = law().evaluator(a, options);
  const terms::Vector x = a.u;
  terms::Vector g(a.nfree);
  for (auto _ : state) {
    benchmark::DoNotOptimize((*evaluator)(a.nfree, x, g));
    benchmark::ClobberMemory();
  }
  per_element(state, a);
}

// The same evaluation on one thread with wrinkling off (0) or on (1): the
// cost of the relaxation per element. The relaxation does the same work
// whatever state an element is in, so the strained square (mostly taut)
// measures it as well as a wrinkled model would.
void objective_wrinkling(benchmark::State& state) {
  solver::analysis a = bench::strained_square(static_cast<int>(state.range(0)));
  a.wrinkling = state.range(1) != 0;
  solver::EvaluationOptions options;
  options.threads = 1;
  const auto evaluator = law().evaluator(a, options);
  const terms::Vector x = a.u;
  terms::Vector g(a.nfree);
  for (auto _ : state) {
    benchmark::DoNotOptimize((*evaluator)(a.nfree, x, g));
    benchmark::ClobberMemory();
  }
  per_element(state, a);
}

void setforce(benchmark::State& state) {
  solver::analysis a = bench::strained_square(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    solver::setforce(a);
    benchmark::ClobberMemory();
  }
  per_element(state, a);
}

// The objective wrapped so that the minimiser's calls are counted and timed.
struct counted {
  solver::EnergyEvaluator& objective;
  long evaluations = 0;
  double seconds = 0.0;
  double operator()(int n, const terms::Vector& x, terms::Vector& g) {
    const auto start = clock_type::now();
    const double f = objective(n, x, g);
    seconds += std::chrono::duration<double>(clock_type::now() - start).count();
    ++evaluations;
    return f;
  }
};

void lbfgs_iteration(benchmark::State& state) {
  solver::analysis a = bench::square_model(static_cast<int>(state.range(0)));
  solver::setforce(a);
  const auto evaluator = law().evaluator(a, {});
  counted f{*evaluator};
  nlp::qn<counted> minimiser(f);
  constexpr int iterations_per_call = 8;
  long iterations = 0;
  double total = 0.0;
  for (auto _ : state) {
    for (int i = 1; i <= a.nfree; ++i) a.u(i) = 0.0;
    const auto start = clock_type::now();
    const auto r = minimiser.lbfgs(a.maxlist, a.nfree, iterations_per_call, a.maxls, 0.0, a.lstol, a.u, a.g);
    total += std::chrono::duration<double>(clock_type::now() - start).count();
    iterations += r.iterations;
    benchmark::DoNotOptimize(r.value);
  }
  const double per = 1e9 / static_cast<double>(iterations);
  state.counters["unknowns"] = a.nfree;
  state.counters["evals_per_iter"] = static_cast<double>(f.evaluations) / static_cast<double>(iterations);
  state.counters["objective_ns"] = f.seconds * per;
  state.counters["overhead_ns_per_unknown"] = (total - f.seconds) * per / a.nfree;
  state.counters["objective_share"] = f.seconds / total;
}

// The driver's loop (the solver's run without the files), on the counted
// objective.
void solve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  solver::EvaluationOptions options;
  options.spin = std::chrono::microseconds(state.range(1));
  const double cpu_start = process_cpu_seconds();
  long evaluations = 0;
  long line_searches = 0;
  int majors = 0;
  double objective_seconds = 0.0;
  double total_seconds = 0.0;
  double setup_seconds = 0.0;
  for (auto _ : state) {
    const auto start = clock_type::now();
    solver::analysis a = bench::square_model(n);
    solver::setforce(a);
    const auto evaluator = law().evaluator(a, options);
    counted f{*evaluator};
    a.energy = f(a.nfree, a.u, a.g);
    setup_seconds += std::chrono::duration<double>(clock_type::now() - start).count();
    a.residue = a.mnref > 0.0 ? a.mnref * a.mntol : nlp::norm(a.nfree, a.g) * a.mntol;
    nlp::qn<counted> minimiser(f);
    while (a.residue < nlp::norm(a.nfree, a.g) && a.major < a.maxmajor) {
      a.major = a.major + 1;
      const auto r = minimiser.lbfgs(a.maxlist, a.nfree, a.maxminor, a.maxls, a.residue, a.lstol, a.u, a.g);
      line_searches += r.iterations;
      solver::setforce(a);
      a.energy = f(a.nfree, a.u, a.g);
    }
    total_seconds += std::chrono::duration<double>(clock_type::now() - start).count();
    evaluations += f.evaluations;
    objective_seconds += f.seconds;
    majors += a.major;
    benchmark::DoNotOptimize(a.energy);
    state.counters["elements"] = a.nelem;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["evaluations"] = static_cast<double>(evaluations) / runs;
  state.counters["line_searches"] = static_cast<double>(line_searches) / runs;
  state.counters["majors"] = majors / runs;
  state.counters["objective_share"] = objective_seconds / total_seconds;
  state.counters["setup_share"] = setup_seconds / total_seconds;
  // Processor time of all the process's threads over wall time: 2 when a
  // second thread is busy throughout, polling or working.
  state.counters["cpus_busy"] = (process_cpu_seconds() - cpu_start) / total_seconds;
  state.counters["ns_per_element_eval"] =
      objective_seconds * 1e9 / (static_cast<double>(evaluations) * state.counters["elements"].value / runs);
}

// Second argument: threads (0: the hardware's count, as the programs run).
BENCHMARK(objective)
    ->ArgNames({"n", "threads", "poll_us"})
    ->ArgsProduct({{10, 20, 32, 40, 48, 56, 64, 80, 160, 200, 400}, {1, 0}, {-1}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(objective)
    ->ArgNames({"n", "threads", "poll_us"})
    ->ArgsProduct({{20, 40, 80}, {0}, {20, 50, 100, 360}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(objective_wrinkling)
    ->ArgNames({"n", "wrinkling"})
    ->ArgsProduct({{40, 80, 200}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(setforce)->Arg(10)->Arg(20)->Arg(40)->Arg(80)->Arg(160)->Arg(400)->UseRealTime()->Unit(
    benchmark::kMicrosecond);
BENCHMARK(lbfgs_iteration)->Arg(10)->Arg(40)->Arg(80)->Arg(160)->Arg(400)->UseRealTime()->Unit(benchmark::kMillisecond);
// Second argument: microseconds an idle thread polls before it sleeps: 4 as
// the programs run, 360 about what 20 000 pauses took, the pool's polling
// before it learned to sleep.
BENCHMARK(solve)
    ->ArgNames({"n", "poll_us"})
    ->ArgsProduct({{10, 20, 40, 50, 80}, {4, 360}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
