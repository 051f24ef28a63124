#pragma once
// The result files of a solver run: the drawing script, the report and
// the chambers' state.

#include <string>

#include "energy/law.h"
#include "model/analysis.h"
#include "platform/output_file.h"

namespace solver {

// Writes the result files of a run, "autocad.scr", "output.txt" and, for a
// model with chambers, "chambers.txt", into `folder` (empty: the current
// directory), and replaces the files of an earlier run only once all are
// complete, together (platform::OutputFiles): a failure on any leaves the
// earlier files as they were. FileError when that is impossible.
void write_results(analysis& a, const MaterialLaw& law, const std::string& folder = "");

// Writes the drawing script ("autocad.scr") into f, which the caller
// commits: the undeformed and the deformed mesh as two polyface meshes on
// the layers Undeformed and Deformed.
void autocad(const analysis& a, platform::OutputFile& f);

// Writes the chambers' final state ("chambers.txt", for a model with gas
// chambers) into f: each chamber's volume, absolute and gauge pressure, and
// the reference volume of its gas law.
void chambers(const analysis& a, platform::OutputFile& f);

// Writes the report ("output.txt") into f, which the caller commits:
// iteration counts, energy, displacements, deformed coordinates, principal
// stresses and support reactions. Reuses force as the work table for the
// residual forces (it holds them afterwards).
void output(analysis& a, const MaterialLaw& law, platform::OutputFile& f);

// The principal stresses of an element with side stresses n1, n2, n3:
// {larger, smaller}.
struct PrincipalStresses {
  double s1 = 0.0;
  double s2 = 0.0;
};
PrincipalStresses principal(const element& e, double n1, double n2, double n3);

}  // namespace solver
