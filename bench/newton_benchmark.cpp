// The pieces of the second-order method on square models of the generator's
// layout (4 n^2 elements, velora1's law), at a state half way to the
// solution (the bulge of solver_benchmark.cpp, loads refreshed there):
//
//   tangent/n     assembly of the element tangents into the pattern's
//                 values (the compressive side forces clamped, as the
//                 method factorizes it); ns_per_element.
//   assembly/n/threads/t  the whole tangent as the method assembles it
//                 where the pressure is a potential: the exact element
//                 tangents and the pressure's load stiffness, on t threads
//                 (the evaluator's), the same bits on each.
//   analyse/n     what is done once per model: the pattern over the free
//                 unknowns, the shift matrix's values and the ordering and
//                 symbolic analysis of the factorization.
//   factorize/n   one numeric factorization of tangent + 1e-3 R (the shift
//                 of the first step); factor_entries, and the factor's bytes
//                 per element (8 per entry).
//   solve/n       one solve with that factor (both triangles).
//   step/n        the work of one accepted full step: tangent, factorization,
//                 solve and one energy and gradient evaluation at the new
//                 point.
//
// n = 500 (a million elements) runs each piece once; its set-up alone takes
// several seconds and the factor some hundreds of megabytes.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "bench/square_model.h"
#include "energy/evaluator.h"
#include "energy/gas.h"
#include "energy/law.h"
#include "model/model.h"
#include "newton/sparse_cholesky.h"
#include "newton/tangent_assembly.h"
#include "newton/tangent_pattern.h"
#include "platform/thread_pool.h"

namespace {

constexpr double kShift = 1e-3;  // the first step's shift, in units of R

// A model with its evaluator, pattern, shift and analysed factorization.
struct Prepared {
  solver::analysis a;
  std::unique_ptr<solver::EnergyEvaluator> energy;
  solver::TangentPattern pattern;
  std::vector<double> shift;
  std::vector<double> values;  // tangent + kShift R at a.u
  std::unique_ptr<solver::SparseCholesky> cholesky;

  explicit Prepared(int n) : a(bench::strained_square(n)) {
    energy = solver::green_law().evaluator(a, {});
    pattern = solver::tangent_pattern(a, energy->slots());
    shift = solver::shift_values(a, pattern);
    cholesky = solver::make_sparse_cholesky();
    cholesky->analyse(pattern.n, pattern.colptr, pattern.row);
    values.assign(pattern.row.size(), 0.0);
    solver::green_law().tangent(a, energy->slots(), a.u, pattern.position, true, values);
    for (std::size_t k = 0; k < values.size(); ++k) values[k] += kShift * shift[k];
  }
};

void per_element(benchmark::State& state, const solver::analysis& a) {
  state.counters["elements"] = a.nelem;
  state.counters["unknowns"] = a.nfree;
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(a.nelem) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void tangent(benchmark::State& state) {
  const solver::analysis a = bench::strained_square(static_cast<int>(state.range(0)));
  const auto energy = solver::green_law().evaluator(a, {});
  const solver::TangentPattern p = solver::tangent_pattern(a, energy->slots());
  std::vector<double> values(p.row.size());
  for (auto _ : state) {
    solver::green_law().tangent(a, energy->slots(), a.u, p.position, true, values);
    benchmark::DoNotOptimize(values.data());
    benchmark::ClobberMemory();
  }
  per_element(state, a);
  state.counters["pattern_entries"] = static_cast<double>(p.row.size());
}

void assembly(benchmark::State& state) {
  const solver::analysis a = bench::strained_square(static_cast<int>(state.range(0)));
  const auto energy = solver::green_law().evaluator(a, {static_cast<unsigned>(state.range(1))});
  const solver::TangentPattern p = solver::tangent_pattern(a, energy->slots());
  const solver::PressurePotential pressure(a, true);
  solver::TangentAssembly assembly(a, solver::green_law(), energy->slots(), p, pressure, energy->pool());
  std::vector<double> values(p.row.size());
  for (auto _ : state) {
    assembly.assemble(a.u, false, true, values);
    benchmark::DoNotOptimize(values.data());
    benchmark::ClobberMemory();
  }
  per_element(state, a);
  state.counters["threads"] = static_cast<double>(assembly.parts());
}

void analyse(benchmark::State& state) {
  const solver::analysis a = bench::strained_square(static_cast<int>(state.range(0)));
  const auto energy = solver::green_law().evaluator(a, {});
  double entries = 0.0;
  for (auto _ : state) {
    const solver::TangentPattern p = solver::tangent_pattern(a, energy->slots());
    const std::vector<double> shift = solver::shift_values(a, p);
    auto cholesky = solver::make_sparse_cholesky();
    cholesky->analyse(p.n, p.colptr, p.row);
    entries = cholesky->factor_entries();
    benchmark::DoNotOptimize(shift.data());
  }
  per_element(state, a);
  state.counters["factor_entries"] = entries;
}

constexpr auto kSuccess = solver::SparseCholesky::Status::success;

void factorize(benchmark::State& state) {
  Prepared m(static_cast<int>(state.range(0)));
  // The first numeric factorization also allocates the factor; the
  // method's later ones reuse it.
  bool ok = m.cholesky->factorize(m.values) == kSuccess;
  for (auto _ : state) ok = m.cholesky->factorize(m.values) == kSuccess && ok;
  if (!ok) state.SkipWithError("the shifted tangent was not positive definite");
  per_element(state, m.a);
  state.counters["factor_entries"] = m.cholesky->factor_entries();
  state.counters["factor_bytes_per_element"] = 8.0 * m.cholesky->factor_entries() / m.a.nelem;
}

// Arg 2: 0 the factor as made, 1 rounded to single precision (the
// preconditioner of the conjugate gradients); arg 3: threads of the solve.
void solve(benchmark::State& state) {
  Prepared m(static_cast<int>(state.range(0)));
  if (m.cholesky->factorize(m.values) != kSuccess) {
    state.SkipWithError("the shifted tangent was not positive definite");
    return;
  }
  if (state.range(1) != 0) m.cholesky->round_to_single();
  platform::ThreadPool pool(static_cast<unsigned>(state.range(2)));
  m.cholesky->use_threads(&pool);
  std::vector<double> b(static_cast<std::size_t>(m.a.nfree), 1.0);
  std::vector<double> x(b.size());
  for (auto _ : state) {
    m.cholesky->solve(b.data(), x.data());
    benchmark::DoNotOptimize(x.data());
  }
  per_element(state, m.a);
}

void step(benchmark::State& state) {
  Prepared m(static_cast<int>(state.range(0)));
  solver::analysis& a = m.a;
  terms::Vector g(a.nfree);
  (*m.energy)(a.nfree, a.u, g);
  std::vector<double> rhs(static_cast<std::size_t>(a.nfree));
  std::vector<double> d(rhs.size());
  terms::Vector trial(a.nfree);
  terms::Vector gt(a.nfree);
  bool ok = m.cholesky->factorize(m.values) == kSuccess;  // allocates the factor, as the first step does
  for (auto _ : state) {
    // As the method does: the tangent straight into the factorization's
    // values, the shift added in place.
    const std::span<double> v = m.cholesky->values();
    solver::green_law().tangent(a, m.energy->slots(), a.u, m.pattern.position, true, v);
    for (std::size_t k = 0; k < v.size(); ++k) v[k] += kShift * m.shift[k];
    ok = m.cholesky->factorize() == kSuccess && ok;
    for (int k = 1; k <= a.nfree; ++k) rhs[static_cast<std::size_t>(k - 1)] = -g(k);
    m.cholesky->solve(rhs.data(), d.data());
    for (int k = 1; k <= a.nfree; ++k) trial(k) = a.u(k) + d[static_cast<std::size_t>(k - 1)];
    benchmark::DoNotOptimize((*m.energy)(a.nfree, trial, gt));
  }
  if (!ok) state.SkipWithError("the shifted tangent was not positive definite");
  per_element(state, a);
}

BENCHMARK(tangent)->ArgName("n")->Arg(40)->Arg(80)->Arg(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(tangent)->ArgName("n")->Arg(500)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(assembly)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{80, 200}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(assembly)
    ->ArgNames({"n", "threads"})
    ->ArgsProduct({{500}, {1, 2}})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(analyse)->ArgName("n")->Arg(40)->Arg(80)->Arg(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(analyse)->ArgName("n")->Arg(500)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(factorize)->ArgName("n")->Arg(40)->Arg(80)->Arg(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(factorize)->ArgName("n")->Arg(500)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(solve)
    ->ArgNames({"n", "single", "threads"})
    ->ArgsProduct({{40, 80, 200}, {0, 1}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(solve)
    ->ArgNames({"n", "single", "threads"})
    ->ArgsProduct({{500}, {0, 1}, {1, 2}})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(step)->ArgName("n")->Arg(40)->Arg(80)->Arg(200)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(step)->ArgName("n")->Arg(500)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

// As the solver programs do (programs/solver_program.cpp): CHOLMOD's
// OpenMP loops get one thread unless the caller says otherwise, set before
// the library, and the OpenMP runtime with it, is loaded.
int main(int argc, char** argv) {
  setenv("OMP_THREAD_LIMIT", "1", 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
