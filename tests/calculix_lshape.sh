#!/usr/bin/env bash
# The L-shaped example solved by velora1 and by CalculiX on the same mesh
# (tools/calculix.py), compared node by node: the largest difference of
# the displacement vectors must stay within 0.05% of the largest
# displacement. Skipped (status 77) without CalculiX (Debian calculix-ccx).
#   calculix_lshape.sh VELORAMESH VELORA1 EXAMPLES_DIR TOOLS_DIR
set -u
vm=$1
velora1=$2
examples=$3
tools=$4
command -v ccx >/dev/null 2>&1 || { echo "CalculiX (ccx) is missing: install the Debian package calculix-ccx"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$vm" "$examples/lshape_41.msh" --fix edge=xyz --pressure sheet=1 --orient +z && "$velora1" || exit 1
python3 "$tools/calculix.py" write input.txt lshape.inp && ccx -i lshape >ccx.log 2>&1 || { tail ccx.log; exit 1; }
python3 "$tools/calculix.py" compare output.txt lshape.dat --tolerance 0.05
