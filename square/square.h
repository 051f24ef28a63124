#pragma once

namespace square {

// Reads "square.txt" and writes "input.txt", "autocad.scr" and "ansys.txt".
void run();

}  // namespace square
