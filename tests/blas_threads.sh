#!/usr/bin/env bash
# The second-order method writes the same bytes whether the BLAS's thread
# count is left to the program or set to one: the count would otherwise
# follow the machine's CPUs. A count the user sets is taken.
#   blas_threads.sh VELORA1 SQUARE
set -u
velora1=$1
square=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
printf 'Square\n:\n40 1.0\n:\n1000.0 0.3\n:\n1.0\n' >square.txt
"$square" || exit 1
fail=0
for run in unset one two; do
  mkdir "$run" && cp input.txt "$run/"
done
(cd unset && env -u OPENBLAS_NUM_THREADS "$velora1" --method newton) || fail=1
(cd one && OPENBLAS_NUM_THREADS=1 "$velora1" --method newton) || fail=1
(cd two && OPENBLAS_NUM_THREADS=2 "$velora1" --method newton) || fail=1
for f in output.txt autocad.scr; do
  cmp -s "unset/$f" "one/$f" || { echo "$f differs between the default and one BLAS thread"; fail=1; }
done
[ -s two/output.txt ] || { echo "no report with two BLAS threads"; fail=1; }
[ $fail -eq 0 ] && echo "the same bytes with the default and one BLAS thread"
exit $fail
