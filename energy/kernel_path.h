#pragma once
// Which element loop the energy evaluation runs: the widest the processor
// offers, or the one the environment variable VELORA_KERNEL names (scalar,
// sse2, avx2, avx512; on processors other than x86-64: scalar, pairs), so
// that every loop can be checked against the same expected results on a
// machine that would not pick it. All loops give the same bits.

#include <string>

namespace solver::kernel {

enum class Path { scalar, pairs, avx2, avx512 };

// The name of a path as VELORA_KERNEL and kernel_path() spell it.
const char* path_name(Path p);

// Whether this processor (and its operating system) can run the path.
bool supported(Path p);

// The path the evaluation runs now. On first use: VELORA_KERNEL when set
// (a name that is not a path, or a path this processor lacks, raises a
// DataError naming the variable), else the best path of this processor.
Path current_path();

// Makes every later evaluation run the path p (tests, benchmarks); false,
// and nothing changed, when the processor lacks it.
bool use_path(Path p);

}  // namespace solver::kernel

namespace solver {

// The name of the element loop in use, for --version: "avx2" and so on.
std::string kernel_path();

}  // namespace solver
