#!/usr/bin/env bash
# The Gmsh examples solved by both programs and checked against what they
# must give (VERIFICATION.md, section 5).
#   verification_gmsh.sh circle|lshape|saddle VELORAMESH VELORA1 VELORA2 EXAMPLES_DIR
#
# circle: the clamped circle of radius 1 (mesh size 1/8, 518 triangles),
#   E t = 1000, nu = 0.3, pressure 0.448: Hencky's centre deflection
#   0.6534 (q a / E t)^(1/3) = 0.0499964. velora1 within 0.2%, velora2 within
#   -0.1..+0.3%, and velora2 0.05..0.12% above velora1 (the difference of the
#   laws, e/2 at the centre strain e = 0.0017). A change of the membrane
#   stiffness by 0.6% moves the deflection by 0.2%, out of the bands.
# lshape: the L of arm width 1 held along its edge under pressure 1;
#   CalculiX (M3D3 membranes, NLGEOM, the same mesh; tools/calculix.py)
#   gives 0.0392544 at the probe (0.5, 0.5). velora1, whose Green strain is
#   CalculiX's large-strain elasticity, within 0.05%; velora2 0.05..0.3%
#   above it.
# saddle: the hyperbolic paraboloid held along its straight edges, pressure
#   5 along +z and then along -z (--orient). The pressure on a triangulated
#   surface adds up to p times its vector area, which only depends on the
#   boundary: (0, 0, 4) for the saddle's edges, whatever the deflection.
#   So the support reactions must add up to (0, 0, -20) (or +20) within
#   0.1% of the load, and the centre must move with the pressure.
set -u
case=$1
vm=$2
velora1=$3
velora2=$4
examples=$5
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# solve PROGRAM MESH ARGS... -> runs in a fresh folder, prints nothing
solve() {
  local program=$1 mesh=$2
  shift 2
  rm -rf "$dir/run" && mkdir "$dir/run" && cd "$dir/run" || exit 1
  "$vm" "$mesh" "$@" || { echo "veloramesh failed" >&2; exit 1; }
  "$program" || { echo "$(basename "$program") failed" >&2; exit 1; }
  awk '/Major Iterations/ { split($0, f, "|"); if (f[3] + 0 >= 20) { print "not converged" > "/dev/stderr"; exit 1 } }' output.txt ||
    exit 1
}
# Z displacement of the node at (x, y, z) of input.txt.
deflection_at() {
  local node
  node=$(awk -v x="$1" -v y="$2" -v z="$3" '/coord z/ { on = 1; next } /node +node +node/ { exit }
         on && NF == 4 && $2 + 0 == x && $3 + 0 == y && $4 + 0 == z { print $1; exit }' input.txt)
  [ -n "$node" ] || { echo "no node at ($1, $2, $3)" >&2; exit 1; }
  awk -v n="$node" '/Displ Z/ { on = 1 } on && $1 == n { print $4; exit }' output.txt
}
# Sums of the reaction lines: X Y Z.
reactions() {
  awk '/Force Z/ { on = 1; next } on && NF >= 2 { x += $2; y += $3; z += $4 } END { printf "%.9e %.9e %.9e\n", x, y, z }' output.txt
}

case $case in
circle)
  args=(--fix rim=xyz --pressure membrane=0.448 --orient +z)
  solve "$velora1" "$examples/circle_41.msh" "${args[@]}"
  w1=$(deflection_at 0 0 0)
  solve "$velora2" "$examples/circle_22_bin.msh" "${args[@]}"
  w2=$(deflection_at 0 0 0)
  awk -v w1="$w1" -v w2="$w2" 'BEGIN {
    hencky = 0.6534 * (0.448 / 1000.0)^(1/3)
    e1 = (w1 - hencky) / hencky; e2 = (w2 - hencky) / hencky; d = (w2 - w1) / w1
    printf "Hencky %.7f; velora1 %.7f (%+.3f%%), velora2 %.7f (%+.3f%%), apart %.3f%%\n", hencky, w1, 100 * e1, w2, 100 * e2, 100 * d
    bad = 0
    if (e1 < -0.002 || e1 > 0.002) { print "velora1 outside 0.2% of Hencky"; bad = 1 }
    if (e2 < -0.001 || e2 > 0.003) { print "velora2 outside -0.1..+0.3% of Hencky"; bad = 1 }
    if (d < 0.0005 || d > 0.0012) { print "velora2 not 0.05..0.12% above velora1"; bad = 1 }
    exit bad }'
  ;;
lshape)
  args=(--fix edge=xyz --pressure sheet=1 --orient +z)
  solve "$velora1" "$examples/lshape_41_bin.msh" "${args[@]}"
  w1=$(deflection_at 0.5 0.5 0)
  solve "$velora2" "$examples/lshape_22.msh" "${args[@]}"
  w2=$(deflection_at 0.5 0.5 0)
  awk -v w1="$w1" -v w2="$w2" 'BEGIN {
    ccx = 0.0392544
    e1 = (w1 - ccx) / ccx; d = (w2 - w1) / w1
    printf "CalculiX %.7f; velora1 %.7f (%+.3f%%), velora2 %.7f (%+.3f%% above velora1)\n", ccx, w1, 100 * e1, w2, 100 * d
    bad = 0
    if (e1 < -0.0005 || e1 > 0.0005) { print "velora1 outside 0.05% of CalculiX"; bad = 1 }
    if (d < 0.0005 || d > 0.003) { print "velora2 not 0.05..0.3% above velora1"; bad = 1 }
    exit bad }'
  ;;
saddle)
  fail=0
  for program in "$velora1" "$velora2"; do
    for side in +z -z; do
      solve "$program" "$examples/saddle_41.msh" --fix edge=xyz --pressure roof=5 --orient $side
      w=$(deflection_at 0 0 0)
      read -r fx fy fz <<<"$(reactions)"
      awk -v p="$(basename "$program")" -v s="$side" -v w="$w" -v fx="$fx" -v fy="$fy" -v fz="$fz" 'BEGIN {
        sign = s == "+z" ? 1 : -1
        printf "%s, pressure towards %s: centre %+.6f; reactions %+.6f %+.6f %+.6f\n", p, s, w, fx, fy, fz
        tol = 0.001 * 20
        bad = 0
        if (fx < -tol || fx > tol || fy < -tol || fy > tol || fz + sign * 20 < -tol || fz + sign * 20 > tol) {
          print "  the reactions do not balance the pressure"; bad = 1 }
        if (sign * w < 0.05) { print "  the centre does not move with the pressure"; bad = 1 }
        exit bad }' || fail=1
    done
  done
  exit $fail
  ;;
*)
  echo "unknown case $case" >&2
  exit 2
  ;;
esac
