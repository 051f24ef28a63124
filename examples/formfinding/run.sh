#!/usr/bin/env bash
# Form finding, then a load analysis, as a user runs them: the saddle roof
# and the catenoid of this folder meshed by Gmsh, given an isotropic
# prestress by veloramesh, their shapes found by veloraform, then loaded
# and solved by velora1 and drawn by veloraview. Needs the gmsh program
# (Debian gmsh) and a build with veloramesh (Debian libgmsh-dev).
#   examples/formfinding/run.sh [BUILD_DIR [RUN_DIR]]
# (default build/release and build/formfinding; status 77 without gmsh or
# veloramesh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build/release}" && pwd)/programs
run=${2:-$here/../../build/formfinding}
if ! command -v gmsh >/dev/null || ! [ -x "$bin/veloramesh" ]; then
  echo "the example needs the gmsh program and veloramesh (Debian gmsh, libgmsh-dev)"
  exit 77
fi
rm -rf "$run"
mkdir -p "$run/saddle" "$run/catenoid"

# The saddle: prestress 2 (force per length) on the roof, its edges held;
# after form finding, a pressure of 0.1 pushes on it from below.
cd "$run/saddle"
gmsh -2 -v 0 "$here/saddle.geo" -o saddle.msh
"$bin/veloramesh" saddle.msh --fix edge=xyz --prestress roof=2 --pressure roof=0.1 --orient +z
"$bin/veloraform"
echo "saddle, node at (0.5, 0.5) before and after form finding:"
awk -v x=0.5 -v y=0.5 -f "$here/node_at.awk" input.txt input.txt
awk -v x=0.5 -v y=0.5 -f "$here/node_at.awk" input.txt formed.txt
cp formed.txt input.txt
"$bin/velora1"
"$bin/veloraview"
sed -n '2,5p' output.txt

# The catenoid between two rings of radius 1 at distance 1: neck radius,
# area and ring force against the closed form c = 0.848338, 5.991797,
# 2 pi c = 5.330264.
cd "$run/catenoid"
gmsh -2 -v 0 "$here/catenoid.geo" -o catenoid.msh
"$bin/veloramesh" catenoid.msh --fix rings=xyz --prestress film=1
"$bin/veloraform"
cp formed.txt input.txt
"$bin/velora1"
"$bin/veloraview"
echo "catenoid: neck, area, ring force: $(awk -f "$here/catenoid.awk" formed.txt output.txt)"
echo "the results are in $run (result.svg, result.vtu in each folder)"
