#include "solver/kernel_path.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"

namespace solver::kernel {

namespace {

constexpr path paths[] = {path::scalar, path::pairs, path::avx2, path::avx512};

// The best path measured on a processor with all of them: AVX-512 divides
// eight doubles per instruction, AVX2 four (BENCHMARKS.md, "Lanes").
path best_path() {
  for (auto p : {path::avx512, path::avx2, path::pairs}) {
    if (supported(p)) return p;
  }
  return path::scalar;
}

path initial_path() {
  const char* name = std::getenv("VELORA_KERNEL");
  if (name == nullptr || *name == '\0') return best_path();
  for (const path p : paths) {
    if (std::strcmp(name, path_name(p)) != 0) continue;
    if (!supported(p)) {
      throw platform::DataError(std::string("VELORA_KERNEL=") + name + ": this processor cannot run the " + name +
                                " element loop");
    }
    return p;
  }
  std::string names;
  for (const path p : paths) {
    if (!supported(p)) continue;
    names += names.empty() ? "" : ", ";
    names += path_name(p);
  }
  throw platform::DataError(std::string("VELORA_KERNEL=") + name + ": expected one of " + names);
}

// -1 until the first use decides.
std::atomic<int> chosen{-1};

}  // namespace

const char* path_name(path p) {
  switch (p) {
    case path::scalar:
      return "scalar";
    case path::pairs:
#if defined(__x86_64__)
      return "sse2";
#else
      return "pairs";
#endif
    case path::avx2:
      return "avx2";
    case path::avx512:
      return "avx512";
  }
  return "scalar";
}

bool supported(path p) {
  switch (p) {
    case path::scalar:
    case path::pairs:
      return true;  // SSE2 belongs to x86-64; other processors run pairs as two lanes of their own vectors
    case path::avx2:
#if defined(__x86_64__)
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
    case path::avx512:
#if defined(__x86_64__)
      return __builtin_cpu_supports("avx512f");
#else
      return false;
#endif
  }
  return false;
}

path current_path() {
  int p = chosen.load(std::memory_order_acquire);
  if (p < 0) {
    p = static_cast<int>(initial_path());
    int expected = -1;
    if (!chosen.compare_exchange_strong(expected, p, std::memory_order_acq_rel)) p = expected;
  }
  return static_cast<path>(p);
}

bool use_path(path p) {
  if (!supported(p)) return false;
  chosen.store(static_cast<int>(p), std::memory_order_release);
  return true;
}

}  // namespace solver::kernel

namespace solver {

std::string kernel_path() { return kernel::path_name(kernel::current_path()); }

}  // namespace solver
