#pragma once
// The results of a solved state as tables: what the report prints
// (solver/results.h), at full precision, for callers that take the results
// in memory rather than from "output.txt" (the Python module). The values
// come from the same steps in the same order as the report's, so a table
// and the report agree to the report's last digit.

#include <array>
#include <vector>

#include "energy/law.h"
#include "model/analysis.h"

namespace solver {

struct ResultFields {
  std::vector<std::array<double, 3>> displacement;  // #N x (X, Y, Z): node k at [k - 1]
  std::vector<std::array<double, 3>> position;      // #N x (X, Y, Z): the deformed coordinates
  std::vector<std::array<double, 2>> stress;        // #M: principal stresses {larger, smaller}, element e at [e - 1]
  // #M: the unit vector of the larger principal stress in the element's
  // reference plane, where the stresses are measured; along side 3 (vertex
  // 1 to vertex 2) when both principal stresses are equal.
  std::vector<std::array<double, 3>> direction;
  // #N x (X, Y, Z): the reaction of the support on the membrane at every
  // held component the report lists (larger than the allowable residue),
  // 0 elsewhere.
  std::vector<std::array<double, 3>> reaction;
  // #C, a model's gas chambers by number: volume and absolute pressure
  // (chambers.txt); empty without chambers.
  std::vector<std::array<double, 2>> chamber;
};

// The unit vector of the larger principal stress of an element with side
// stresses n (N1, N2, N3), in its reference plane; along side 3 when the
// principal stresses are equal.
std::array<double, 3> principal_direction(const element& e, const std::array<double, 3>& n);

// The tables of a state that solve (solver/solver.h) has solved; the state
// is not changed.
ResultFields fields(const analysis& a, const MaterialLaw& law);

}  // namespace solver
