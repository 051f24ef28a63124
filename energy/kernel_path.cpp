#include "energy/kernel_path.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/failure.h"

namespace solver::kernel {

namespace {

constexpr Path kPaths[] = {Path::scalar, Path::pairs, Path::avx2, Path::avx512};

// The widest path the processor has: every path gives the same bits, and
// the kernel is bound by its divisions and square roots, of which AVX-512
// does eight per instruction, AVX2 four, SSE2 two (BENCHMARKS.md, "The
// element loop on each instruction set").
Path best_path() {
  for (auto p : {Path::avx512, Path::avx2, Path::pairs}) {
    if (supported(p)) return p;
  }
  return Path::scalar;
}

Path initial_path() {
  const char* name = std::getenv("VELORA_KERNEL");
  if (name == nullptr || *name == '\0') return best_path();
  for (const Path p : kPaths) {
    if (std::strcmp(name, path_name(p)) != 0) continue;
    if (!supported(p)) {
      throw platform::DataError(std::string("VELORA_KERNEL=") + name + ": this processor cannot run the " + name +
                                " element loop");
    }
    return p;
  }
  std::string names;
  for (const Path p : kPaths) {
    if (!supported(p)) continue;
    names += names.empty() ? "" : ", ";
    names += path_name(p);
  }
  throw platform::DataError(std::string("VELORA_KERNEL=") + name + ": expected one of " + names);
}

// -1 until the first use decides.
std::atomic<int> chosen{-1};

}  // namespace

const char* path_name(Path p) {
  switch (p) {
    case Path::scalar:
      return "scalar";
    case Path::pairs:
#if defined(__x86_64__)
      return "sse2";
#else
      return "pairs";
#endif
    case Path::avx2:
      return "avx2";
    case Path::avx512:
      return "avx512";
  }
  return "scalar";
}

bool supported(Path p) {
  switch (p) {
    case Path::scalar:
    case Path::pairs:
      return true;  // SSE2 belongs to x86-64; other processors run pairs as two lanes of their own vectors
    case Path::avx2:
    case Path::avx512:
#if defined(__x86_64__)
      return p == Path::avx2 ? __builtin_cpu_supports("avx2") != 0 : __builtin_cpu_supports("avx512f") != 0;
#else
      return false;  // the wider loops are built for x86-64 alone
#endif
  }
  return false;
}

Path current_path() {
  int p = chosen.load(std::memory_order_acquire);
  if (p < 0) {
    p = static_cast<int>(initial_path());
    int expected = -1;
    if (!chosen.compare_exchange_strong(expected, p, std::memory_order_acq_rel)) p = expected;
  }
  return static_cast<Path>(p);
}

bool use_path(Path p) {
  if (!supported(p)) return false;
  chosen.store(static_cast<int>(p), std::memory_order_release);
  return true;
}

}  // namespace solver::kernel

namespace solver {

std::string kernel_path() { return kernel::path_name(kernel::current_path()); }

}  // namespace solver
