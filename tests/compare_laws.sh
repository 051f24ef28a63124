#!/usr/bin/env bash
# velora1 (Green side strain) and velora2 (engineering side strain) on the
# same square membrane: at small strain they must agree; at large strain the
# Green law is the stiffer one in tension ((λ²-1)/2 exceeds λ-1 for λ > 1),
# so velora1 must deflect less.
#   compare_laws.sh VELORA1 VELORA2 MODEL_INPUT
set -eu
v1=$1
v2=$2
model=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Z displacement of the centre node (13 in the n = 3 square) from a report.
centre() { awk '/Displ Z/ {on=1} on && $1 == "13" {print $4; exit}' "$1"; }

solve() {  # solve PROGRAM PRESSURE -> centre deflection
  local d=$dir/$(basename "$1")_$2
  mkdir -p "$d"
  sed "s/ 1.000000E-02\$/ $2/" "$model" >"$d/input.txt"
  (cd "$d" && "$1") || { echo "$1 failed at pressure $2" >&2; exit 1; }
  centre "$d/output.txt"
}

small1=$(solve "$v1" 1.000000E-02)
small2=$(solve "$v2" 1.000000E-02)
large1=$(solve "$v1" 1.000000E+02)
large2=$(solve "$v2" 1.000000E+02)
echo "pressure 0.01: velora1 $small1, velora2 $small2"
echo "pressure 100:  velora1 $large1, velora2 $large2"
awk -v a="$small1" -v b="$small2" -v c="$large1" -v d="$large2" 'BEGIN {
  rel_small = (a - b) / b; if (rel_small < 0) rel_small = -rel_small
  rel_large = (d - c) / d
  printf "relative difference: %.2e at small strain, %.2e at large strain\n", rel_small, rel_large
  if (a <= 0 || c <= 0) { print "the pressure must lift the centre"; exit 1 }
  if (rel_small > 1e-3) { print "the laws disagree at small strain"; exit 1 }
  if (rel_large < 5 * rel_small || rel_large < 1e-3) { print "velora1 is not the stiffer law at large strain"; exit 1 }
}'
