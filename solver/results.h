#pragma once
// The result files of a solver run: the drawing script and the report.

#include "energy/law.h"
#include "model/analysis.h"

namespace solver {

// Writes "autocad.scr": the undeformed and the deformed mesh as two
// polyface meshes on the layers Undeformed and Deformed.
void autocad(const analysis& a);

// Writes "output.txt": iteration counts, energy, displacements, deformed
// coordinates, principal stresses and support reactions. Reuses force as
// the work table for the residual forces (it holds them afterwards).
void output(analysis& a, const MaterialLaw& law);

// The principal stresses of an element with side stresses n1, n2, n3:
// {larger, smaller}.
struct PrincipalStresses {
  double s1 = 0.0;
  double s2 = 0.0;
};
PrincipalStresses principal(const element& e, double n1, double n2, double n3);

}  // namespace solver
