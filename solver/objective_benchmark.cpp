// Energy and gradient of square membranes, the solver's inner loop: one
// objective evaluation per iteration, reported as nanoseconds per element
// per evaluation ("ns_per_element"). Built once per material law.
//
// The mesh: a square of n x n cells, each split into two triangles along a
// diagonal (2 n^2 elements), the whole boundary fixed, evaluated at a small
// out-of-plane bulge so that every element is strained.

#include <benchmark/benchmark.h>

#include <cmath>

#include "solver/model.h"

namespace {

solver::analysis square_mesh(int n) {
  solver::analysis a;
  a.young = 1000.0;
  a.poisson = 0.3;
  a.density = 0.01;
  const int side = n + 1;
  a.nnode = side * side;
  a.coordx = terms::Vector(a.nnode);
  a.coordy = terms::Vector(a.nnode);
  a.coordz = terms::Vector(a.nnode);
  a.dof = terms::IntTable(a.nnode, 0);
  a.displ = terms::RealTable(a.nnode, 0.0);
  a.action = terms::RealTable(a.nnode, 0.0);
  auto node = [side](int i, int j) { return j * side + i + 1; };  // row by row
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      const int k = node(i, j);
      a.coordx(k) = -1.0 + 2.0 * i / n;
      a.coordy(k) = -1.0 + 2.0 * j / n;
      if (i == 0 || j == 0 || i == n || j == n) {
        for (int axis = 1; axis <= 3; ++axis) a.dof(k, axis) = 1;
      }
    }
  }
  a.nelem = 2 * n * n;
  a.elem = terms::Array1<solver::element>(a.nelem);
  int e = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      a.elem(++e).node = {node(i, j), node(i + 1, j), node(i + 1, j + 1)};
      a.elem(e).pressure = 0.01;
      a.elem(++e).node = {node(i, j), node(i + 1, j + 1), node(i, j + 1)};
      a.elem(e).pressure = 0.01;
    }
  }
  solver::start(a);
  for (int k = 1; k <= a.nnode; ++k) {
    const double x = a.coordx(k);
    const double y = a.coordy(k);
    const double bulge = 0.1 * std::cos(0.5 * M_PI * x) * std::cos(0.5 * M_PI * y);
    if (a.dof(k, 3) <= a.nfree) a.u(a.dof(k, 3)) = bulge;
    if (a.dof(k, 1) <= a.nfree) a.u(a.dof(k, 1)) = 0.01 * x * bulge;
  }
  solver::setforce(a);
  return a;
}

void objective(benchmark::State &state) {
  solver::analysis a = square_mesh(static_cast<int>(state.range(0)));
  const terms::Vector x = a.u;
  terms::Vector g(a.nfree);
  for (auto _ : state) {
    benchmark::DoNotOptimize(solver::objective(a, a.nfree, x, g));
    benchmark::ClobberMemory();
  }
  state.counters["elements"] = a.nelem;
  // Iterations per second per element, inverted: seconds per element per
  // evaluation, shown in ns.
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(a.nelem) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// n = 7, 22, 71, 224, 707: about 10^2 to 10^6 elements.
BENCHMARK(objective)->Arg(7)->Arg(22)->Arg(71)->Arg(224)->Arg(707)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
