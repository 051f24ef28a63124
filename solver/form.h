#pragma once
// Form finding: the shape in which the prestress of a model alone is in
// equilibrium with its supports (veloraform). With an isotropic prestress
// that shape is a minimal surface.
//
// The shape is found by steps, each from the last shape taken as the
// reference: the element set-up (start) is made on it and the prestress
// side stresses N0 of the model's records recomputed there, so a step
// measures the prestress on the shape it starts from. The prestress's side
// forces at rest (the gradient of the energy at zero displacement) are the
// residual forces of a shape; they are the same for both material laws (at
// rest both strains have the same derivative), so both solvers see the
// same residual in the found shape.
//
// What is balanced. Across the surface a prestress holds the shape as a
// string its tension; along it, it holds the nodes only as weakly as the
// mesh's shape changes the area (a flat sheet under an isotropic prestress
// is balanced whatever the places of its nodes), and an orthotropic
// prestress along a projected direction is in general no equilibrium
// along the surface at all. So the shape is found when the residual across
// the surface is balanced: at a node free along every axis its component
// along the node's normal, at a node held along some axis every free
// component. What remains along the surface is the mesh's (small for an
// isotropic prestress, and falling with the mesh size) or the prestress
// field's; the solvers' strain stiffness carries it, with displacements
// of about that residual over the modulus.
//
// Two ways to take a step:
// - force density (the default): with the force densities of the last
//   shape held, w_k = A N0_k / L_k^2 for side k (the force of the side per
//   unit of its length; for an isotropic prestress N0 cot(angle_k) / 2, the
//   cotangent weights of the minimal-surface equations), the prestress's
//   work on the Green side strains is a quadratic whose minimiser, the
//   nodes free along every axis moving along their normals, is one linear
//   solve: one factorization per step, its pattern analysed once.
// - updated reference: each step is an equilibrium of the membrane with
//   the prestress and a modulus of its own (a multiple of the largest
//   prestress) under the supports, solved by the second-order method; its
//   strain stiffness holds the nodes where the prestress alone would let
//   them drift along the surface, which they still do, slowly, step after
//   step (BENCHMARKS.md compares the two).
// Supports move first: the input's prescribed displacements place them,
// and the found shape holds them there with no displacement.

#include <string>

#include "energy/law.h"
#include "model/analysis.h"

namespace solver {

enum class FormMethod { force_density, updated_reference };

struct FormOptions {
  FormMethod method = FormMethod::force_density;
  // The shape is found once the largest residual force across the surface
  // is at most tolerance times the largest prestress side force of the
  // first shape (or the rounding level of the solvers, when that is
  // larger).
  double tolerance = 1e-6;
  int max_steps = 1000;
  // Updated reference: the modulus of the steps, times the largest
  // prestress of the records.
  double stiffness = 0.1;
  unsigned threads = 0;  // of the energy evaluation; 0: every CPU
};

struct FormResult {
  int steps = 0;           // steps taken
  double residual = 0.0;   // largest residual force across the surface of the found shape
  double tolerance = 0.0;  // the one it had to reach
  double along = 0.0;      // largest residual force of any free component, along the surface too
};

// Finds the shape of the model a (as input left it: before start). On
// success a holds the found shape as its coordinates, its prescribed
// displacements zero; DataError when no shape is found (no convergence in
// max_steps, elements that collapse or turn over, a prestress whose force
// densities are not positive definite, no prestress at all).
FormResult form_find(analysis& a, const FormOptions& options);

// The program: reads "input.txt", finds the shape, writes it as the model
// file `output` (every real exact, so that the solvers read back the shape
// found), completely or not at all.
FormResult form_find(const FormOptions& options, const std::string& output);

}  // namespace solver
