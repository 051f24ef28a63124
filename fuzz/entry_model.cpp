#include <string>

#include "energy/gas.h"
#include "energy/law.h"
#include "fuzz/entry.h"
#include "model/analysis.h"
#include "model/model.h"
#include "platform/text_reader.h"

namespace robust {

void model_entry(const std::uint8_t* data, std::size_t size) {
  platform::TextReader reader("input.txt", std::string(reinterpret_cast<const char*>(data), size));
  solver::analysis a;
  solver::input(a, reader);
  solver::start(a);
  solver::setforce(a);
  a.energy = (*solver::green_law().evaluator(a, {}))(a.nfree, a.u, a.g);
  const solver::GasChambers gas(a);
  if (!gas.empty()) a.energy = gas.add(a.energy, a.u, a.g);
}

}  // namespace robust
