#!/usr/bin/env bash
# Solves a model with one program in a scratch folder and compares both
# result files byte for byte with the expected ones.
#   golden.sh PROGRAM MODEL_DIR SUFFIX
# MODEL_DIR holds input.txt, outputSUFFIX.txt and autocadSUFFIX.scr.
# With VELORA_KERNEL naming an element loop this processor cannot run, the
# program refuses it; the test then says so and is skipped (status 77).
set -u
program=$1
model=$2
suffix=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$model/input.txt" "$dir/"
cd "$dir"
"$program" >stdout.txt 2>stderr.txt
status=$?
fail=0
if [ "$status" -ne 0 ]; then
  if [ -n "${VELORA_KERNEL:-}" ] && grep -q "VELORA_KERNEL=.*cannot run" stderr.txt; then
    echo "skipped: this processor cannot run the ${VELORA_KERNEL} element loop"; exit 77
  fi
  echo "exit status $status"; cat stderr.txt; exit 1
fi
[ -s stdout.txt ] && { echo "unexpected standard output:"; cat stdout.txt; fail=1; }
[ -s stderr.txt ] && { echo "unexpected standard error:"; cat stderr.txt; fail=1; }
for pair in "output.txt output$suffix.txt" "autocad.scr autocad$suffix.scr"; do
  set -- $pair
  if ! cmp -s "$1" "$model/$2"; then
    echo "$1 differs from $2:"
    diff "$model/$2" "$1" | head -40
    fail=1
  fi
done
[ $fail -eq 0 ] && echo "both files byte-identical"
exit $fail
