#pragma once
// Quasi-Newton minimisers over a client's objective.
//
// qn<Objective> binds an objective routine f(n, x, g) -> value, which stores
// the gradient at x in g(1..n), and offers a line search and three
// minimisers with one interface:
//   lbfgs  limited-memory BFGS, two-loop recursion over a ring of pairs;
//   mbfgs  memoryless BFGS, the same with one pair, in closed form;
//   bfgs   full self-scaling BFGS on a packed n x n inverse Hessian.
// Each minimiser calls linesearch once per iteration; linesearch calls the
// objective once per trial point.
//
// Vectors are terms::Vector (1-based); the routines read and write elements
// 1..n only and run every vector loop over data() in index order. Every dot
// product is accumulated from 0.0 in index order so that results are the
// same bit for bit at any optimisation level.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "nlp/nlp.h"
#include "platform/failure.h"
#include "terms/terms.h"

namespace nlp {

// The correction pairs of lbfgs: a ring of the most recent steps s and
// gradient changes y, oldest ("first") to newest ("last").
//
// The pairs live in one vector used as a circular buffer: first_ is the index
// of the oldest pair, and stepping to the next newer pair is index + 1 modulo
// the size. While the ring grows, insert makes the new pair the newest (just
// before the oldest, in circular order); once lbfgs stops inserting, rotate
// overwrites the oldest pair in place and advances first_, so a full ring
// allocates nothing.
class Ring {
 public:
  struct pair {
    int length = 0;      // the number of unknowns the pair was made for
    double alpha = 0.0;  // scratch of direction: (s.d)/ys of the first loop
    double ys = 0.0;     // curvature s.y, accumulated when the pair is stored
    terms::Vector s;     // step x(new) - x(old)
    terms::Vector y;     // gradient change g(new) - g(old)
  };

  // A ring of one pair holding s(1..n) and y(1..n).
  void create(int n, const terms::Vector& s, const terms::Vector& y) {
    pairs_.clear();
    first_ = 0;
    pairs_.push_back(make(n, s, y));
  }

  // A new pair holding s and y becomes the newest, between the newest and
  // the oldest pair.
  void insert(int n, const terms::Vector& s, const terms::Vector& y) {
    if (first_ == 0) {
      pairs_.push_back(make(n, s, y));
    } else {
      pairs_.insert(pairs_.begin() + static_cast<std::ptrdiff_t>(first_), make(n, s, y));
      ++first_;
    }
  }

  // The oldest pair is overwritten with s and y and becomes the newest.
  void rotate(int n, const terms::Vector& s, const terms::Vector& y) {
    pair& p = pairs_[first_];
    first_ = (first_ + 1) % pairs_.size();
    store(p, n, s, y);
  }

  // The pair that becomes the newest, for the caller to fill: a new one
  // (as insert) or, when reuse is set, the oldest one overwritten (as
  // rotate). Its s and y hold n entries of no particular value; its ys must
  // be set with them. No direction may be taken in between.
  pair& next(int n, bool reuse) {
    if (reuse && !pairs_.empty()) {
      pair& p = pairs_[first_];
      first_ = (first_ + 1) % pairs_.size();
      p.length = n;
      return p;
    }
    pair fresh;
    fresh.length = n;
    fresh.s = terms::Vector(n);
    fresh.y = terms::Vector(n);
    if (first_ == 0) {
      pairs_.push_back(std::move(fresh));
      return pairs_.back();
    }
    const auto at = pairs_.insert(pairs_.begin() + static_cast<std::ptrdiff_t>(first_), std::move(fresh));
    ++first_;
    return *at;
  }

  // Releases every pair.
  void destroy() {
    pairs_.clear();
    pairs_.shrink_to_fit();
    first_ = 0;
  }

  int size() const { return static_cast<int>(pairs_.size()); }

  // The k-th pair from the oldest (k = 1) to the newest (k = size()).
  const pair& from_oldest(int k) const { return pairs_[(first_ + static_cast<std::size_t>(k - 1)) % pairs_.size()]; }

  // d := -H.g by the two-loop recursion over the m pairs of the ring, with
  // the initial matrix gamma*I, gamma = ys/(y.y) of the newest pair:
  //   newest to oldest: alpha := (s.d)/ys; d := d - alpha*y
  //   d := gamma*d
  //   oldest to newest: beta := (y.d)/ys; d := d + (alpha - beta)*s
  //   d := -d
  // Each vector update is fused with the dot product that follows it (the
  // element d(i) is finished before it is added into the sum), which gives
  // 2m + 1 passes over memory instead of 4m + 5 with the same operations in
  // the same order, so the same bits.
  void direction(int n, const terms::Vector& g, terms::Vector& d) {
    double* dp = d.data();
    const double* gp = g.data();
    const pair& newest = at_newest(0);
    const double* s = newest.s.data();
    const double* y = newest.y.data();
    double sd = 0.0;
    double yy = 0.0;
    for (int i = 0; i < n; ++i) {
      dp[i] = gp[i];
      sd = sd + s[i] * dp[i];
      yy = yy + y[i] * y[i];
    }
    direction_from(n, sd, yy, d, Last{});
  }

  // What the last pass of direction_from may also do: copy x into x0 and
  // sum the slope d.g of the finished direction, for the line search that
  // follows (Last{} does neither).
  struct Last {
    const double* g = nullptr;  // with x0: the slope d.g is summed
    const double* x = nullptr;  // copied into x0 when x0 is set
    double* x0 = nullptr;
    double slope = 0.0;  // d.g, from 0.0 in index order
  };

  // direction, with its first pass done by the caller: d holds g, sd is
  // s.g and yy is y.y of the newest pair, each summed from 0.0 in index
  // order (lbfgs sums them in the pass that stores the newest pair). The
  // last pass also does what `last` asks; returns it.
  template <class Tail>
  Tail direction_from(int n, double sd, double yy, terms::Vector& d, Tail last) {
    const std::size_t m = pairs_.size();
    double* dp = d.data();
    pair& newest = at_newest(0);
    newest.alpha = sd / newest.ys;
    const double gamma = newest.ys / yy;
    // First loop: update with pair j-1, then alpha of pair j.
    for (std::size_t j = 1; j < m; ++j) {
      const pair& done = at_newest(j - 1);
      pair& p = at_newest(j);
      const double alpha = done.alpha;
      const double* yo = done.y.data();
      const double* s = p.s.data();
      double sum = 0.0;
      for (int i = 0; i < n; ++i) {
        dp[i] = dp[i] - alpha * yo[i];
        sum = sum + s[i] * dp[i];
      }
      p.alpha = sum / p.ys;
    }
    // Last update of the first loop, scaling, and beta of the oldest pair.
    double coefficient;  // alpha - beta of the pair just reached
    {
      const pair& oldest = at_newest(m - 1);
      const double alpha = oldest.alpha;
      const double* y = oldest.y.data();
      double yd = 0.0;
      for (int i = 0; i < n; ++i) {
        dp[i] = gamma * (dp[i] - alpha * y[i]);
        yd = yd + y[i] * dp[i];
      }
      coefficient = oldest.alpha - yd / oldest.ys;
    }
    // Second loop: update with pair j+1, then beta of pair j.
    for (std::size_t j = m - 1; j-- > 0;) {
      const pair& done = at_newest(j + 1);
      const pair& p = at_newest(j);
      const double c = coefficient;
      const double* so = done.s.data();
      const double* y = p.y.data();
      double yd = 0.0;
      for (int i = 0; i < n; ++i) {
        dp[i] = dp[i] + c * so[i];
        yd = yd + y[i] * dp[i];
      }
      coefficient = p.alpha - yd / p.ys;
    }
    // Last update of the second loop with the newest pair, and d := -d;
    // with the line search's start point and slope when asked.
    const double c = coefficient;
    const double* s = newest.s.data();
    if (last.x0 == nullptr) {
      for (int i = 0; i < n; ++i) dp[i] = -(dp[i] + c * s[i]);
      return last;
    }
    const double* gp = last.g;
    const double* xp = last.x;
    double* x0 = last.x0;
    double slope = 0.0;
    for (int i = 0; i < n; ++i) {
      dp[i] = -(dp[i] + c * s[i]);
      slope = slope + dp[i] * gp[i];
      x0[i] = xp[i];
    }
    last.slope = slope;
    return last;
  }

 private:
  // The j-th pair counting from the newest (j = 0) towards the oldest.
  pair& at_newest(std::size_t j) {
    const std::size_t m = pairs_.size();
    return pairs_[(first_ + m - 1 - j) % m];
  }

  static pair make(int n, const terms::Vector& s, const terms::Vector& y) {
    pair p;
    p.s = terms::Vector(n);
    p.y = terms::Vector(n);
    store(p, n, s, y);
    return p;
  }

  // Copies s and y into p and accumulates ys = s.y, in one pass. Every pair
  // is stored whatever the sign of ys.
  static void store(pair& p, int n, const terms::Vector& s, const terms::Vector& y) {
    p.length = n;
    const double* sp = s.data();
    const double* yp = y.data();
    double* ps = p.s.data();
    double* py = p.y.data();
    double ys = 0.0;
    for (int i = 0; i < n; ++i) {
      ps[i] = sp[i];
      py[i] = yp[i];
      ys = ys + ps[i] * py[i];
    }
    p.ys = ys;
  }

  std::vector<pair> pairs_;
  std::size_t first_ = 0;  // index of the oldest pair
};

template <class Objective>
class qn {
  static_assert(std::is_invocable_r_v<double, Objective&, int, const terms::Vector&, terms::Vector&>,
                "the objective must be callable as f(int n, const terms::Vector& x, terms::Vector& g) "
                "and return the value at x as a double, storing the gradient in g(1..n)");

 public:
  // What a minimiser returns: iterations are the line searches done (at
  // least 1), value the objective as the last line search returned it.
  using result = Result;

  // The objective is held by reference: it must outlive the qn object.
  explicit qn(Objective& f) : f_(f) {}
  qn(Objective&&) = delete;

  // The iterations (line searches) begun by the minimiser call running, or
  // by the last one; 0 before any. The objective may read it while it is
  // called, to report progress. Only written, never read, by the minimisers.
  int iterations() const { return iterations_; }

  // The step of the cubic that takes values fa, fb and slopes ga, gb at the
  // steps a < b at its local minimum:
  //   z = 3(fa - fb)/(b - a) + ga + gb,  w = sqrt(z^2 - ga*gb),
  //   c = b - (b - a)(gb + w - z)/(gb - ga + 2w).
  // w is formed without squaring large numbers, from p = sqrt|ga|*sqrt|gb|
  // (two roots, so the product cannot overflow) and r, the smaller of p and
  // |z| over the larger. A step outside [a, b], NaN included, gives the
  // midpoint; so do slopes of one sign with p > |z| (no local minimum).
  static double cubic(double a, double b, double fa, double fb, double ga, double gb) {
    if (ga == 0.0) return a;
    if (gb == 0.0) return b;
    const double z = ((3.0 * (fa - fb)) / (b - a) + ga) + gb;
    const double p = std::sqrt(std::fabs(ga)) * std::sqrt(std::fabs(gb));
    const double az = std::fabs(z);
    double w;
    if ((ga < 0.0) != (gb < 0.0)) {
      // Opposite slopes: z*z - ga*gb = z*z + p*p.
      if (p <= az) {
        const double r = p / az;
        w = az * std::sqrt(1.0 + r * r);
      } else {
        const double r = az / p;
        w = p * std::sqrt(1.0 + r * r);
      }
    } else {
      // Slopes of one sign: z*z - p*p, real only when p <= |z|.
      if (p <= az) {
        const double r = p / az;
        w = az * std::sqrt(1.0 - r * r);
      } else {
        return (a + b) * 0.5;
      }
    }
    // gb + w - z, rewritten for z > 0 as gb - ga*gb/(z + w) (multiply by
    // (z + w)/(z + w), w*w - z*z = -ga*gb) to avoid cancelling w - z.
    const double m = z > 0.0 ? gb - (ga * gb) / (z + w) : (gb + w) - z;
    const double c = b - ((b - a) * m) / ((gb - ga) + 2.0 * w);
    if (a <= c && c <= b) return c;
    return (a + b) * 0.5;
  }

  // Searches along d from x for a point where the slope has dropped to
  // lstol*|slope at x| and the value is no higher than both bracket ends.
  //   f: value at x; x: start point in, last trial point out; g: gradient at
  //   x in, at the returned x out; d: direction, used at its own length.
  // Returns the value at the last trial. The trial at step 1.0 only starts
  // the bracket, which is expanded by doubling without limit while the value
  // decreases with a negative slope; at least one cubic step follows and at
  // most max(1, maxls). The last trial is returned, acceptable or not.
  // A direction with slope d.g >= 0 writes "Line Search Failure" and raises
  // HALT.
  double linesearch(
      int n, int maxls, double lstol, double f, terms::Vector& x, terms::Vector& g, const terms::Vector& d) {
    // Every trial point is rebuilt from x0 (x0 + a*d): no rounding builds up.
    if (x0_.size() < n) x0_ = terms::Vector(n);
    std::copy(x.data(), x.data() + std::max(n, 0), x0_.data());
    return search(n, maxls, lstol, f, x, g, d, dot(n, d.data(), g.data()));
  }

  // Limited-memory BFGS: at most maxminor iterations, stopping early once
  // norm(n, g) <= gtol; the direction is the two-loop recursion over the
  // max(1, maxlist) most recent pairs. The first iteration is steepest
  // descent at full length (first trial point x - g), whatever g is.
  //   x: start point in, last point out; g: gradient at the returned x out.
  // The passes over memory between two line searches are fused (the same
  // operations in the same order as direction and linesearch, so the same
  // bits): storing the newest pair also starts the direction (d := g, the
  // newest pair's s.g and y.y), and the direction's last pass copies the
  // line search's start point and sums its first slope.
  result lbfgs(
      int maxlist, int n, int maxminor, int maxls, double gtol, double lstol, terms::Vector& x, terms::Vector& g) {
    int iterations = 1;
    iterations_ = iterations;
    double value = evaluate(n, x, g);
    terms::Vector d(n);
    Ring pairs;
    if (x0_.size() < n) x0_ = terms::Vector(n);

    // d := -g, x0 := x and the slope d.g in one pass.
    double slope = 0.0;
    {
      const double* gp = g.data();
      const double* xp = x.data();
      double* dp = d.data();
      double* x0 = x0_.data();
      for (int i = 0; i < n; ++i) {
        dp[i] = -gp[i];
        slope = slope + dp[i] * gp[i];
        x0[i] = xp[i];
      }
    }
    Pass pass;
    value = step_into(n, maxls, lstol, value, slope, x, g, d, pairs.next(n, false), pass);
    while (iterations < maxminor && pass.gnorm > gtol) {
      ++iterations;
      iterations_ = iterations;
      slope = pairs.direction_from(n, pass.sd, pass.yy, d, Ring::Last{g.data(), x.data(), x0_.data()}).slope;
      value = step_into(n, maxls, lstol, value, slope, x, g, d, pairs.next(n, iterations > maxlist), pass);
    }
    const bool converged = pass.gnorm <= gtol;
    pairs.destroy();
    return result{iterations, value, converged, false};
  }

 private:
  // linesearch from the start point already in x0_, with the slope s0 =
  // d.g there.
  double search(
      int n, int maxls, double lstol, double f, terms::Vector& x, terms::Vector& g, const terms::Vector& d, double s0) {
    if (s0 >= 0.0) halt();  // a NaN slope goes on
    const double t = -(s0 * lstol);

    end low{0.0, f, s0};
    end high{1.0, 0.0, 0.0};
    high.value = trial(n, high.step, x, g, d, high.slope);
    while (high.slope < 0.0 && high.value < low.value) {
      low = high;
      high.step = 2.0 * high.step;
      high.value = trial(n, high.step, x, g, d, high.slope);
    }
    for (int k = 1;; ++k) {
      const double a = cubic(low.step, high.step, low.value, high.value, low.slope, high.slope);
      double sa;
      const double fa = trial(n, a, x, g, d, sa);
      const bool acceptable = fa <= low.value && fa <= high.value && std::fabs(sa) <= t;
      if (acceptable || k >= maxls) return fa;
      if (sa < 0.0) {
        low = end{a, fa, sa};
      } else {
        high = end{a, fa, sa};  // a zero or NaN slope closes the bracket from above
      }
    }
  }

 public:
  // Memoryless BFGS: lbfgs with one pair, the direction in closed form
  //   d = (cs*s + cy*y) - gamma*g,  gamma = sy/yy,
  //   cs = yg/yy - 2*sg/sy,  cy = sg/yy,
  // from the step s and gradient change y of the line search just finished.
  result mbfgs(int n, int maxminor, int maxls, double gtol, double lstol, terms::Vector& x, terms::Vector& g) {
    int iterations = 1;
    iterations_ = iterations;
    double value = evaluate(n, x, g);
    terms::Vector d(n);
    terms::Vector s(n);
    terms::Vector y(n);

    negate(n, g, d);
    value = step(n, maxls, lstol, value, x, g, d, s, y);
    while (iterations < maxminor && norm(n, g) > gtol) {
      ++iterations;
      iterations_ = iterations;
      const double* sp = s.data();
      const double* yp = y.data();
      const double* gp = g.data();
      double* dp = d.data();
      double sy = 0.0;
      double yy = 0.0;
      double sg = 0.0;
      double yg = 0.0;
      for (int i = 0; i < n; ++i) {
        sy = sy + sp[i] * yp[i];
        yy = yy + yp[i] * yp[i];
        sg = sg + sp[i] * gp[i];
        yg = yg + yp[i] * gp[i];
      }
      const double gamma = sy / yy;
      const double cs = yg / yy - (2.0 * sg) / sy;
      const double cy = sg / yy;
      for (int i = 0; i < n; ++i) dp[i] = (cs * sp[i] + cy * yp[i]) - gamma * gp[i];
      value = step(n, maxls, lstol, value, x, g, d, s, y);
    }
    const bool converged = norm(n, g) <= gtol;
    return result{iterations, value, converged, false};
  }

  // Packed position (1-based) of element (r, c), r >= c, of a symmetric n x n
  // matrix stored diagonal by diagonal: the main diagonal at 1..n, the first
  // sub-diagonal at n+1..2n-1, ..., the corner (n, 1) last. Diagonal k = r - c
  // starts after k*n - k(k-1)/2 elements; (r - c)(2n + c - r + 1) is even.
  // 64-bit so that positions beyond 2^31 (n > 65535) stay exact.
  static constexpr std::int64_t pos(std::int64_t n, std::int64_t r, std::int64_t c) {
    return c + (r - c) * (2 * n + c - r + 1) / 2;
  }

  // Full BFGS with self-scaling: H (inverse Hessian, packed lower triangle,
  // identity at the start of every call) is updated after each line search
  //   u = H.y, r = sqrt(y.u), w = (r/ys)*s - u/r, sigma = ys/yu,
  //   H := sigma*(H - u.u'/yu + w.w') + s.s'/ys,
  // and the direction is -H.g. A negative y.u (H no longer positive
  // definite) is an ARGUMENT_ERROR, the failure of a real square root.
  result bfgs(int n, int maxminor, int maxls, double gtol, double lstol, terms::Vector& x, terms::Vector& g) {
    const std::size_t nn = n > 0 ? static_cast<std::size_t>(n) : 0;
    std::vector<double> h(nn * (nn + 1) / 2, 0.0);
    std::fill(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(nn), 1.0);  // the main diagonal
    terms::Vector d(n);
    terms::Vector s(n);
    terms::Vector y(n);
    terms::Vector u(n);

    int iterations = 1;
    iterations_ = iterations;
    double value = evaluate(n, x, g);
    negate(n, g, d);
    value = step(n, maxls, lstol, value, x, g, d, s, y);
    while (norm(n, g) > gtol && iterations < maxminor) {
      ++iterations;
      iterations_ = iterations;
      symmetric_product(n, h, y, u);
      const double* sp = s.data();
      const double* yp = y.data();
      const double* up = u.data();
      double* wp = d.data();  // w lives in d until the new direction replaces it
      double ys = 0.0;
      double yu = 0.0;
      for (int i = 0; i < n; ++i) {
        ys = ys + sp[i] * yp[i];
        yu = yu + yp[i] * up[i];
      }
      if (yu < 0.0) {
        char text[160];
        std::snprintf(text,
                      sizeof text,
                      "square root of a negative curvature y·Hy = %.17g in the BFGS update (iteration %d)",
                      yu,
                      iterations);
        throw platform::ArgumentError(text);
      }
      const double r = std::sqrt(yu);
      for (int i = 0; i < n; ++i) wp[i] = (r / ys) * sp[i] - up[i] / r;
      const double sigma = ys / yu;
      for (int i = 1; i <= n; ++i) {
        const double a = up[i - 1] / yu;
        const double b = sp[i - 1] / ys;
        const double wi = wp[i - 1];
        for (int j = 1; j <= i; ++j) {
          double& hij = h[static_cast<std::size_t>(pos(n, i, j) - 1)];
          hij = b * sp[j - 1] + ((hij - a * up[j - 1]) + wi * wp[j - 1]) * sigma;
        }
      }
      symmetric_product(n, h, g, d);
      double* dp = d.data();
      for (int i = 0; i < n; ++i) dp[i] = -dp[i];
      value = step(n, maxls, lstol, value, x, g, d, s, y);
    }
    const bool converged = norm(n, g) <= gtol;
    return result{iterations, value, converged, false};
  }

 private:
  struct end {
    double step;
    double value;
    double slope;
  };

  double evaluate(int n, const terms::Vector& x, terms::Vector& g) { return static_cast<double>(f_(n, x, g)); }

  // Trial at step a: x := x0 + a*d, value and gradient, slope d.g. An
  // objective with at_step (SteppedObjective) forms the point and sums the
  // slope itself.
  double trial(int n, double a, terms::Vector& x, terms::Vector& g, const terms::Vector& d, double& slope) {
    if constexpr (requires { f_.at_step(n, x0_, a, d, x, g, slope); }) {
      return static_cast<double>(f_.at_step(n, x0_, a, d, x, g, slope));
    } else {
      const double* x0 = x0_.data();
      const double* dp = d.data();
      double* xp = x.data();
      for (int i = 0; i < n; ++i) xp[i] = x0[i] + a * dp[i];
      const double value = evaluate(n, x, g);
      slope = dot(n, dp, g.data());
      return value;
    }
  }

  static void negate(int n, const terms::Vector& g, terms::Vector& d) {
    const double* gp = g.data();
    double* dp = d.data();
    for (int i = 0; i < n; ++i) dp[i] = -gp[i];
  }

  // One iteration's line search with its bookkeeping: s := x, y := g before
  // it, s := x - s (the step) and y := g - y (the gradient change) after it.
  double step(int n,
              int maxls,
              double lstol,
              double value,
              terms::Vector& x,
              terms::Vector& g,
              const terms::Vector& d,
              terms::Vector& s,
              terms::Vector& y) {
    double* sp = s.data();
    double* yp = y.data();
    std::copy(x.data(), x.data() + std::max(n, 0), sp);
    std::copy(g.data(), g.data() + std::max(n, 0), yp);
    const double found = linesearch(n, maxls, lstol, value, x, g, d);
    const double* xp = x.data();
    const double* gp = g.data();
    for (int i = 0; i < n; ++i) {
      sp[i] = xp[i] - sp[i];
      yp[i] = gp[i] - yp[i];
    }
    return found;
  }

  // What the pass after each of lbfgs's line searches sums besides the
  // pair: the gradient's norm, and the first pass of the next direction.
  struct Pass {
    double gnorm = 0.0;  // norm(n, g)
    double sd = 0.0;     // s.g of the newest pair
    double yy = 0.0;     // y.y of the newest pair
  };

  // step for lbfgs, writing into the ring's newest pair p: y := g before
  // the line search (which starts from x0_ with the slope s0); after it, in
  // one pass, s := x - x0, y := g - y, ys := s.y accumulated in index order
  // as the ring's store does, norm(n, g), and the first pass of the next
  // direction: d := g (the finished search no longer needs d), s.g and y.y.
  // Every sum is its own chain from 0.0 in index order, so the bits are
  // those of step followed by Ring::insert or rotate and Ring::direction,
  // with five passes over memory fewer.
  double step_into(int n,
                   int maxls,
                   double lstol,
                   double value,
                   double s0,
                   terms::Vector& x,
                   terms::Vector& g,
                   terms::Vector& d,
                   Ring::pair& p,
                   Pass& pass) {
    double* sp = p.s.data();
    double* yp = p.y.data();
    std::copy(g.data(), g.data() + std::max(n, 0), yp);
    const double found = search(n, maxls, lstol, value, x, g, d, s0);
    const double* xp = x.data();
    const double* x0 = x0_.data();
    const double* gp = g.data();
    double* dp = d.data();
    double ys = 0.0;
    double largest = 0.0;
    double sd = 0.0;
    double yy = 0.0;
    for (int i = 0; i < n; ++i) {
      sp[i] = xp[i] - x0[i];
      yp[i] = gp[i] - yp[i];
      ys = ys + sp[i] * yp[i];
      const double a = std::fabs(gp[i]);
      if (a > largest) largest = a;
      dp[i] = gp[i];
      sd = sd + sp[i] * dp[i];
      yy = yy + yp[i] * yp[i];
    }
    p.ys = ys;
    pass = Pass{largest, sd, yy};
    return found;
  }

  // out := H.v for the packed symmetric H: (H.v)(i) starts from H(i,i)*v(i),
  // adds H(i,j)*v(j) for j < i, then H(j,i)*v(j) for j > i.
  static void symmetric_product(int n, const std::vector<double>& h, const terms::Vector& v, terms::Vector& out) {
    const double* vp = v.data();
    double* op = out.data();
    for (int i = 1; i <= n; ++i) {
      double sum = h[static_cast<std::size_t>(pos(n, i, i) - 1)] * vp[i - 1];
      for (int j = 1; j < i; ++j) sum = sum + h[static_cast<std::size_t>(pos(n, i, j) - 1)] * vp[j - 1];
      for (int j = i + 1; j <= n; ++j) sum = sum + h[static_cast<std::size_t>(pos(n, j, i) - 1)] * vp[j - 1];
      op[i - 1] = sum;
    }
  }

  Objective& f_;
  int iterations_ = 0;  // see iterations()
  terms::Vector x0_;    // start point of the current line search, reused across calls
};

}  // namespace nlp
