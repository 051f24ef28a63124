#include "square/square.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "platform/failure.h"
#include "platform/number_image.h"
#include "platform/model_file.h"
#include "platform/output_file.h"

namespace square {

namespace {

using std::int32_t;
using std::int64_t;

// A lattice point: X = i*h, Y = j*h.
struct Point {
  int32_t i;
  int32_t j;
};

// The counts of an n-division mesh, in 64 bits so that they can be checked
// against the 32-bit range before they are stored.
struct Counts {
  int64_t nnode, nelem, ndispl, maxminor;
};

Counts counts(int64_t n) {
  Counts c{};
  c.nnode = 2 * (n * n + n) + 1;  // (n+1)^2 on the full rows, n^2 between them
  c.nelem = 4 * n * n;            // n^2 in each quarter
  c.ndispl = 12 * n;              // 4n boundary nodes, three components each
  c.maxminor = 30 * c.nnode;
  return c;
}

bool counts_fit(int64_t n) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const Counts c = counts(n);
  return c.nnode <= kMax && c.nelem <= kMax && c.ndispl <= kMax && c.maxminor <= kMax;
}

// The elements in their numbering order: eight families, two per quarter of
// the square (left, right, bottom, top), first the triangles whose apex
// points towards the centre, then those whose apex points away from it. In
// each family the outer value a walks the strips from the centre outwards
// and the inner value b walks along a strip in steps of 2. emit(v1, v2, v3)
// gets the apex first, then the ends of the hypotenuse counter-clockwise.
template <class Emit>
void for_each_element(int32_t n, Emit&& emit) {
  // 1: left quarter, apex towards the centre; hypotenuse on column a-1.
  for (int32_t a = 0; a >= 1 - n; --a)
    for (int32_t b = a; b <= -a; b += 2) emit(Point{a, b}, Point{a - 1, b + 1}, Point{a - 1, b - 1});
  // 2: left quarter, apex away from the centre; hypotenuse on column a+1.
  for (int32_t a = -2; a >= -n; --a)
    for (int32_t b = a + 2; b <= -a - 2; b += 2) emit(Point{a, b}, Point{a + 1, b - 1}, Point{a + 1, b + 1});
  // 3: right quarter, apex towards the centre.
  for (int32_t a = 0; a <= n - 1; ++a)
    for (int32_t b = -a; b <= a; b += 2) emit(Point{a, b}, Point{a + 1, b - 1}, Point{a + 1, b + 1});
  // 4: right quarter, apex away from the centre.
  for (int32_t a = 2; a <= n; ++a)
    for (int32_t b = -a + 2; b <= a - 2; b += 2) emit(Point{a, b}, Point{a - 1, b + 1}, Point{a - 1, b - 1});
  // 5: bottom quarter, apex towards the centre; hypotenuse on row a-1.
  for (int32_t a = 0; a >= 1 - n; --a)
    for (int32_t b = a; b <= -a; b += 2) emit(Point{b, a}, Point{b - 1, a - 1}, Point{b + 1, a - 1});
  // 6: bottom quarter, apex away from the centre.
  for (int32_t a = -2; a >= -n; --a)
    for (int32_t b = a + 2; b <= -a - 2; b += 2) emit(Point{b, a}, Point{b + 1, a + 1}, Point{b - 1, a + 1});
  // 7: top quarter, apex towards the centre.
  for (int32_t a = 0; a <= n - 1; ++a)
    for (int32_t b = -a; b <= a; b += 2) emit(Point{b, a}, Point{b + 1, a + 1}, Point{b - 1, a + 1});
  // 8: top quarter, apex away from the centre.
  for (int32_t a = 2; a <= n; ++a)
    for (int32_t b = -a + 2; b <= a - 2; b += 2) emit(Point{b, a}, Point{b - 1, a - 1}, Point{b + 1, a - 1});
}

// The boundary nodes in their support order: the four corners, then the
// bottom and top side nodes pairwise from left to right, then the left and
// right side nodes pairwise from bottom to top (no side nodes when n = 1).
template <class Emit>
void for_each_support(int32_t n, Emit&& emit) {
  emit(Point{-n, -n});
  emit(Point{n, -n});
  emit(Point{-n, n});
  emit(Point{n, n});
  for (int32_t c = -n + 2; c <= n - 2; c += 2) {
    emit(Point{c, -n});
    emit(Point{c, n});
  }
  for (int32_t r = -n + 2; r <= n - 2; r += 2) {
    emit(Point{-n, r});
    emit(Point{n, r});
  }
}

// The images of the lattice coordinates i*h, i = -n..n, made once. A mesh
// of n divisions writes some 10 n^2 coordinates but has only 2n+1 distinct
// ones, so formatting each value once keeps the writers fast; the value of
// each image is the same i*h the formula gives.
class CoordinateImages {
 public:
  CoordinateImages(int32_t n, double h, int fore) : n_(n) {
    images_.reserve(2 * static_cast<std::size_t>(n) + 1);
    for (int32_t i = -n; i <= n; ++i) {
      const double x = static_cast<double>(i) * h;
      images_.push_back(platform::real_image(x, fore, 6, 3));
    }
  }
  const std::string& operator()(int32_t i) const { return images_[static_cast<std::size_t>(i + n_)]; }

 private:
  int32_t n_;
  std::vector<std::string> images_;
};

// Row-by-row scan of the lattice (j from -n, i from -n within a row): the
// points that hold a node come in increasing node number.
template <class Emit>
void for_each_node(const Grid& grid, Emit&& emit) {
  const int32_t n = grid.n();
  for (int32_t j = -n; j <= n; ++j) {
    for (int32_t i = -n; i <= n; ++i) {
      const int32_t k = grid(i, j);
      if (k > 0) emit(k, Point{i, j});
    }
  }
}

// The canonical layout of the model file, shared with the other generator.
using namespace platform::model_file;

}  // namespace

int32_t largest_ndiv() {
  // counts_fit holds for 1 and fails for 2^16 (nelem alone would be 2^34);
  // bisect the boundary. The bound also keeps the 64-bit counts of every
  // trial (maxminor about 60 n^2) far from overflowing.
  int64_t lo = 1;
  int64_t hi = int64_t{1} << 16;
  while (hi - lo > 1) {
    const int64_t mid = lo + (hi - lo) / 2;
    (counts_fit(mid) ? lo : hi) = mid;
  }
  return static_cast<int32_t>(lo);
}

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

Generator initia(platform::TextReader& in) {
  Generator g;

  in.scan("mesh");
  in.set_record("mesh record", 0);
  g.ndiv = in.read_int("ndiv");
  // Checked at once, while the reader still stands on the line of the value.
  if (g.ndiv < 1) {
    throw platform::DataError(in.where("ndiv is " + std::to_string(g.ndiv) +
                                       "; the number of divisions per side must be at least 1"));
  }
  if (g.ndiv > largest_ndiv()) {
    throw platform::DataError(in.where("ndiv is " + std::to_string(g.ndiv) + "; at most " +
                                       std::to_string(largest_ndiv()) +
                                       " divisions per side keep the node, element and iteration counts"
                                       " within 32 bits"));
  }
  g.halfside = in.read_real("halfside");
  if (!(g.halfside > 0.0) || !std::isfinite(g.halfside)) {
    throw platform::DataError(in.where("halfside is " + platform::real_image(g.halfside, 1, 6, 3) +
                                       "; the half side length must be a positive finite number"));
  }
  in.skip_line("the rest of the mesh record");

  in.scan("material");
  in.set_record("material record", 0);
  g.young = in.read_real("young");
  g.poisson = in.read_real("poisson");
  in.skip_line("the rest of the material record");

  in.scan("pressure");
  in.set_record("pressure record", 0);
  g.pressure = in.read_real("pressure");
  in.skip_line("the rest of the pressure record");

  // Derived quantities; the checks above keep every count within 32 bits.
  const Counts c = counts(g.ndiv);
  g.nnode = static_cast<int32_t>(c.nnode);
  g.nelem = static_cast<int32_t>(c.nelem);
  g.ndispl = static_cast<int32_t>(c.ndispl);
  g.step = g.halfside / static_cast<double>(g.ndiv);
  g.lstol = 0.1;
  g.maxls = 20;
  g.mntol = 0.001;
  g.mnref = 0.0;
  g.maxminor = static_cast<int32_t>(c.maxminor);
  g.maxlist = 3;
  g.maxmajor = 20;
  g.grid = number_nodes(g.ndiv);
  return g;
}

void input(const Generator& g, const std::string& file_name) {
  platform::OutputFile f(file_name);
  const int32_t n = g.ndiv;
  const Grid& grid = g.grid;
  const CoordinateImages coord(n, g.step, 2);

  head(f, kParametersLabel);
  r(f, g.lstol);
  f.text(kS);
  i5(f, g.maxls);
  f.text(kS);
  r(f, g.mntol);
  f.text(kS);
  r(f, g.mnref);
  f.text(kS);
  i5(f, g.maxminor);
  f.text(kS);
  i5(f, g.maxlist);
  f.text(kS);
  i5(f, g.maxmajor);
  f.line_end();
  gap(f);

  // The density is always zero: the generated model has no self-weight.
  head(f, kMaterialLabel);
  r(f, g.young);
  f.text(kS);
  r(f, g.poisson);
  f.text(kZ).line_end();
  gap(f);

  head(f, kNodesLabel);
  count(f, g.nnode);
  for_each_node(grid, [&](int32_t k, Point p) {
    i5(f, k);
    f.text(kS).text(coord(p.i)).text(kS).text(coord(p.j)).text(kZ).line_end();
  });
  gap(f);

  head(f, kElementsLabel);
  count(f, g.nelem);
  int32_t e = 0;
  for_each_element(n, [&](Point v1, Point v2, Point v3) {
    i5(f, ++e);
    f.text(kS);
    i5(f, grid(v1.i, v1.j));
    f.text(kS);
    i5(f, grid(v2.i, v2.j));
    f.text(kS);
    i5(f, grid(v3.i, v3.j));
    f.line_end();
  });
  gap(f);

  // Every boundary node is fixed in X, Y and Z.
  head(f, kConstraintsLabel);
  count(f, g.ndispl);
  for_each_support(n, [&](Point p) {
    for (int32_t axis = 1; axis <= 3; ++axis) {
      i5(f, grid(p.i, p.j));
      f.text(kS);
      i5(f, axis);
      f.text(kZ).line_end();
    }
  });
  gap(f);

  // No nodal forces: the count alone, without the empty line that would
  // precede records.
  head(f, kLoadsLabel);
  i5(f, 0);
  f.line_end();
  gap(f);

  head(f, kPressuresLabel);
  count(f, g.nelem);
  const std::string pressure = platform::real_image(g.pressure, 2, 6, 3);
  for (int32_t k = 1; k <= g.nelem; ++k) {
    i5(f, k);
    f.text(kS).text(pressure).line_end();
  }
  f.commit();
}

void autocad(const Generator& g, const std::string& file_name) {
  platform::OutputFile f(file_name);
  const CoordinateImages coord(g.ndiv, g.step, 1);
  // In a script a blank acts as Enter: the blank after each vertex ends
  // that point's entry; the extra blank and the line end answer the
  // prompts for a fourth point and for a further face, so the face stays a
  // triangle and the command ends before the next line.
  const auto vertex = [&](Point p) {
    f.text(coord(p.i)).text(",").text(coord(p.j)).text(",0.000000E+00 ");
  };
  f.text("osmode 0").line_end();
  f.text("layer make surface ").line_end();
  for_each_element(g.ndiv, [&](Point v1, Point v2, Point v3) {
    f.text("3dface ");
    vertex(v1);
    vertex(v2);
    vertex(v3);
    f.text(" ").line_end();
  });
  f.text("layer set 0 ").line_end();
  f.text("zoom ext ext").line_end();
  f.commit();
}

void ansys(const Generator& g, const std::string& file_name) {
  platform::OutputFile f(file_name);
  const int32_t n = g.ndiv;
  const Grid& grid = g.grid;
  const CoordinateImages coord(n, g.step, 2);
  const auto line = [&](std::string_view s) { f.text(s).line_end(); };
  // An empty line, a rule and an empty line between the command groups.
  const auto rule = [&] {
    f.line_end();
    line("! ---------------------------------------");
    f.line_end();
  };

  line("! ENTER THE MODEL CREATION PREPROCESSOR");
  line("/PREP7");
  rule();
  // Thermal expansion 1.0, with the uniform temperature -0.001 of the first
  // load step, puts the flat membrane under a small tension: without it the
  // membrane has no stiffness across its plane when the pressure comes on.
  line("! DEFINE MATERIAL PROPERTY");
  f.text("MP,   EX, 1, ");
  r(f, g.young);
  f.line_end();
  f.text("MP, PRXY, 1, ");
  r(f, g.poisson);
  f.line_end();
  line("MP, ALPX, 1,  1.000000E+00");
  rule();

  // Node 1 is placed at the origin first and then again, like every node,
  // at its lattice position; the later definition replaces the first.
  line("! DEFINE NODES");
  line("N,     1,  0.000000E+00,  0.000000E+00,  0.000000E+00");
  for_each_node(grid, [&](int32_t k, Point p) {
    f.text("N, ");
    i5(f, k);
    f.text(", ").text(coord(p.i)).text(", ").text(coord(p.j)).text(",  0.000000E+00").line_end();
  });
  rule();

  line("! DEFINE ELEMENT TYPE");
  line("ET, 1, SHELL41");
  f.line_end();
  line("! DEFINE ELEMENT REAL CONSTANTS");
  line("R, 1, 1.0");
  f.line_end();
  // The element has four nodes; repeating the third makes it a triangle.
  line("! DEFINE ELEMENTS");
  int32_t e = 0;
  for_each_element(n, [&](Point v1, Point v2, Point v3) {
    const int32_t k3 = grid(v3.i, v3.j);
    f.text("EN, ");
    i5(f, ++e);
    f.text(", ");
    i5(f, grid(v1.i, v1.j));
    f.text(", ");
    i5(f, grid(v2.i, v2.j));
    f.text(", ");
    i5(f, k3);
    f.text(", ");
    i5(f, k3);
    f.line_end();
  });
  rule();

  line("! INCLUDE LARGE DEFORMATION EFFECTS");
  line("NLGEOM, ON");
  rule();
  line("! SET CONVERGENCE VALUES FOR NONLINEAR ANALYSIS");
  f.text("CNVTOL, F, , ");
  r(f, g.mntol);
  f.text(", 0, -1.0").line_end();
  f.line_end();
  line("FINISH");
  rule();

  line("! ENTER THE SOLUTION PROCESSOR");
  line("/SOLU");
  rule();
  // First load step: every node fixed, the thermal prestrain applied.
  line("! DEFINE DOF CONSTRAINTS");
  line("D, ALL, ALL");
  f.line_end();
  line("! ASSIGN A UNIFORM TEMPERATURE TO ALL NODES");
  line("TUNIF, -1.000000E-03");
  f.line_end();
  line("! START SOLUTION");
  line("SOLVE");
  rule();

  // Second load step: the boundary alone fixed, the pressure on face 1.
  line("! DELETE DOF CONSTRAINTS");
  line("DDELE, ALL, ALL");
  f.line_end();
  line("! DEFINE DOF CONSTRAINTS");
  for_each_support(n, [&](Point p) {
    f.text("D, ");
    i5(f, grid(p.i, p.j));
    f.text(", ALL,  0.000000E+00").line_end();
  });
  f.line_end();
  line("! SPECIFY SURFACE LOADS ON ELEMENTS");
  f.text("SFE, ALL, 1, PRES, 0, ");
  r(f, g.pressure);
  f.line_end();
  f.line_end();
  line("! START SOLUTION");
  line("SOLVE");
  f.line_end();
  // Third load step: the temperature back to zero. The prestrain of the
  // first step only made the flat membrane stiff enough to start from; left
  // in place it would keep the membrane in tension under the pressure (at
  // pressure 0.01 on the unit square it cuts the centre deflection several
  // times), and the last solution would not be the unstressed membrane
  // under pressure that the solvers compute.
  line("! REMOVE THE PRESTRAIN OF THE FIRST SOLUTION");
  line("TUNIF,  0.000000E+00");
  line("SOLVE");
  f.line_end();
  line("FINISH");
  f.commit();
}

void run() {
  platform::TextReader in = platform::TextReader::open("square.txt");
  const Generator g = initia(in);
  input(g);
  autocad(g);
  ansys(g);
}

}  // namespace square
