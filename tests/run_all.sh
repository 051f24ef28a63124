#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   1. Release build (-O2, warnings as errors) and every test;
#   2. the same under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the parallel tests under ThreadSanitizer (that build holds their
#      program only, so it stays quick);
#   4. a minute of coverage-guided fuzzing of each reader (the model file and
#      the generator's parameters). Fuzzing needs clang's libFuzzer (Debian
#      packages clang and libclang-rt-14-dev); without it this step is
#      skipped with a message. An input that makes a reader crash is kept in
#      fuzz/regressions/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset test
cmake --workflow --preset sanitize
cmake --workflow --preset tsan

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
if printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' >"$probe/p.cpp" &&
   clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
  fuzz/run.sh model "${FUZZ_SECONDS:-60}"
  fuzz/run.sh square "${FUZZ_SECONDS:-60}"
else
  echo "fuzzing skipped: clang++ with libFuzzer not found (Debian: clang libclang-rt-14-dev)"
fi
echo "all tests passed"
