#!/usr/bin/env bash
# The libraries use only what the README's layout table allows: each
# library's sources (tests and benchmarks aside, which may use more) include
# project headers only from the folders and headers listed for it here.
#   tests/layering.sh SOURCE_DIR
set -euo pipefail
root=$1
status=0

# check NAME "FILES..." "ALLOWED..." : every project include of FILES must
# start with one of the ALLOWED prefixes.
check() {
  local name=$1 files=$2 allowed=$3 file inc ok prefix
  for file in $files; do
    [ -e "$root/$file" ] || continue
    case "$file" in *_test.cpp | *_testing.h | *_benchmark.cpp | */testing.h) continue ;; esac
    while IFS= read -r inc; do
      ok=0
      for prefix in $allowed; do
        case "$inc" in "$prefix"*) ok=1 ;; esac
      done
      if [ $ok -eq 0 ]; then
        echo "$file ($name) includes \"$inc\", which $name may not use" >&2
        status=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$root/$file")
  done
}

cd "$root"
model_headers="solver/analysis.h solver/model.h solver/model_file.h"
check platform "$(ls platform/*.cpp platform/*.h)" "platform/"
check terms "$(ls terms/*.h)" "terms/ platform/"
check nlp "$(ls nlp/*.h)" "nlp/ terms/ platform/"
check model "solver/input.cpp solver/setup.cpp solver/loads.cpp $model_headers" "$model_headers terms/ platform/"
check generator "$(ls generator/*.cpp generator/*.h)" "generator/ platform/ solver/model_file.h"
check square_lib "$(ls square/*.cpp square/*.h | grep -v '/main.cpp$')" "square/ generator/ platform/"
check circle_lib "$(ls examples/*.cpp examples/*.h | grep -v '/circle_main.cpp$')" "examples/ generator/ platform/"
check viewer_lib "$(ls viewer/*.cpp viewer/*.h | grep -v '/main.cpp$')" "viewer/ solver/analysis.h solver/model.h terms/ platform/"
check cli "$(ls cli/*.cpp cli/*.h)" "cli/ platform/"
check solver_program "solver/program.cpp solver/program.h" "solver/program.h solver/law.h solver/solver.h solver/newton.h solver/kernel_path.h solver/progress_line.h cli/ platform/failure.h"
# The programs' mains: their library and the command line.
check square "square/main.cpp" "square/ cli/"
check circle "examples/circle_main.cpp" "examples/ cli/"
check veloraview "viewer/main.cpp" "viewer/ cli/"
check velora1 "solver/velora1.cpp solver/velora2.cpp" "solver/law.h solver/program.h"
check mesh "$(ls mesh/*.cpp mesh/*.h)" "mesh/ solver/model_file.h platform/"
exit $status
