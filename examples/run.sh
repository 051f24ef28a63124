#!/usr/bin/env bash
# Solves the shipped example in a scratch folder: `square` turns
# examples/square.txt into a model, which velora1 then solves. Prints the
# summary of the results report and says where the files are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release
run=$top/build/example
rm -rf "$run"
mkdir -p "$run"
cp "$top/examples/square.txt" "$run/"
cd "$run"
"$bin/square/square"
echo "square wrote: $(ls "$run" | tr '\n' ' ')"
echo "files in $run"
