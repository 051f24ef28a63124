// libFuzzer driver for one entry point, chosen when the target is compiled
// (ROBUST_TARGET_MODEL or ROBUST_TARGET_SQUARE). A platform::Failure is the
// program's normal answer to a bad file; everything else escapes and is a
// finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/entry.h"
#include "platform/failure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
#if defined(ROBUST_TARGET_MODEL)
    robust::model_entry(data, size);
#elif defined(ROBUST_TARGET_SQUARE)
    robust::square_entry(data, size);
#else
#error "define ROBUST_TARGET_MODEL or ROBUST_TARGET_SQUARE"
#endif
  } catch (const platform::Failure&) {
  }
  return 0;
}
