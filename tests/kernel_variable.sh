#!/usr/bin/env bash
# VELORA_KERNEL naming no element loop: the failure report names the
# variable and the loops there are, exit status 1, and the files of an
# earlier run stay as they were.
#   kernel_variable.sh PROGRAM MODEL_DIR
set -u
program=$1
model=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$model/input.txt" "$dir/"
cd "$dir"
echo "earlier report" >output.txt
echo "earlier script" >autocad.scr
VELORA_KERNEL=avx1024 "$program" >stdout.txt 2>stderr.txt
status=$?
fail=0
[ "$status" -eq 1 ] || { echo "exit status $status, expected 1"; fail=1; }
grep -q "^raised DATA_ERROR : VELORA_KERNEL=avx1024: expected one of scalar, " stderr.txt ||
  { echo "unexpected report:"; cat stderr.txt; fail=1; }
[ "$(cat output.txt)" = "earlier report" ] || { echo "output.txt was touched"; fail=1; }
[ "$(cat autocad.scr)" = "earlier script" ] || { echo "autocad.scr was touched"; fail=1; }
[ $fail -eq 0 ] && echo "refused, earlier files untouched"
exit $fail
