#pragma once
// How many CPUs this process may run on.

namespace platform {

// The number of CPUs in this process's affinity mask (sched_getaffinity), so
// that `taskset` and a container's CPU limit are honoured; at least 1. Falls
// back to the CPUs online when the mask cannot be read.
unsigned available_cpus();

}  // namespace platform
