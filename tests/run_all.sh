#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   0. the Debian packages of the build and of the optional checks, installed
#      when missing (tools/setup.sh --test; as root or through sudo, otherwise
#      it says what to install and the optional checks are skipped);
#   1. the formatting of every C++ source against .clang-format;
#   2. Release build (-O2, warnings as errors) and every test, among them the
#      install, the consumer of the installed library and the Debian package;
#   3. the same under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. the parallel tests under ThreadSanitizer (that build holds their
#      program only, so it stays quick);
#   5. a minute of coverage-guided fuzzing of each reader (the model file and
#      the generator's parameters). Fuzzing needs clang's libFuzzer (Debian
#      packages clang and libclang-rt-14-dev); without it this step is
#      skipped with a message. An input that makes a reader crash is kept in
#      fuzz/regressions/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

# An optional package that cannot be installed only skips its checks; the
# build's own packages must be there.
tools/setup.sh --test || tools/setup.sh

# Sources as clang-format lays them out (the rules are in .clang-format).
if command -v clang-format >/dev/null 2>&1 && git rev-parse --git-dir >/dev/null 2>&1; then
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
  echo "formatting: every C++ source as .clang-format lays it out"
else
  echo "formatting check skipped: clang-format or git not found"
fi
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
