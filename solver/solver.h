#pragma once

namespace solver {

// Runs one analysis in the current directory: "input.txt" in, "autocad.scr"
// and "output.txt" out.
void run();

}  // namespace solver
