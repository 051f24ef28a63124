#pragma once
// The two entry points that the fuzz targets and the regression test share:
// each takes the bytes of one input file and runs the program's reader over
// them as the program would, so that whatever the fuzzer finds replays
// exactly in the normal test suite.
//
// An entry either returns (the input is a model, or parameters, that the
// program accepts) or throws a platform::Failure (the program would end
// with a failure report). Anything else — a crash, a sanitizer report, a
// hang, another exception — is a fault.

#include <cstddef>
#include <cstdint>

namespace robust {

// "input.txt" given as bytes: input, start, setforce and one evaluation of
// the objective at the starting state, the steps a solver takes before its
// first major iteration.
void model_entry(const std::uint8_t* data, std::size_t size);

// "square.txt" given as bytes: the generator's parameter reader initia,
// which also builds the node-number grid.
void square_entry(const std::uint8_t* data, std::size_t size);

}  // namespace robust
