#include "solver/solver.h"

#include "platform/text_reader.h"

namespace solver {

void run() { platform::TextReader::open("input.txt"); }

}  // namespace solver
