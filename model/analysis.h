#pragma once
// The analysis state: the one record that every step of a solver run reads
// and writes. The main procedure creates it with every table empty; the
// fields are filled in the order of the run:
//   1-19  by input (the model file), and the optional input of its
//         extension sections,
//   20-23 by start (degree-of-freedom numbers, element reference
//         quantities, u, g and force created zero),
//   force again by every setforce, g by every objective, u and g by the
//         minimiser, 24-27 by the main procedure.
// After start the shape of the state (counts, index ranges, element
// reference quantities, dof) is fixed for the rest of the run. The state is
// the model's alone: what evaluating its energy needs beyond it (workspaces,
// threads) belongs to the energy evaluator (energy/evaluator.h).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "terms/terms.h"

namespace solver {

// One triangle. Side k lies opposite vertex k: side 1 runs from vertex 2 to
// vertex 3, side 2 from vertex 3 to vertex 1, side 3 from vertex 1 to 2.
// Arrays are 0-based here: length[k - 1] is the length of side k.
struct element {
  double pressure = 0.0;                         // force per current area, along the normal
  double area = 0.0;                             // reference area
  std::array<double, 3> length{};                // reference length of sides 1, 2, 3
  std::array<int, 3> node{};                     // node numbers of vertices 1, 2, 3
  std::array<std::array<double, 3>, 3> dir{};    // dir[k][j]: unit vector of side k+1, axis X, Y, Z
  std::array<std::array<double, 3>, 3> stiff{};  // side-strain stiffness, row by row, symmetric
};

// The optional input of the model file's extension sections, kept as the
// reader found it: records in file order, element and chamber numbers as
// the file gives them (from 1). Every member is empty for a file without
// an extension, so a model of the seven sections alone costs nothing more.
// The physics that reads them may turn the ranges into per-element tables
// when it sets up.

// A membrane prestress (force per length) on elements first..last: n1
// along the projection of `direction` onto each element's plane, n2 across
// it in the plane; n1 == n2 is isotropic, and the direction is then unused.
struct PrestressRange {
  std::int32_t first = 0;
  std::int32_t last = 0;
  double n1 = 0.0;
  double n2 = 0.0;
  std::array<double, 3> direction{};  // X, Y, Z
  std::int32_t line = 0;              // the record's line in the model file, for messages (0: none)
};

// A gas chamber: its gas law and the point its volume is measured from.
struct Chamber {
  std::int32_t number = 0;         // 1..number of chambers
  double kappa = 1.0;              // polytropic exponent, >= 1 (1 isothermal, 1.4 adiabatic air)
  double ambient = 0.0;            // ambient pressure, absolute, > 0
  double gauge = 0.0;              // gauge pressure at the reference volume; gauge + ambient > 0
  double volume = 0.0;             // reference volume, > 0; 0: the volume at the reference shape
  std::array<double, 3> origin{};  // X, Y, Z: every closing plane or wall passes through it
};

// Elements first..last bound chamber `chamber`.
struct Enclosure {
  std::int32_t first = 0;
  std::int32_t last = 0;
  std::int32_t chamber = 0;
};

struct Extension {
  std::optional<bool> wrinkling;          // the :wrinkling section: none, "off" or "on"
  std::vector<PrestressRange> prestress;  // :prestress, ranges that do not overlap
  std::vector<Chamber> chambers;          // :chambers, each number 1..count once
  std::vector<Enclosure> enclosures;      // :enclosures, ranges that do not overlap

  bool empty() const { return !wrinkling && prestress.empty() && chambers.empty() && enclosures.empty(); }
};

struct analysis {
  // Parameters of the model file.
  double lstol = 0.0;  // 1  slope reduction tolerance of the line search
  int maxls = 0;       // 2  most interpolation steps of one line search
  double mntol = 0.0;  // 3  factor on the reference residue (<= 0 read as 0.001)
  double mnref = 0.0;  // 4  reference residue (<= 0: the initial largest residual)
  int maxminor = 0;    // 5  most line searches in one minimiser call
  int maxlist = 0;     // 6  correction pairs kept by the minimiser
  int maxmajor = 0;    // 7  most major iterations
  // Material.
  double young = 0.0;    // 8
  double poisson = 0.0;  // 9
  double density = 0.0;  // 10 self-weight per unit reference area
  // Model.
  int nnode = 0;                // 11
  terms::Vector coordx;         // 12 reference coordinates, 1..nnode
  terms::Vector coordy;         // 13
  terms::Vector coordz;         // 14
  int nelem = 0;                // 15
  terms::Array1<element> elem;  // 16 the triangles, 1..nelem
  terms::IntTable dof;          // 17 after input: 1 constrained, 0 free; after start: dof numbers
  terms::RealTable displ;       // 18 prescribed displacements (0.0 elsewhere)
  terms::RealTable action;      // 19 applied nodal loads
  // The optional input after the pressures, by input (none for a file
  // without an extension).
  bool wrinkling = false;  // every element a tension-field membrane: :wrinkling on
  Extension extension;     // the extension's records as read
  // By start, from extension.prestress: the side stresses N0 of each
  // element's prestress, element e at [e - 1] (model/prestress.h); empty
  // when no record names an element, so that a model without prestress
  // runs the element loops it always ran.
  std::vector<std::array<double, 3>> side_prestress;
  // Where input read the model, for the failures of the later steps
  // (record_of, model/model.h): the file and, at e - 1, the line of
  // element e's record. Empty for a state not read from a file.
  std::string file;
  std::vector<std::int64_t> element_line;
  // Set-up and minimisation.
  int nfree = 0;           // 20 free components, the unknowns
  terms::RealTable force;  // 21 total nodal loads, rebuilt by setforce
  terms::Vector u;         // 22 unknowns, by dof number 1..nfree
  terms::Vector g;         // 23 gradient of the energy at u
  // Counters and results of the run.
  int major = 0;         // 24 major iterations done
  int minor = 0;         // 25 minor iterations of the last minimiser call
  double energy = 0.0;   // 26 total potential energy at u
  double residue = 0.0;  // 27 allowable maximum residue
};

}  // namespace solver
