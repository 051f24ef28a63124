// Material law of velora1: the Green strain of each element side, which
// makes the element a Saint Venant-Kirchhoff membrane.

#include "energy/strain.h"
#include "energy/strain_law.h"

namespace solver {

const MaterialLaw& green_law() {
  static const StrainLaw<GreenStrain> law;
  return law;
}

}  // namespace solver
