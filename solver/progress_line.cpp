#include "solver/progress_line.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "nlp/nlp.h"

namespace solver {

double ProgressLine::steady_seconds() {
  // The coarse clock (a few milliseconds of resolution, plenty for a line
  // drawn four times a second) is read from memory the kernel keeps up to
  // date, without asking the hardware; steady_clock may have to ask a
  // virtual machine's clock source, which can cost more than a small
  // model's evaluation (BENCHMARKS.md, "Cost of the progress line").
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

bool ProgressLine::wanted(bool asked, bool quiet, bool terminal) { return !quiet && (asked || terminal); }

bool ProgressLine::is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

ProgressLine::ProgressLine(std::FILE* out, Clock clock, double interval)
    : out_(out), clock_(std::move(clock)), interval_(interval) {}

ProgressLine::~ProgressLine() { clear(); }

int ProgressLine::filled(double gnorm, double start, double residue, int width) {
  if (!(start > residue)) return width;                 // converged from the start
  if (std::isnan(gnorm) || !(residue > 0.0)) return 0;  // diverging, or no scale
  if (gnorm <= residue) return width;
  if (gnorm >= start) return 0;
  const double fraction = std::log(start / gnorm) / std::log(start / residue);
  const int cells = static_cast<int>(std::floor(fraction * width));
  return std::clamp(cells, 0, width);
}

std::string ProgressLine::render(const Values& v) {
  const int cells = filled(v.gnorm, v.start, v.residue, kBarWidth);
  std::string bar(static_cast<std::size_t>(cells), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - cells), '.');
  const long long seconds = v.elapsed > 0.0 ? static_cast<long long>(v.elapsed) : 0;
  char clock[32];
  if (seconds >= 3600) {
    std::snprintf(clock, sizeof clock, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else {
    std::snprintf(clock, sizeof clock, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  char line[160];
  std::snprintf(line,
                sizeof line,
                "major %d  minor %d  |g| %.1e / %.1e [%s]  %.0f ev/s  %s",
                v.major,
                v.minor,
                v.gnorm,
                v.residue,
                bar.c_str(),
                v.rate,
                clock);
  return line;
}

void ProgressLine::evaluated(const Evaluation& e) {
  const double now = clock_();
  if (!seen_) {
    seen_ = true;
    started_ = now;
    start_norm_ = e.g != nullptr ? nlp::norm(e.n, *e.g) : 0.0;
  }
  if (drawn_ > 0 && now - last_draw_ < interval_) return;
  last_draw_ = now;
  Values v;
  v.major = e.major;
  v.minor = e.minor;
  v.gnorm = e.g != nullptr ? nlp::norm(e.n, *e.g) : 0.0;
  v.start = start_norm_;
  v.residue = e.residue;
  v.elapsed = now - started_;
  v.rate = v.elapsed > 0.0 ? static_cast<double>(e.evaluations) / v.elapsed : 0.0;
  draw(render(v));
}

void ProgressLine::draw(const std::string& text) {
  // Spaces over what is left of a longer earlier line.
  std::string line = "\r" + text;
  if (text.size() < drawn_) line.append(drawn_ - text.size(), ' ');
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  drawn_ = std::max(drawn_, text.size());
}

void ProgressLine::clear() {
  if (drawn_ == 0) return;
  std::string blank = "\r";
  blank.append(drawn_, ' ');
  blank += '\r';
  std::fputs(blank.c_str(), out_);
  std::fflush(out_);
  drawn_ = 0;
}

}  // namespace solver
