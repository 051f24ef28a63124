#!/usr/bin/env bash
# Builds velora and solves the shipped example in a scratch folder, as a user
# would. First the Debian packages the build needs are installed when missing
# (tools/setup.sh: as root or through sudo; otherwise it says what to
# install), then the release build is configured and built. `square` turns
# examples/square.txt into a model ("input.txt"), velora1 solves it,
# veloraview draws the result. Prints the summary of the results report and
# where the files are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/release
"$top/tools/setup.sh"
(cd "$top" && cmake --preset release && cmake --build --preset release)
run=$top/build/example
rm -rf "$run"
mkdir -p "$run"
cp "$top/examples/square.txt" "$run/"
cd "$run"
"$bin/programs/square"
"$bin/programs/velora1"
"$bin/programs/veloraview"
sed -n '1,6p' output.txt
echo
echo "Model, report, drawing script and pictures are in $run:"
ls -l "$run"
echo
echo "Picture: $run/result.svg (open it in a browser)"
echo "Grid for ParaView: $run/result.vtu (apply \"Warp By Vector\" with displacement)"
