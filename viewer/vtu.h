#pragma once
// The solved model as a VTK XML unstructured grid in ASCII ("result.vtu"):
// the triangles at their reference positions (cell type 5), point data
// `displacement` and `reaction` (3 components each), cell data `stress_1`,
// `stress_2` and `pressure`, and for a wrinkling model also `state` (0 taut,
// 1 wrinkled, 2 slack) and `wrinkle` (the unit tension line of a wrinkled
// element, 0 0 0 for the others; viewer/wrinkles.h). Warping the grid by
// `displacement` shows the deformed shape.

#include <string>

#include "viewer/model.h"
#include "viewer/report.h"

namespace viewer {

// The whole document. Reals are written in their shortest form that reads
// back to the same double, so nothing of the report's precision is lost and
// the same input gives the same bytes.
std::string vtu_document(const Mesh& mesh, const Report& report);

}  // namespace viewer
