#pragma once
// A picture of the solved membrane ("result.svg"): the deformed triangles in
// an oblique view from above, drawn back to front and filled by the larger
// principal stress with the viridis colour map, the boundary of the
// undeformed mesh in grey, a colour bar and a caption. A wrinkling model's
// slack elements are grey and its wrinkled ones hatched in red along their
// wrinkles, with a legend under the colour bar.

#include <array>
#include <string>

#include "viewer/model.h"
#include "viewer/report.h"

namespace viewer {

// The viridis colour at t in [0, 1] (clamped), as 8-bit red, green, blue:
// linear interpolation in a table sampled from the published map.
std::array<int, 3> viridis(double t);

// The factor the picture multiplies displacements by: 1 when the largest
// displacement is at least 10 % of the model's size (the longest side of
// its bounding box), otherwise the largest of 1, 2, 5, 10, 20, ... that
// keeps the drawn displacement within 20 % of the size, so that a stiff membrane
// still shows its shape. The caption says the factor.
double magnification(double largest_displacement, double size);

// Strength of the element edges, 0 (none) to 1 (full), for a mesh whose
// element sides measure `side_px` pixels on average in the picture: fine
// meshes would otherwise turn into a grey felt of hairlines.
double edge_strength(double side_px);

// The whole document, 800 x 600 user units.
std::string svg_document(const Mesh& mesh, const Report& report);

}  // namespace viewer
