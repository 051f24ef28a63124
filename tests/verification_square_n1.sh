#!/usr/bin/env bash
# The square of one division against its exact equilibrium.
#
# With n = 1 the model has one free node, the centre C, and four elements:
# each has its apex at C and the hypotenuse, a fixed side of the square of
# half side L, as its third side. By symmetry C moves along Z only, by w.
# Both legs (reference length L*sqrt(2)) then stretch by
#   lambda^2 = 1 + w^2 / (2 L^2)
# and the hypotenuse not at all. Side strains (0, e, e) on a right
# isosceles triangle are a uniaxial strain 2e across the hypotenuse, whose
# plane-stress energy per area is 2 E e^2 / (1 - nu^2); the four elements
# (area L^2 each) store U = 8 E L^2 e^2 / (1 - nu^2).
# The follower pressure gives C one third of p times twice the projected
# area over 2 of each element: its Z part is 4 p L^2 / 3 whatever w is,
# because only the apex moves and only along Z.
# Equilibrium dU/dw = 4 p L^2 / 3:
#   Green strain e = w^2 / (4 L^2)     (velora1):  2 E w^3 / (L^2 (1 - nu^2)) = 4 p L^2 / 3,
#     a cubic: w = (2 p L^4 (1 - nu^2) / (3 E))^(1/3);
#   engineering e = lambda - 1         (velora2):  8 E (lambda - 1) w / (lambda (1 - nu^2)) = 4 p L^2 / 3,
#     solved here by bisection.
# The solver stops when the largest residual force is below the allowable
# residue of the report, so the reported w must leave a residual R(w) within
# that residue, and lie within residue / (dR/dw) of the exact root.
# The Z reactions of the four corners must balance the pressure's total
# vertical force, p times the projected area 4 L^2, to the same residue.
#   verification_square_n1.sh SQUARE VELORA1 VELORA2
set -eu
square=$1
velora1=$2
velora2=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

fail=0
for p in 0.01 100; do
  for law in green engineering; do
    d=$dir/${law}_$p
    mkdir -p "$d"
    printf 'Unit square of one division\n:\n1 1.0\n:\n1000.0 0.3\n:\n%s\n' "$p" >"$d/square.txt"
    program=$velora1
    [ $law = engineering ] && program=$velora2
    (cd "$d" && "$square" && "$program") || { echo "run failed: $law, pressure $p"; exit 1; }
    awk -v law=$law -v p=$p -v E=1000 -v nu=0.3 -v L=1 '
      function residual(w,   lam, e) {
        if (law == "green") return 2 * E * w^3 / (L^2 * (1 - nu^2)) - 4 * p * L^2 / 3
        lam = sqrt(1 + w^2 / (2 * L^2)); e = (lam - 1)
        return 8 * E * e * w / (lam * (1 - nu^2)) - 4 * p * L^2 / 3
      }
      function abs(x) { return x < 0 ? -x : x }
      /Allowable Maximum Residue/ { split($0, f, "|"); residue = f[3] + 0 }
      /Major Iterations/ { split($0, f, "|"); major = f[3] + 0 }
      /Displ Z/ { table = "displ" }
      /Force Z/ { table = "force" }
      /Element/ { table = "" }
      table == "displ" && $1 == "3" { ux = $2; uy = $3; w = $4 }
      table == "force" && $1 ~ /^[0-9]+$/ && length($0) >= 65 { rz += substr($0, 46, 20) + 0; corners++ }
      END {
        # Exact root by bisection on [0, L]: R(0) < 0 < R(L) for these loads.
        lo = 0; hi = L
        for (i = 0; i < 200; i++) { mid = (lo + hi) / 2; if (residual(mid) > 0) hi = mid; else lo = mid }
        exact = (lo + hi) / 2
        if (law == "green") closed = (2 * p * L^4 * (1 - nu^2) / (3 * E))^(1/3)
        h = 1e-6 * exact
        k = (residual(exact + h) - residual(exact - h)) / (2 * h)
        slack = 1e-6 * residue  # the nine digits of the report
        printf "%-11s p = %-5s w = %.9e exact %.9e  |R(w)| = %.2e  residue %.2e  |w - exact| = %.2e (bound %.2e)  Z reactions %.6e\n", \
               law, p, w, exact, abs(residual(w)), residue, abs(w - exact), residue / k, rz
        bad = 0
        if (law == "green" && abs(closed - exact) > 1e-12 * exact) { print "  bisection misses the closed form"; bad = 1 }
        if (major >= 20) { print "  not converged within the major iteration limit"; bad = 1 }
        if (abs(residual(w)) > residue + slack) { print "  residual above the allowable residue"; bad = 1 }
        if (abs(w - exact) > 1.05 * residue / k) { print "  deflection outside the convergence tolerance"; bad = 1 }
        if (abs(ux) > residue || abs(uy) > residue) { print "  the centre moved sideways"; bad = 1 }
        if (corners != 4 || abs(rz + 4 * p * L^2) > residue + slack) { print "  corner reactions do not balance the pressure"; bad = 1 }
        exit bad
      }' "$d/output.txt" || fail=1
  done
done
[ $fail -eq 0 ] && echo "both laws at both pressures on their exact equilibrium"
exit $fail
