// Material law of velora2: the engineering strain of each element side.

#include "energy/strain.h"
#include "energy/strain_law.h"

namespace solver {

const MaterialLaw& engineering_law() {
  static const StrainLaw<EngineeringStrain> law;
  return law;
}

}  // namespace solver
