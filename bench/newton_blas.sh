#!/usr/bin/env bash
# The BLAS behind the sparse factorization, side by side on one model:
# reference BLAS against OpenBLAS on 1 and 2 threads, each run twice, with
# the second-order method. Prints wall and CPU seconds, peak memory and the
# method's counts, and whether the reports are byte-identical run to run and
# between thread counts.
#   bench/newton_blas.sh VELORA1 SQUARE N
set -eu
velora1=$1
square=$2
n=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Square\n:\n%s 1.0\n:\n1000.0 0.3\n:\n1.0\n' "$n" >"$dir/square.txt"
(cd "$dir" && "$square")
reference=/usr/lib/x86_64-linux-gnu/blas:/usr/lib/x86_64-linux-gnu/lapack
echo "load: $(uptime)"
for variant in reference openblas1 openblas2; do
  for run in 1 2; do
    d=$dir/$variant.$run
    mkdir -p "$d"
    cp "$dir/input.txt" "$d/"
    case $variant in
      reference) env=(LD_LIBRARY_PATH=$reference OPENBLAS_NUM_THREADS=1) ;;
      openblas1) env=(OPENBLAS_NUM_THREADS=1) ;;
      openblas2) env=(OPENBLAS_NUM_THREADS=2) ;;
    esac
    (cd "$d" && env "${env[@]}" \
       /usr/bin/time -f "$variant run $run: %e s wall, %U s user, %S s sys, %M KB" "$velora1" --method newton \
       --newton-counts) 2>&1
  done
done
for variant in reference openblas1 openblas2; do
  cmp -s "$dir/$variant.1/output.txt" "$dir/$variant.2/output.txt" && same=identical || same=DIFFERENT
  echo "$variant: run 1 and run 2 $same"
done
for variant in reference openblas2; do
  if cmp -s "$dir/openblas1.1/output.txt" "$dir/$variant.1/output.txt"; then
    echo "openblas1 and $variant: identical"
  else
    echo "openblas1 and $variant: differ"
  fi
done
