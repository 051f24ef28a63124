#include "generators/square_mesh.h"

namespace square {

using std::int32_t;

Grid number_nodes(int32_t n) {
  Grid grid(n);
  // Full rows: n+1 nodes each, followed in the numbering by the n nodes of
  // the interleaved row above, which the second pass fills in.
  int32_t k = 0;
  for (int32_t j = -n; j <= n; j += 2) {
    for (int32_t i = -n; i <= n; i += 2) grid(i, j) = ++k;
    k += n;
  }
  // Interleaved rows: the first starts after the n+1 nodes of row -n; each
  // following one n+1 numbers (the full row between) further on.
  k = n + 1;
  for (int32_t j = -n + 1; j <= n - 1; j += 2) {
    for (int32_t i = -n + 1; i <= n - 1; i += 2) grid(i, j) = ++k;
    k += n + 1;
  }
  return grid;
}

}  // namespace square
