#!/usr/bin/env bash
# The folders are the libraries, and each may include project headers only
# from the folders the README's layout table lets it use: those below it in
# the table, and of those only the ones in its row. Tests, test helpers and
# benchmarks may use more; fuzz/, bench/ and tests/ are not libraries.
#   tests/layering.sh SOURCE_DIR
set -euo pipefail
root=$1
status=0

# check FOLDER "ALLOWED FOLDERS...": every project include of FOLDER's
# library sources must name a header in one of the allowed folders.
check() {
  local folder=$1 allowed=$2 file inc ok
  for file in "$root/$folder"/*.cpp "$root/$folder"/*.h; do
    [ -e "$file" ] || continue
    case "$file" in *_test.cpp | *_testing.h | *_benchmark.cpp | */testing.h) continue ;; esac
    while IFS= read -r inc; do
      ok=0
      for prefix in $folder $allowed; do
        case "$inc" in "$prefix"/*) ok=1 ;; esac
      done
      if [ $ok -eq 0 ]; then
        echo "${file#"$root"/} includes \"$inc\", but $folder may use only: $folder $allowed" >&2
        status=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  done
}

# Top to bottom as in the README; each row names what the folder may use.
check programs "cli viewer mesh generators solver newton energy model nlp terms platform"
check python "mesh solver newton energy model terms platform"
check cli "platform"
check viewer "model terms platform"
check mesh "model platform"
check generators "model platform"
check solver "newton energy model nlp terms platform"
check newton "energy model nlp terms platform"
check energy "model terms platform"
check model "terms platform"
check nlp "terms platform"
check terms "platform"
check platform ""

# Every folder with sources is a library of the table: a new folder must
# get its row here (and in the README) before it can hold code.
for dir in "$root"/*/; do
  name=$(basename "$dir")
  case "$name" in bench | fuzz | tests | tools | docs | man | cmake | examples | build* | .*) continue ;; esac
  if ls "$dir"*.cpp "$dir"*.h >/dev/null 2>&1 && ! grep -q "^check $name " "$0"; then
    echo "folder $name holds sources but has no row in the layering rules" >&2
    status=1
  fi
done
exit $status
