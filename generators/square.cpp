#include "generators/square.h"

#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/number_image.h"
#include "platform/output_file.h"

namespace square {

namespace {

using std::int32_t;
using std::int64_t;

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
  c.maxminor = solver::model_file::kMinorPerNode * c.nnode;
  return c;
}

bool counts_fit(int64_t n) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const Counts c = counts(n);
  return c.nnode <= kMax && c.nelem <= kMax && c.ndispl <= kMax && c.maxminor <= kMax;
}

// The lattice coordinate i*h of column or row i, as every file writes it.
double coordinate(int32_t i, double h) { return static_cast<double>(i) * h; }

// The images of the lattice coordinates i*h, i = -n..n, made once. A mesh
// of n divisions writes some 10 n^2 coordinates but has only 2n+1 distinct
// ones, so formatting each value once keeps the writers fast.
class CoordinateImages {
 public:
  CoordinateImages(int32_t n, double h, int fore) : n_(n) {
    images_.reserve(2 * static_cast<std::size_t>(n) + 1);
    for (int32_t i = -n; i <= n; ++i) images_.push_back(platform::real_image(coordinate(i, h), fore, 6, 3));
  }
  const std::string& operator()(int32_t i) const { return images_[static_cast<std::size_t>(i + n_)]; }

 private:
  int32_t n_;
  std::vector<std::string> images_;
};

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

namespace {

// Why an ndiv cannot make a mesh; empty when it can.
std::string refuse_ndiv(int32_t n) {
  if (n < 1) return "the number of divisions per side must be at least 1";
  if (n > largest_ndiv()) {
    return "at most " + std::to_string(largest_ndiv()) +
           " divisions per side keep the node, element and iteration counts within 32 bits";
  }
  return {};
}

constexpr generator::MeshRecord kMeshRecord{"ndiv", "halfside", "the half side length", refuse_ndiv};

}  // namespace

Generator initia(platform::TextReader& in) {
  const generator::Parameters p = generator::read_parameters(in, kMeshRecord);
  Generator g;
  static_cast<generator::Membrane&>(g) = generator::membrane(p);
  g.ndiv = p.divisions;
  g.halfside = p.size;

  // Derived quantities; the check of ndiv keeps every count within 32 bits.
  const Counts c = counts(g.ndiv);
  g.nnode = static_cast<int32_t>(c.nnode);
  g.nelem = static_cast<int32_t>(c.nelem);
  g.ndispl = static_cast<int32_t>(c.ndispl);
  g.step = g.halfside / static_cast<double>(g.ndiv);
  g.controls.maxminor = static_cast<int32_t>(c.maxminor);
  g.grid = number_nodes(g.ndiv);
  return g;
}

// The model file: the lattice coordinates of the nodes, the elements by
// their node numbers, every boundary node fixed, the uniform pressure.
void input(const Generator& g, platform::OutputFile& f) {
  const Grid& grid = g.grid;
  std::vector<std::array<double, 3>> nodes(static_cast<std::size_t>(g.nnode));
  for_each_node(grid, [&](int32_t k, Point p) {
    nodes[static_cast<std::size_t>(k - 1)] = {coordinate(p.i, g.step), coordinate(p.j, g.step), 0.0};
  });
  std::vector<std::array<int32_t, 3>> elements;
  elements.reserve(static_cast<std::size_t>(g.nelem));
  for_each_element(g.ndiv, [&](Point v1, Point v2, Point v3) { elements.push_back({grid(v1), grid(v2), grid(v3)}); });
  std::vector<int32_t> supports;
  supports.reserve(static_cast<std::size_t>(g.ndispl / 3));
  for_each_support(g.ndiv, [&](Point p) { supports.push_back(grid(p)); });
  solver::model_file::write(generator::generated_model(g, std::move(nodes), std::move(elements), supports), f);
}

void autocad(const Generator& g, platform::OutputFile& f) {
  const CoordinateImages coord(g.ndiv, g.step, 1);
  // In a script a blank acts as Enter: the blank after each vertex ends
  // that point's entry; the extra blank and the line end answer the
  // prompts for a fourth point and for a further face, so the face stays a
  // triangle and the command ends before the next line.
  const auto vertex = [&](Point p) { f.text(coord(p.i)).text(",").text(coord(p.j)).text(",0.000000E+00 "); };
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
}

namespace {

// The command file's sections, in file order. Each begins with its comment
// line; commands() writes lines as they are.
class AnsysFile {
 public:
  AnsysFile(const Generator& g, platform::OutputFile& f) : g_(g), f_(f) {}

  void preprocessor() {
    commands({"! ENTER THE MODEL CREATION PREPROCESSOR", "/PREP7"});
    rule();
  }

  // Thermal expansion 1.0, with the uniform temperature -0.001 of the first
  // load step, puts the flat membrane under a small tension: without it the
  // membrane has no stiffness across its plane when the pressure comes on.
  void material() {
    commands({"! DEFINE MATERIAL PROPERTY"});
    f_.text("MP,   EX, 1, ");
    real(g_.young);
    f_.line_end();
    f_.text("MP, PRXY, 1, ");
    real(g_.poisson);
    f_.line_end();
    commands({"MP, ALPX, 1,  1.000000E+00"});
    rule();
  }

  // Node 1 is placed at the origin first and then again, like every node,
  // at its lattice position; the later definition replaces the first.
  void nodes() {
    const CoordinateImages coord(g_.ndiv, g_.step, 2);
    commands({"! DEFINE NODES", "N,     1,  0.000000E+00,  0.000000E+00,  0.000000E+00"});
    for_each_node(g_.grid, [&](int32_t k, Point p) {
      f_.text("N, ");
      f_.integer(k, 5);
      f_.text(", ").text(coord(p.i)).text(", ").text(coord(p.j)).text(",  0.000000E+00").line_end();
    });
    rule();
  }

  // The element has four nodes; repeating the third makes it a triangle.
  void elements() {
    commands({"! DEFINE ELEMENT TYPE",
              "ET, 1, SHELL41",
              "",
              "! DEFINE ELEMENT REAL CONSTANTS",
              "R, 1, 1.0",
              "",
              "! DEFINE ELEMENTS"});
    int32_t e = 0;
    for_each_element(g_.ndiv, [&](Point v1, Point v2, Point v3) {
      f_.text("EN, ");
      for (const int32_t k : {++e, g_.grid(v1), g_.grid(v2), g_.grid(v3)}) {
        f_.integer(k, 5);
        f_.text(", ");
      }
      f_.integer(g_.grid(v3), 5);
      f_.line_end();
    });
    rule();
  }

  void nonlinear() {
    commands({"! INCLUDE LARGE DEFORMATION EFFECTS", "NLGEOM, ON"});
    rule();
    commands({"! SET CONVERGENCE VALUES FOR NONLINEAR ANALYSIS"});
    f_.text("CNVTOL, F, , ");
    real(g_.controls.mntol);
    f_.text(", 0, -1.0").line_end();
    commands({"", "FINISH"});
    rule();
  }

  // First load step: every node fixed, the thermal prestrain applied.
  void prestrain_step() {
    commands({"! ENTER THE SOLUTION PROCESSOR", "/SOLU"});
    rule();
    commands({"! DEFINE DOF CONSTRAINTS",
              "D, ALL, ALL",
              "",
              "! ASSIGN A UNIFORM TEMPERATURE TO ALL NODES",
              "TUNIF, -1.000000E-03",
              "",
              "! START SOLUTION",
              "SOLVE"});
    rule();
  }

  // Second load step: the boundary alone fixed, the pressure on face 1.
  void pressure_step() {
    commands({"! DELETE DOF CONSTRAINTS", "DDELE, ALL, ALL", "", "! DEFINE DOF CONSTRAINTS"});
    for_each_support(g_.ndiv, [&](Point p) {
      f_.text("D, ");
      f_.integer(g_.grid(p), 5);
      f_.text(", ALL,  0.000000E+00").line_end();
    });
    commands({"", "! SPECIFY SURFACE LOADS ON ELEMENTS"});
    f_.text("SFE, ALL, 1, PRES, 0, ");
    real(g_.pressure);
    f_.line_end();
    commands({"", "! START SOLUTION", "SOLVE", ""});
  }

  // Third load step: the temperature back to zero. The prestrain of the
  // first step only made the flat membrane stiff enough to start from; left
  // in place it would keep the membrane in tension under the pressure (at
  // pressure 0.01 on the unit square it cuts the centre deflection several
  // times), and the last solution would not be the unstressed membrane
  // under pressure that the solvers compute.
  void release_step() {
    commands({"! REMOVE THE PRESTRAIN OF THE FIRST SOLUTION", "TUNIF,  0.000000E+00", "SOLVE", "", "FINISH"});
  }

 private:
  void commands(std::initializer_list<std::string_view> lines) {
    for (const std::string_view s : lines) f_.text(s).line_end();
  }
  // An empty line, a rule and an empty line between the command groups.
  void rule() { commands({"", "! ---------------------------------------", ""}); }
  // A real: sign or blank, one digit, six decimals, exponent.
  void real(double v) { f_.real(v, 2, 6, 3); }

  const Generator& g_;
  platform::OutputFile& f_;
};

}  // namespace

void ansys(const Generator& g, platform::OutputFile& out) {
  AnsysFile f(g, out);
  f.preprocessor();
  f.material();
  f.nodes();
  f.elements();
  f.nonlinear();
  f.prestrain_step();
  f.pressure_step();
  f.release_step();
}

namespace {

// One writer into a file of its own, committed alone.
template <void (*Write)(const Generator&, platform::OutputFile&)>
void write_alone(const Generator& g, const std::string& file_name) {
  platform::OutputFile f(file_name);
  Write(g, f);
  f.commit();
}

}  // namespace

void input(const Generator& g, const std::string& file_name) { write_alone<input>(g, file_name); }
void autocad(const Generator& g, const std::string& file_name) { write_alone<autocad>(g, file_name); }
void ansys(const Generator& g, const std::string& file_name) { write_alone<ansys>(g, file_name); }

void run() {
  generator::run("square.txt", initia, [](const Generator& g) {
    platform::OutputFiles files;
    input(g, files.add("input.txt"));
    autocad(g, files.add("autocad.scr"));
    ansys(g, files.add("ansys.txt"));
    files.commit();
  });
}

}  // namespace square
