#pragma once
// The viewer program: reads the model "input.txt" and the results report
// "output.txt" from the current directory and writes "result.vtu" and
// "result.svg" beside them. Both inputs are read and checked against each
// other before anything is written, and the two output files replace
// those of an earlier run together, once both are complete. wrinkling:
// show the elements' states (taut, wrinkled, slack) also when the model
// file does not say :wrinkling on (the model was solved with --wrinkling).

namespace viewer {

void run(bool wrinkling = false);

}  // namespace viewer
