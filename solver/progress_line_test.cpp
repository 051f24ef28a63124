#include "solver/progress_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

// A FILE* whose text can be read back.
class Capture {
 public:
  Capture() : file_(open_memstream(&buffer_, &size_)) {}
  ~Capture() {
    std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

// A clock that returns the given times in turn.
solver::ProgressLine::Clock Times(std::vector<double> times) {
  auto next = std::make_shared<std::size_t>(0);
  return [times, next] {
    const double t = times[std::min(*next, times.size() - 1)];
    ++*next;
    return t;
  };
}

solver::Evaluation At(int major, int minor, long long evaluations, const terms::Vector& g) {
  solver::Evaluation e;
  e.major = major;
  e.minor = minor;
  e.evaluations = evaluations;
  e.n = g.size();
  e.g = &g;
  e.residue = 1e-6;
  return e;
}

int Draws(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\r')); }

TEST(ProgressLine, FirstEvaluationDrawsThenAtMostOncePerInterval) {
  Capture out;
  terms::Vector g(2);
  g(1) = 1.0;
  g(2) = -0.5;
  {
    solver::ProgressLine line(out.file(), Times({10.0, 10.1, 10.2, 10.3, 10.4, 10.5, 10.6}), 0.25);
    for (int k = 1; k <= 7; ++k) line.evaluated(At(1, k, k, g));
    // Drawn at 10.0, 10.3 and 10.6: three of seven.
    EXPECT_EQ(Draws(out.text()), 3);
  }
  // The destructor clears: one more "\r" before and one after the blanks.
  EXPECT_EQ(Draws(out.text()), 5);
}

// The default clock moves forward, in seconds.
TEST(ProgressLine, DefaultClockIsMonotoneSeconds) {
  const double a = solver::ProgressLine::steady_seconds();
  timespec pause{0, 30'000'000};  // 30 ms, several ticks of the coarse clock
  nanosleep(&pause, nullptr);
  const double b = solver::ProgressLine::steady_seconds();
  EXPECT_GT(b - a, 0.01);
  EXPECT_LT(b - a, 5.0);
}

TEST(ProgressLine, ClearBlanksTheLongestLineAndReturns) {
  Capture out;
  terms::Vector g(1);
  g(1) = 2.0;
  solver::ProgressLine line(out.file(), Times({0.0}), 0.0);
  line.evaluated(At(1, 1, 1, g));
  const std::string drawn = out.text();
  ASSERT_EQ(drawn[0], '\r');
  const std::size_t width = drawn.size() - 1;
  line.clear();
  EXPECT_EQ(out.text().substr(drawn.size()), "\r" + std::string(width, ' ') + "\r");
  line.clear();  // nothing drawn since: nothing written
  EXPECT_EQ(out.text().size(), drawn.size() + width + 2);
}

TEST(ProgressLine, NothingWrittenWithoutEvaluations) {
  Capture out;
  { solver::ProgressLine line(out.file(), Times({0.0}), 0.25); }
  EXPECT_EQ(out.text(), "");
}

TEST(ProgressLine, ShorterLinePadsOverTheLongerOne) {
  Capture out;
  terms::Vector g(1);
  g(1) = 1.0;
  solver::ProgressLine line(out.file(), Times({0.0, 1.0}), 0.5);
  line.evaluated(At(12, 12345, 10, g));
  const std::size_t first = out.text().size();
  line.evaluated(At(1, 1, 11, g));
  EXPECT_EQ(out.text().size() - first, first);  // the same width again
}

TEST(ProgressLine, RendersEveryField) {
  solver::ProgressLine::Values v;
  v.major = 3;
  v.minor = 152;
  v.gnorm = 1e-3;  // halfway from 1 to 1e-6 on a log scale
  v.start = 1.0;
  v.residue = 1e-6;
  v.rate = 849.6;
  v.elapsed = 75.9;
  EXPECT_EQ(solver::ProgressLine::render(v),
            "major 3  minor 152  |g| 1.0e-03 / 1.0e-06 [########........]  850 ev/s  1:15");
  v.elapsed = 3725.0;
  EXPECT_NE(solver::ProgressLine::render(v).find("  1:02:05"), std::string::npos);
}

TEST(ProgressLine, BarIsLogarithmicAndClamped) {
  using solver::ProgressLine;
  EXPECT_EQ(ProgressLine::filled(1.0, 1.0, 1e-6, 16), 0);
  EXPECT_EQ(ProgressLine::filled(1e-3, 1.0, 1e-6, 16), 8);
  EXPECT_EQ(ProgressLine::filled(1e-6, 1.0, 1e-6, 16), 16);
  EXPECT_EQ(ProgressLine::filled(1e-9, 1.0, 1e-6, 16), 16);
  EXPECT_EQ(ProgressLine::filled(10.0, 1.0, 1e-6, 16), 0);          // worse than at the start
  EXPECT_EQ(ProgressLine::filled(std::nan(""), 1.0, 1e-6, 16), 0);  // diverging
  EXPECT_EQ(ProgressLine::filled(1.0, 1e-7, 1e-6, 16), 16);         // converged from the start
  EXPECT_EQ(ProgressLine::filled(0.5, 1.0, 0.0, 16), 0);            // no residue: no scale
}

struct Wanted {
  bool asked, quiet, terminal, shown;
};
class ProgressWanted : public ::testing::TestWithParam<Wanted> {};
TEST_P(ProgressWanted, TerminalOrAskedButNeverQuiet) {
  const Wanted w = GetParam();
  EXPECT_EQ(solver::ProgressLine::wanted(w.asked, w.quiet, w.terminal), w.shown);
}
INSTANTIATE_TEST_SUITE_P(ProgressLine,
                         ProgressWanted,
                         ::testing::Values(Wanted{false, false, false, false},
                                           Wanted{false, false, true, true},
                                           Wanted{true, false, false, true},
                                           Wanted{true, false, true, true},
                                           Wanted{false, true, true, false},
                                           Wanted{false, true, false, false}));

}  // namespace
