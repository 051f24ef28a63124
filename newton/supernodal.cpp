#include "newton/supernodal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/thread_pool.h"

namespace solver {

namespace {

// Rows of an update or a triangular solve computed as one part: a part is
// large enough for the dense kernels to run near their speed, and the cut
// depends on the sizes alone, never on the threads.
constexpr std::size_t kPart = 256;

std::size_t rows_of(const SupernodalLayout& L, std::size_t s) {
  return static_cast<std::size_t>(L.pi[s + 1] - L.pi[s]);
}
std::size_t cols_of(const SupernodalLayout& L, std::size_t s) {
  return static_cast<std::size_t>(L.super[s + 1] - L.super[s]);
}

}  // namespace

TreeCut cut_tree(const SupernodalLayout& L) {
  TreeCut none;
  const std::size_t nsuper = L.nsuper;
  if (nsuper < 3) return none;
  std::vector<int> of_column(L.n);
  for (std::size_t s = 0; s < nsuper; ++s) {
    for (int k = L.super[s]; k < L.super[s + 1]; ++k) of_column[static_cast<std::size_t>(k)] = static_cast<int>(s);
  }
  constexpr int kRoot = -1;
  std::vector<int> parent(nsuper, kRoot);
  std::vector<std::size_t> first(nsuper);    // first supernode of each subtree
  std::vector<double> entries(nsuper, 0.0);  // stored values of each subtree
  std::vector<int> children(nsuper, 0);
  std::vector<std::size_t> size(nsuper, 1);  // supernodes of each subtree
  for (std::size_t s = 0; s < nsuper; ++s) {
    const int ncol = L.super[s + 1] - L.super[s];
    if (L.pi[s + 1] - L.pi[s] > ncol) {
      parent[s] = of_column[static_cast<std::size_t>(L.rows[L.pi[s] + ncol])];
      if (parent[s] <= static_cast<int>(s)) return none;  // not in postorder
    }
  }
  for (std::size_t s = 0; s < nsuper; ++s) first[s] = s;
  for (std::size_t s = 0; s < nsuper; ++s) {
    entries[s] += static_cast<double>(L.px[s + 1] - L.px[s]);
    if (parent[s] == kRoot) continue;
    const std::size_t p = static_cast<std::size_t>(parent[s]);
    entries[p] += entries[s];
    first[p] = std::min(first[p], first[s]);
    size[p] += size[s];
    ++children[p];
  }
  // In postorder every subtree is one run.
  for (std::size_t s = 0; s < nsuper; ++s) {
    if (s + 1 - first[s] != size[s]) return none;
  }
  // The top: from the last root down while a supernode has one child.
  std::size_t top = nsuper;  // the top is [top, nsuper)
  std::size_t roots = 0;
  for (std::size_t s = 0; s < nsuper; ++s) {
    if (parent[s] == kRoot) ++roots;
  }
  if (roots == 1) {
    std::size_t v = nsuper - 1;
    while (children[v] == 1) v = v - 1;  // its one child's subtree ends just before it
    if (children[v] == 0) return none;   // a chain: nothing to run at once
    top = v;
  }
  // Each subtree ends at a root of [0, top): cut between the two whose
  // entries come nearest to halves.
  double total = 0.0;
  for (std::size_t s = 0; s < top; ++s)
    total += parent[s] == kRoot || parent[s] >= static_cast<int>(top) ? entries[s] : 0.0;
  double sum = 0.0;
  std::size_t cut = 0;
  double best = total;
  for (std::size_t s = 0; s < top; ++s) {
    if (!(parent[s] == kRoot || parent[s] >= static_cast<int>(top))) continue;
    sum += entries[s];
    const double off = std::fabs(total - 2.0 * sum);
    if (s + 1 < top && off < best) {
      best = off;
      cut = s + 1;
    }
  }
  if (cut == 0) return none;
  TreeCut c;
  c.a_end = cut;
  c.b_end = top;
  c.top_column = top < nsuper ? L.super[top] : std::numeric_limits<int>::max();
  return c;
}

SupernodalFactorization::SupernodalFactorization(const SupernodalLayout& L, DenseKernels blas)
    : L_(L), blas_(blas), cut_(cut_tree(L)) {
  const std::size_t nsuper = L.nsuper;
  std::vector<int> of_column(L.n);
  for (std::size_t s = 0; s < nsuper; ++s) {
    for (int k = L.super[s]; k < L.super[s + 1]; ++k) of_column[static_cast<std::size_t>(k)] = static_cast<int>(s);
  }
  // A descendant's rows below its own columns, ascending, fall into its
  // ancestors' columns in runs, one run per ancestor it reaches.
  reach_start_.assign(nsuper + 1, 0);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<int> next;
    if (pass == 1) {
      for (std::size_t s = 0; s < nsuper; ++s) reach_start_[s + 1] += reach_start_[s];
      reach_.resize(static_cast<std::size_t>(reach_start_[nsuper]));
      next.assign(reach_start_.begin(), reach_start_.end() - 1);
    }
    for (std::size_t d = 0; d < nsuper; ++d) {
      const int* rows = L.rows + L.pi[d];
      const int nrow = L.pi[d + 1] - L.pi[d];
      int k = L.super[d + 1] - L.super[d];
      while (k < nrow) {
        const int s = of_column[static_cast<std::size_t>(rows[k])];
        const int end_column = L.super[s + 1];
        int last = k;
        while (last < nrow && rows[last] < end_column) ++last;
        if (pass == 0) {
          ++reach_start_[static_cast<std::size_t>(s) + 1];
        } else {
          reach_[static_cast<std::size_t>(next[static_cast<std::size_t>(s)]++)] = {static_cast<int>(d), k, last};
        }
        // A update's block of columns at a time.
        const std::size_t block =
            static_cast<std::size_t>(nrow - k) * std::min<std::size_t>(kPart, static_cast<std::size_t>(last - k));
        most_c_[0] = std::max(most_c_[0], block);
        if (static_cast<std::size_t>(s) >= cut_.a_end && static_cast<std::size_t>(s) < cut_.b_end) {
          most_c_[1] = std::max(most_c_[1], block);
        }
        k = last;
      }
    }
  }
  for (std::size_t h = 0; h < 2; ++h) {
    scratch_[h].map.assign(L.n, 0);
    scratch_[h].c.resize(most_c_[h]);
  }
}

void SupernodalFactorization::gather(
    std::size_t s, const PermutedMatrix& a, double* Lx, Scratch& scratch, platform::ThreadPool* pool) {
  const std::size_t k1 = static_cast<std::size_t>(L_.super[s]);
  const std::size_t ncol = cols_of(L_, s);
  const std::size_t nrow = rows_of(L_, s);
  double* Ls = Lx + L_.px[s];
  int* map = scratch.map.data();
  const int* own = L_.rows + L_.pi[s];
  for (std::size_t r = 0; r < nrow; ++r) map[own[r]] = static_cast<int>(r);
  std::memset(Ls, 0, nrow * ncol * sizeof(double));
  for (std::size_t j = 0; j < ncol; ++j) {
    const std::size_t k = k1 + j;
    double* column = Ls + j * nrow;
    const std::size_t own_column = static_cast<std::size_t>(a.perm[k]);
    for (int q = a.colptr[own_column]; q < a.colptr[own_column + 1]; ++q) {
      const int r = a.inverse[a.row[q]];
      if (r >= static_cast<int>(k)) column[map[r]] = a.x[q];
    }
    for (int q = a.extra_p[k]; q < a.extra_p[k + 1]; ++q) column[map[a.extra_row[q]]] = a.x[a.extra_source[q]];
  }
  const double one = 1.0, zero = 0.0;
  for (int t = reach_start_[s]; t < reach_start_[s + 1]; ++t) {
    const Reach& r = reach_[static_cast<std::size_t>(t)];
    const std::size_t d = static_cast<std::size_t>(r.d);
    const int ndrow = static_cast<int>(rows_of(L_, d));
    const int ndcol = static_cast<int>(cols_of(L_, d));
    const double* Ld = Lx + L_.px[d];
    const int* drows = L_.rows + L_.pi[d];
    // C = Ld[first:, :] Ld[first:last, :]^T, m x w, its upper part unused:
    // column blocks of kPart columns, each a triangle on its diagonal
    // (syrk) and a rectangle below in parts of kPart rows (gemm).
    const int m = ndrow - r.first;
    const int w = r.last - r.first;
    double* c = scratch.c.data();
    const int part = static_cast<int>(kPart);
    const int blocks = (w + part - 1) / part;
    for (int b = 0; b < blocks; ++b) {
      const int j0 = b * part;
      const int width = std::min(part, w - j0);
      const double* panel = Ld + r.first + j0;  // rows first + j0 .. of d's columns
      // This block's columns of C, rows j0.. of it at c[0..]: the triangle,
      // then the rows below in parts.
      const int height_all = m - j0;
      std::vector<int>& parts = scratch.parts;
      parts.clear();
      for (int row = width; row < height_all; row += part) parts.push_back(row);
      auto piece = [&](std::size_t n) {
        if (n == 0) {
          blas_.syrk("L", "N", &width, &ndcol, &one, panel, &ndrow, &zero, c, &height_all);
        } else {
          const int row = parts[n - 1];
          const int height = std::min(part, height_all - row);
          blas_.gemm(
              "N", "T", &height, &width, &ndcol, &one, panel + row, &ndrow, panel, &ndrow, &zero, c + row, &height_all);
        }
      };
      const std::size_t pieces = parts.size() + 1;
      if (pool != nullptr && pool->size() > 1 && pieces > 1) {
        pool->run(pieces, piece);
      } else {
        for (std::size_t n = 0; n < pieces; ++n) piece(n);
      }
      // Ls -= C at the rows and columns it names, column by column.
      const int* crows = drows + r.first + j0;
      for (int j = 0; j < width; ++j) {
        double* column = Ls + static_cast<std::size_t>(crows[j] - static_cast<int>(k1)) * nrow;
        const double* cj = c + static_cast<std::size_t>(j) * static_cast<std::size_t>(height_all);
        for (int q = j; q < height_all; ++q) {
          double& target = column[map[crows[q]]];
          target = target - cj[q];
        }
      }
    }
  }
}

bool SupernodalFactorization::run(std::size_t s0,
                                  std::size_t s1,
                                  const PermutedMatrix& a,
                                  double* Lx,
                                  Scratch& scratch,
                                  platform::ThreadPool* pool,
                                  std::size_t& failed) {
  const double one = 1.0;
  for (std::size_t s = s0; s < s1; ++s) {
    gather(s, a, Lx, scratch, pool);
    const int ncol = static_cast<int>(cols_of(L_, s));
    const int nrow = static_cast<int>(rows_of(L_, s));
    double* Ls = Lx + L_.px[s];
    int info = 0;
    blas_.potrf("L", &ncol, Ls, &nrow, &info);
    if (info != 0) {
      failed = static_cast<std::size_t>(L_.super[s]) + static_cast<std::size_t>(std::max(info, 1) - 1);
      return false;
    }
    // The rows below: L_below = A_below L_diag^-T, in parts of kPart rows.
    const int below = nrow - ncol;
    const int part = static_cast<int>(kPart);
    const std::size_t parts = static_cast<std::size_t>((below + part - 1) / part);
    auto solve_part = [&](std::size_t n) {
      const int row = ncol + static_cast<int>(n) * part;
      const int height = std::min(part, nrow - row);
      blas_.trsm("R", "L", "T", "N", &height, &ncol, &one, Ls, &nrow, Ls + row, &nrow);
    };
    if (pool != nullptr && pool->size() > 1 && parts > 1) {
      pool->run(parts, solve_part);
    } else {
      for (std::size_t n = 0; n < parts; ++n) solve_part(n);
    }
  }
  return true;
}

std::size_t SupernodalFactorization::factorize(const PermutedMatrix& a, double* Lx, platform::ThreadPool* pool) {
  const std::size_t nsuper = L_.nsuper;
  std::size_t failed[2] = {L_.n, L_.n};
  bool ok[2] = {true, true};
  std::size_t top = 0;
  if (pool != nullptr && pool->size() > 1 && cut_.a_end > 0) {
    auto halves = [&](std::size_t h) {
      ok[h] = h == 0 ? run(0, cut_.a_end, a, Lx, scratch_[0], nullptr, failed[0])
                     : run(cut_.a_end, cut_.b_end, a, Lx, scratch_[1], nullptr, failed[1]);
    };
    pool->run(2, halves);
    top = cut_.b_end;
  }
  if (!ok[0] || !ok[1]) return std::min(failed[0], failed[1]);
  if (!run(top, nsuper, a, Lx, scratch_[0], pool, failed[0])) return failed[0];
  return L_.n;
}

}  // namespace solver
