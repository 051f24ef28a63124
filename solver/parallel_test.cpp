// The parallel evaluation gives the serial results bit for bit, whatever
// the thread count: the elements' terms are computed apart, but the energy
// and every gradient component are summed in element order as before.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "solver/model.h"
#include "solver/pool.h"
#include "solver/solver.h"

namespace solver {
namespace {

// A warped square of n x n cells, two triangles each (2 n^2 elements), the
// boundary fixed in all directions except one corner that is displaced, a
// pressure that varies from element to element, and unknowns away from
// rest, so that every term of every sum is different.
analysis warped_square(int n) {
  analysis a;
  a.young = 1000.0;
  a.poisson = 0.3;
  a.density = 0.02;
  const int side = n + 1;
  a.nnode = side * side;
  a.coordx = terms::Vector(a.nnode);
  a.coordy = terms::Vector(a.nnode);
  a.coordz = terms::Vector(a.nnode);
  a.dof = terms::IntTable(a.nnode, 0);
  a.displ = terms::RealTable(a.nnode, 0.0);
  a.action = terms::RealTable(a.nnode, 0.0);
  auto node = [side](int i, int j) { return j * side + i + 1; };
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      const int k = node(i, j);
      a.coordx(k) = i + 0.1 * std::sin(0.7 * j);
      a.coordy(k) = j + 0.1 * std::cos(0.3 * i);
      a.coordz(k) = 0.05 * std::sin(0.2 * i * j);
      a.action(k, 1) = 0.001 * (i % 3);
      if (i == 0 || j == 0 || i == n || j == n) {
        for (int axis = 1; axis <= 3; ++axis) a.dof(k, axis) = 1;
      }
    }
  }
  a.displ(node(n, n), 3) = 0.25;
  a.nelem = 2 * n * n;
  a.elem = terms::Array1<element>(a.nelem);
  int e = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      a.elem(++e).node = {node(i, j), node(i + 1, j), node(i + 1, j + 1)};
      a.elem(e).pressure = 1.0 + 0.01 * e;
      a.elem(++e).node = {node(i, j), node(i + 1, j + 1), node(i, j + 1)};
      a.elem(e).pressure = -0.5;
    }
  }
  start(a);
  for (int k = 1; k <= a.nfree; ++k) a.u(k) = 0.01 * std::sin(1.3 * k);
  setforce(a);
  return a;
}

bool same_bits(double p, double q) { return std::memcmp(&p, &q, sizeof p) == 0; }

void expect_same_evaluation(unsigned threads) {
  analysis serial = warped_square(50);  // 5000 elements
  ASSERT_GE(serial.nelem, serial.parallel_from);
  serial.threads = 1;
  analysis parallel = warped_square(50);
  parallel.threads = threads;
  terms::Vector gs(serial.nfree, 7.0);
  terms::Vector gp(parallel.nfree, -3.0);  // entry content must not matter
  for (int round = 0; round < 2; ++round) {  // the second call reuses the buffers and threads
    const double fs = objective(serial, serial.nfree, serial.u, gs);
    const double fp = objective(parallel, parallel.nfree, parallel.u, gp);
    ASSERT_NE(parallel.workers, nullptr) << "the evaluation did not run in parallel";
    EXPECT_EQ(serial.workers, nullptr);
    EXPECT_TRUE(same_bits(fs, fp)) << fs << " " << fp;
    int differing = 0;
    for (int k = 1; k <= serial.nfree; ++k) differing += same_bits(gs(k), gp(k)) ? 0 : 1;
    EXPECT_EQ(differing, 0) << "of " << serial.nfree << " gradient components";
    for (int k = 1; k <= serial.nfree; ++k) serial.u(k) = parallel.u(k) = serial.u(k) * 1.5;
  }
}

TEST(ParallelObjective, TwoThreadsGiveTheSerialBits) { expect_same_evaluation(2); }

TEST(ParallelObjective, ThreeThreadsGiveTheSerialBits) { expect_same_evaluation(3); }

TEST(ParallelObjective, SmallModelsStayOnOneThread) {
  analysis a = warped_square(4);
  a.threads = 2;
  terms::Vector g(a.nfree);
  objective(a, a.nfree, a.u, g);
  EXPECT_EQ(a.workers, nullptr);
}

TEST(ParallelObjective, ChangingTheThreadCountKeepsTheResult) {
  analysis a = warped_square(50);
  terms::Vector g2(a.nfree), g3(a.nfree);
  a.threads = 2;
  const double f2 = objective(a, a.nfree, a.u, g2);
  a.threads = 3;
  const double f3 = objective(a, a.nfree, a.u, g3);
  ASSERT_NE(a.workers, nullptr);
  EXPECT_EQ(a.workers->size(), 3u);
  EXPECT_TRUE(same_bits(f2, f3));
  for (int k = 1; k <= a.nfree; ++k) ASSERT_TRUE(same_bits(g2(k), g3(k))) << k;
}

std::string slurp(const std::filesystem::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A whole solve in parallel (every model counts as large here) writes the
// reference report and script byte for byte.
TEST(ParallelSolve, ReportAndScriptMatchTheReferenceFiles) {
  const std::filesystem::path data = VELORA_GOLDEN_TESTDATA;
  const std::filesystem::path home = std::filesystem::current_path();
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "velora_parallel_test";
  for (const unsigned threads : {1u, 2u, 3u}) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(data / "input.txt", dir / "input.txt");
    std::filesystem::current_path(dir);
    analysis a;
    a.threads = threads;
    a.parallel_from = 2;
    run(a);
    std::filesystem::current_path(home);
    EXPECT_EQ(threads > 1, a.workers != nullptr);
    EXPECT_EQ(slurp(dir / "output.txt"), slurp(data / "output1.txt")) << threads << " threads";
    EXPECT_EQ(slurp(dir / "autocad.scr"), slurp(data / "autocad1.scr")) << threads << " threads";
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace solver
