#include <string>

#include "model/model.h"
#include "platform/output_file.h"
#include "solver/results.h"

namespace solver {

namespace {

// Coordinates in the script have no leading blank: (fore 1, aft 8, exp 3).
void point(platform::OutputFile& f, double x, double y, double z) {
  f.real(x, 1, 8, 3).text(",").real(y, 1, 8, 3).text(",").real(z, 1, 8, 3).line_end();
}

// The face lines: each element's three node numbers, then an empty line.
// Both meshes list the nodes in node order, so node p is the p-th vertex of
// each polyface mesh and the faces can quote node numbers directly.
void faces(platform::OutputFile& f, const analysis& a) {
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    f.integer(el.node[0], 0).text(" ").integer(el.node[1], 0).text(" ").integer(el.node[2], 0).line_end();
    f.line_end();
  }
}

}  // namespace

void autocad(const analysis& a, platform::OutputFile& f) {
  // In a script a blank acts as Enter, so the layer commands keep their
  // trailing blank.
  f.text("osmode 0").line_end();
  f.text("layer make Undeformed ").line_end();
  f.text("pface").line_end();
  for (int p = 1; p <= a.nnode; ++p) point(f, a.coordx(p), a.coordy(p), a.coordz(p));
  f.line_end();
  faces(f, a);
  f.line_end();
  f.text("layer make Deformed ").line_end();
  f.text("pface").line_end();
  for (int p = 1; p <= a.nnode; ++p) {
    const auto v = vertex(a, p);
    point(f, v[0], v[1], v[2]);
  }
  f.line_end();
  faces(f, a);
  f.line_end();
  f.text("layer off Undeformed ").line_end();
  f.text("layer set 0 ").line_end();
  f.text("zoom ext ext").line_end();
}

}  // namespace solver
