#pragma once
// Progress of a solver run on one line of standard error, rewritten in
// place ("\r") and cleared at the end:
//
//   major 3  minor 152  |g| 4.1e-03 / 1.0e-06 [######..........]  850 ev/s  0:12
//
// the major iteration, the minor iterations so far, the largest residual
// force against the allowable residue with a bar on a log scale (empty at
// the first residual seen, full at the residue), evaluations per second and
// the elapsed time. The first evaluation draws the line, later ones at most
// once per interval. The cost: a coarse clock reading per evaluation and a
// norm and a short write per interval (BENCHMARKS.md, "Cost of the progress
// line").

#include <cstdio>
#include <functional>
#include <string>

#include "solver/progress.h"

namespace solver {

class ProgressLine final : public ProgressObserver {
 public:
  // Seconds on a monotone clock (the default: CLOCK_MONOTONIC_COARSE).
  using Clock = std::function<double()>;
  static double steady_seconds();

  // Whether a run shows progress: asked for (--progress), or standard error
  // is a terminal; never when quiet.
  static bool wanted(bool asked, bool quiet, bool terminal);
  // Whether the stream is a terminal.
  static bool is_terminal(std::FILE* stream);

  // Draws on out (not owned), at most once per interval seconds after the
  // first draw.
  explicit ProgressLine(std::FILE* out, Clock clock = steady_seconds, double interval = 0.25);
  ~ProgressLine() override;
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void evaluated(const Evaluation& e) override;
  // Blanks the line and returns the cursor to its start; nothing when no
  // line was drawn. Also done by the destructor, so a failure report starts
  // on a clean line.
  void clear();

  // The text of the line (without "\r"), for the values given.
  struct Values {
    int major = 0;
    int minor = 0;
    double gnorm = 0.0;    // largest residual force now
    double start = 0.0;    // largest residual force at the first evaluation
    double residue = 0.0;  // allowable residue
    double rate = 0.0;     // evaluations per second
    double elapsed = 0.0;  // seconds
  };
  static std::string render(const Values& v);
  // Bar length filled: log(start/gnorm) / log(start/residue) of the width,
  // clamped to 0..width; full when start is already at or below the residue.
  static int filled(double gnorm, double start, double residue, int width);

  static constexpr int kBarWidth = 16;

 private:
  void draw(const std::string& text);

  std::FILE* out_;
  Clock clock_;
  double interval_;
  double started_ = 0.0;     // clock at the first evaluation
  double last_draw_ = 0.0;   // clock at the last draw
  double start_norm_ = 0.0;  // residual at the first evaluation
  bool seen_ = false;        // an evaluation has been seen
  std::size_t drawn_ = 0;    // characters on the line now
};

}  // namespace solver
