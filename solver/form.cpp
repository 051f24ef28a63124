#include "solver/form.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "energy/evaluator.h"
#include "energy/tangent.h"
#include "model/model.h"
#include "model/model_writer.h"
#include "newton/sparse_cholesky.h"
#include "nlp/nlp.h"
#include "platform/failure.h"
#include "solver/solver.h"

namespace solver {

namespace {

using Vec = std::array<double, 3>;

// An element whose area falls below this share of its area on the first
// shape has collapsed: the prestress pulls the surface apart there.
constexpr double kCollapse = 1e-6;

std::string image(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.6g", v);
  return s;
}

// The model at the shape x with the modulus young, no loads and the
// supports where x holds them (no prescribed displacement), before start.
analysis unloaded(const analysis& base, const std::vector<Vec>& x, double young) {
  analysis a = base;
  for (int p = 1; p <= a.nnode; ++p) {
    const Vec& v = x[static_cast<std::size_t>(p - 1)];
    a.coordx(p) = v[0];
    a.coordy(p) = v[1];
    a.coordz(p) = v[2];
    for (int j = 1; j <= 3; ++j) {
      a.displ(p, j) = 0.0;
      a.action(p, j) = 0.0;
    }
  }
  for (int e = 1; e <= a.nelem; ++e) a.elem(e).pressure = 0.0;
  a.density = 0.0;
  a.young = young;
  return a;
}

// The same, set up.
analysis at_shape(const analysis& base, const std::vector<Vec>& x, double young) {
  analysis a = unloaded(base, x, young);
  start(a);
  return a;
}

// The unit normal of an element's reference plane, by its vertex order.
Vec normal_of(const element& el) {
  const auto& d2 = el.dir[1];
  const auto& d3 = el.dir[2];
  Vec n = {d2[1] * d3[2] - d2[2] * d3[1], d2[2] * d3[0] - d2[0] * d3[2], d2[0] * d3[1] - d2[1] * d3[0]};
  const double l = std::sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]);
  for (double& c : n) c /= l;
  return n;
}

// The largest prestress side force A |N0_k| / L_k of the set-up model.
double largest_side_force(const analysis& a) {
  double largest = 0.0;
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    const auto& n0 = a.side_prestress[static_cast<std::size_t>(e - 1)];
    for (std::size_t k = 0; k < 3; ++k) largest = std::max(largest, el.area * std::fabs(n0[k]) / el.length[k]);
  }
  return largest;
}

// The node normals of the set-up model: the sum of each node's elements'
// normals weighted by their areas, made unit vectors.
std::vector<Vec> node_normals(const analysis& a) {
  std::vector<Vec> normal(static_cast<std::size_t>(a.nnode), Vec{0.0, 0.0, 0.0});
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    const Vec n = normal_of(el);
    for (const int p : el.node) {
      for (std::size_t c = 0; c < 3; ++c) normal[static_cast<std::size_t>(p - 1)][c] += el.area * n[c];
    }
  }
  for (Vec& n : normal) {
    const double l = std::sqrt((n[0] * n[0] + n[1] * n[1]) + n[2] * n[2]);
    if (l > 0.0) {
      for (double& c : n) c /= l;
    }
  }
  return normal;
}

bool free_along_every_axis(const analysis& a, int p) {
  return a.dof(p, 1) <= a.nfree && a.dof(p, 2) <= a.nfree && a.dof(p, 3) <= a.nfree;
}

// The force-density step. With the force densities w_k = A N0_k / L_k^2
// of the last shape held, the prestress's work on the Green side strains
// is (1/2) sum w_k (|x_s - x_t|^2 - L_k^2) over the sides: a quadratic
// whose minimiser is one linear solve. A node free along every axis moves
// only along its normal, one unknown; a node held along some axis moves
// along its free axes. The matrix D^T K D (K the weighted Laplacian of the
// densities on X, Y and Z alike, D the directions of the unknowns) is
// positive definite once supports hold the membrane and the prestress is a
// tension; its pattern, that of the nodes' neighbours, is analysed once.
class ForceDensity {
 public:
  explicit ForceDensity(const analysis& a) : cholesky_(make_sparse_cholesky()) {
    first_.assign(static_cast<std::size_t>(a.nnode) + 1, 0);
    for (int p = 1; p <= a.nnode; ++p) {
      int count = 0;
      if (free_along_every_axis(a, p)) {
        count = 1;
      } else {
        for (int j = 1; j <= 3; ++j) count += a.dof(p, j) <= a.nfree ? 1 : 0;
      }
      first_[static_cast<std::size_t>(p)] = first_[static_cast<std::size_t>(p - 1)] + count;
    }
    n_ = first_.back();
    // Column j holds rows i <= j of the unknowns of the nodes that share a
    // side with j's node, and of its own.
    std::vector<std::vector<int>> rows(static_cast<std::size_t>(n_));
    const auto pair = [&](int s, int t) {
      for (int i = first_[static_cast<std::size_t>(s - 1)]; i < first_[static_cast<std::size_t>(s)]; ++i) {
        for (int j = first_[static_cast<std::size_t>(t - 1)]; j < first_[static_cast<std::size_t>(t)]; ++j) {
          rows[static_cast<std::size_t>(std::max(i, j))].push_back(std::min(i, j));
        }
      }
    };
    for (int e = 1; e <= a.nelem; ++e) {
      const auto& v = a.elem(e).node;
      for (std::size_t k = 0; k < 3; ++k) {
        pair(v[k], v[k]);
        pair(v[(k + 1) % 3], v[(k + 2) % 3]);
      }
    }
    colptr_.assign(static_cast<std::size_t>(n_) + 1, 0);
    for (int j = 0; j < n_; ++j) {
      std::vector<int>& r = rows[static_cast<std::size_t>(j)];
      std::sort(r.begin(), r.end());
      r.erase(std::unique(r.begin(), r.end()), r.end());
      row_.insert(row_.end(), r.begin(), r.end());
      colptr_[static_cast<std::size_t>(j) + 1] = static_cast<int>(row_.size());
    }
    if (n_ > 0) cholesky_->analyse(n_, colptr_, row_);
  }

  // The displacements u (by degree of freedom) of the step from the set-up
  // model a whose prestress forces at rest are g; false when the matrix is
  // not positive definite.
  bool step(const analysis& a, const terms::Vector& g, terms::Vector& u) {
    if (n_ == 0) return true;
    const std::vector<Vec> normal = node_normals(a);
    // The direction of every unknown.
    std::vector<Vec> direction(static_cast<std::size_t>(n_));
    for (int p = 1; p <= a.nnode; ++p) {
      int k = first_[static_cast<std::size_t>(p - 1)];
      if (free_along_every_axis(a, p)) {
        direction[static_cast<std::size_t>(k)] = normal[static_cast<std::size_t>(p - 1)];
        continue;
      }
      for (int j = 1; j <= 3; ++j) {
        if (a.dof(p, j) > a.nfree) continue;
        Vec d{0.0, 0.0, 0.0};
        d[static_cast<std::size_t>(j - 1)] = 1.0;
        direction[static_cast<std::size_t>(k++)] = d;
      }
    }
    std::span<double> values = cholesky_->values();
    std::fill(values.begin(), values.end(), 0.0);
    const auto add = [&](int s, int t, double w) {
      for (int i = first_[static_cast<std::size_t>(s - 1)]; i < first_[static_cast<std::size_t>(s)]; ++i) {
        for (int j = first_[static_cast<std::size_t>(t - 1)]; j < first_[static_cast<std::size_t>(t)]; ++j) {
          if (s == t && i > j) continue;
          const Vec& di = direction[static_cast<std::size_t>(i)];
          const Vec& dj = direction[static_cast<std::size_t>(j)];
          const double v = w * ((di[0] * dj[0] + di[1] * dj[1]) + di[2] * dj[2]);
          const int r = std::min(i, j);
          const int c = std::max(i, j);
          const auto begin = row_.begin() + colptr_[static_cast<std::size_t>(c)];
          const auto end = row_.begin() + colptr_[static_cast<std::size_t>(c) + 1];
          values[static_cast<std::size_t>(std::lower_bound(begin, end, r) - row_.begin())] += v;
        }
      }
    };
    for (int e = 1; e <= a.nelem; ++e) {
      const element& el = a.elem(e);
      const auto& n0 = a.side_prestress[static_cast<std::size_t>(e - 1)];
      for (std::size_t k = 0; k < 3; ++k) {
        const double w = el.area * n0[k] / (el.length[k] * el.length[k]);
        const int s = el.node[(k + 1) % 3];
        const int t = el.node[(k + 2) % 3];
        add(s, s, w);
        add(t, t, w);
        add(s, t, -w);
      }
    }
    if (cholesky_->factorize() != SparseCholesky::Status::success) return false;
    std::vector<double> x(static_cast<std::size_t>(n_), 0.0);
    for (int p = 1; p <= a.nnode; ++p) {
      int k = first_[static_cast<std::size_t>(p - 1)];
      for (; k < first_[static_cast<std::size_t>(p)]; ++k) {
        const Vec& d = direction[static_cast<std::size_t>(k)];
        double r = 0.0;
        for (int j = 1; j <= 3; ++j) {
          const int q = a.dof(p, j);
          if (q <= a.nfree) r = r + g(q) * d[static_cast<std::size_t>(j - 1)];
        }
        x[static_cast<std::size_t>(k)] = -r;
      }
    }
    cholesky_->solve(x.data(), x.data());
    for (int p = 1; p <= a.nnode; ++p) {
      for (int j = 1; j <= 3; ++j) {
        const int q = a.dof(p, j);
        if (q > a.nfree) continue;
        double v = 0.0;
        for (int k = first_[static_cast<std::size_t>(p - 1)]; k < first_[static_cast<std::size_t>(p)]; ++k) {
          v = v +
              x[static_cast<std::size_t>(k)] * direction[static_cast<std::size_t>(k)][static_cast<std::size_t>(j - 1)];
        }
        u(q) = v;
      }
    }
    return true;
  }

 private:
  std::unique_ptr<SparseCholesky> cholesky_;
  std::vector<int> first_;  // node p's unknowns: first_[p - 1] .. first_[p] - 1
  int n_ = 0;
  std::vector<int> colptr_, row_;
};

// The largest residual force across the surface (form.h): at a node free
// along every axis the residual's component along the node's normal,
// elsewhere every free component.
double normal_residual(const analysis& a, const terms::Vector& g) {
  const std::vector<Vec> normal = node_normals(a);
  double largest = 0.0;
  for (int p = 1; p <= a.nnode; ++p) {
    const int d[3] = {a.dof(p, 1), a.dof(p, 2), a.dof(p, 3)};
    if (free_along_every_axis(a, p)) {
      const Vec& n = normal[static_cast<std::size_t>(p - 1)];
      largest = std::max(largest, std::fabs((g(d[0]) * n[0] + g(d[1]) * n[1]) + g(d[2]) * n[2]));
    } else {
      for (const int k : d) {
        if (k <= a.nfree) largest = std::max(largest, std::fabs(g(k)));
      }
    }
  }
  return largest;
}

// The largest prestress of the records: the scale of the updated
// reference's modulus.
double largest_prestress(const analysis& a) {
  double largest = 0.0;
  for (const PrestressRange& p : a.extension.prestress) {
    largest = std::max({largest, std::fabs(p.n1), std::fabs(p.n2)});
  }
  return largest;
}

}  // namespace

FormResult form_find(analysis& a, const FormOptions& options) {
  if (a.extension.prestress.empty()) {
    throw platform::DataError("the model has no prestress (no :prestress section): there is no shape to find");
  }
  // The first shape: the input's, with the supports moved by their
  // prescribed displacements.
  std::vector<Vec> x(static_cast<std::size_t>(a.nnode));
  for (int p = 1; p <= a.nnode; ++p) {
    x[static_cast<std::size_t>(p - 1)] = {
        a.coordx(p) + a.displ(p, 1), a.coordy(p) + a.displ(p, 2), a.coordz(p) + a.displ(p, 3)};
  }
  const EvaluationOptions evaluation{options.threads, EvaluationOptions{}.parallel_from};
  const MaterialLaw& law = green_law();

  analysis s = at_shape(a, x, a.young);
  std::vector<double> area0(static_cast<std::size_t>(a.nelem));
  std::vector<Vec> normal0(static_cast<std::size_t>(a.nelem));
  for (int e = 1; e <= a.nelem; ++e) {
    area0[static_cast<std::size_t>(e - 1)] = s.elem(e).area;
    normal0[static_cast<std::size_t>(e - 1)] = normal_of(s.elem(e));
  }
  FormResult result;
  result.tolerance = std::max(options.tolerance * largest_side_force(s), rounding_level(s));
  const double young = options.stiffness * largest_prestress(a);

  // The force-density method's pattern and ordering, made once: the
  // connectivity and the free components do not change between steps.
  std::unique_ptr<ForceDensity> density;
  if (options.method == FormMethod::force_density) density = std::make_unique<ForceDensity>(s);

  for (int step = 0;; ++step) {
    std::unique_ptr<EnergyEvaluator> objective = law.evaluator(s, evaluation);
    terms::Vector u(s.nfree, 0.0);
    terms::Vector g(s.nfree, 0.0);
    (*objective)(s.nfree, u, g);
    result.steps = step;
    result.residual = normal_residual(s, g);
    result.along = nlp::norm(s.nfree, g);
    if (!std::isfinite(result.residual)) {
      throw platform::DataError("form finding diverged in step " + std::to_string(step) +
                                ": a residual force is no longer finite; no file written");
    }
    if (result.residual <= result.tolerance) break;
    if (step == options.max_steps) {
      throw platform::DataError("form finding found no equilibrium shape in " + std::to_string(step) +
                                " steps: the largest residual force across the surface is " + image(result.residual) +
                                ", above the tolerance " + image(result.tolerance) +
                                " (the prestress may have no equilibrium between these supports); no file written");
    }
    if (density) {
      if (!density->step(s, g, u)) {
        throw platform::DataError("form finding step " + std::to_string(step + 1) +
                                  ": the force densities of the prestress are not positive definite (a negative "
                                  "prestress, nodes that only elements without prestress hold, or a part of the "
                                  "membrane that no support holds along some axis); no file written");
      }
    } else {
      // One equilibrium of the prestressed membrane with the modulus of
      // the steps, from the last shape.
      analysis e = unloaded(a, x, young);
      // The step's equilibrium to a thousandth of the residual it starts
      // from, and no finer than the form's tolerance needs.
      e.mnref = std::max(1e-3 * result.residual, 0.1 * result.tolerance);
      e.mntol = 1.0;
      e.maxmajor = 1;
      RunOptions run;
      run.threads = options.threads;
      run.method = Method::newton;
      try {
        solve(e, law, run);
      } catch (const platform::DataError& f) {
        throw platform::DataError("form finding step " + std::to_string(step + 1) + ": " + f.message());
      }
      u = e.u;
    }
    for (int p = 1; p <= a.nnode; ++p) {
      for (int j = 1; j <= 3; ++j) {
        const int d = s.dof(p, j);
        if (d <= s.nfree) x[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(j - 1)] += u(d);
      }
    }
    const std::string apart =
        ": the prestress pulls the surface apart, so it has no equilibrium shape between these supports (as a "
        "soap film between two rings set too far apart); no file written";
    try {
      s = at_shape(a, x, a.young);
    } catch (const platform::DataError& f) {
      throw platform::DataError("form finding step " + std::to_string(step + 1) + ": " + f.message() + apart);
    }
    for (int e = 1; e <= a.nelem; ++e) {
      const std::size_t i = static_cast<std::size_t>(e - 1);
      const Vec n = normal_of(s.elem(e));
      const double turn = (n[0] * normal0[i][0] + n[1] * normal0[i][1]) + n[2] * normal0[i][2];
      const double share = s.elem(e).area / area0[i];
      if (!(share >= kCollapse) || !(turn > 0.0)) {
        throw platform::DataError(
            "form finding step " + std::to_string(step + 1) + ": element " + std::to_string(e) +
            (turn > 0.0 ? " collapses (its area fell to " + image(share) + " of its first)" : " turns over") + apart);
      }
    }
  }
  for (int p = 1; p <= a.nnode; ++p) {
    const Vec& v = x[static_cast<std::size_t>(p - 1)];
    a.coordx(p) = v[0];
    a.coordy(p) = v[1];
    a.coordz(p) = v[2];
    for (int j = 1; j <= 3; ++j) a.displ(p, j) = 0.0;
  }
  return result;
}

FormResult form_find(const FormOptions& options, const std::string& output) {
  analysis a;
  input(a);
  const FormResult result = form_find(a, options);
  // The found shape with the input's supports (held where they now are),
  // loads, pressures and extension.
  model_file::Description d;
  d.parameters = {a.lstol, a.maxls, a.mntol, a.mnref, a.maxminor, a.maxlist, a.maxmajor};
  d.material = {a.young, a.poisson, a.density};
  for (int p = 1; p <= a.nnode; ++p) d.nodes.push_back({a.coordx(p), a.coordy(p), a.coordz(p)});
  for (int e = 1; e <= a.nelem; ++e) {
    const auto& n = a.elem(e).node;
    d.elements.push_back({n[0], n[1], n[2]});
  }
  for (int p = 1; p <= a.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      if (a.dof(p, j) != 0) d.constraints.push_back({p, j, 0.0});
      if (a.action(p, j) != 0.0) d.loads.push_back({p, j, a.action(p, j)});
    }
  }
  for (int e = 1; e <= a.nelem; ++e) {
    if (a.elem(e).pressure != 0.0) d.pressures.push_back({e, a.elem(e).pressure});
  }
  d.extension = a.extension;
  model_file::write(d, output, model_file::Reals::exact);
  return result;
}

}  // namespace solver
