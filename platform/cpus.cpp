#include "platform/cpus.h"

#include <sched.h>
#include <unistd.h>

#include <cstddef>
#include <vector>

namespace platform {

unsigned available_cpus() {
  // A machine may have more CPUs than a cpu_set_t holds: grow the mask until
  // the kernel accepts it (EINVAL means it was too small).
  for (std::size_t cpus = 1024; cpus <= (std::size_t{1} << 20); cpus *= 2) {
    cpu_set_t* mask = CPU_ALLOC(cpus);
    if (mask == nullptr) break;
    const std::size_t size = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(size, mask);
    if (sched_getaffinity(0, size, mask) == 0) {
      const int count = CPU_COUNT_S(size, mask);
      CPU_FREE(mask);
      return count > 0 ? static_cast<unsigned>(count) : 1u;
    }
    CPU_FREE(mask);
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1u;
}

}  // namespace platform
