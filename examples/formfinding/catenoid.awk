# The catenoid of formed.txt between rings at z = -H/2 and H/2: its neck
# radius (the smallest distance of a node from the Z axis), its area (the
# sum of its triangles) and, from the output.txt of a solver run on it, the
# axial force on the lower ring (its reactions along Z).
#   awk -f catenoid.awk formed.txt output.txt
FNR == 1 { file++ }
file == 1 && /^:/ { section++; next }
file == 1 && section == 3 && NF == 4 && $1 ~ /^[0-9]+$/ { x[$1] = $2; y[$1] = $3; z[$1] = $4; if ($4 < zmin) zmin = $4 }
file == 1 && section == 4 && NF == 4 && $1 ~ /^[0-9]+$/ { a[++ne] = $2; b[ne] = $3; c[ne] = $4 }
file == 2 && /Force X/ { forces = 1; next }
file == 2 && forces && /^ *[0-9]+ / { fz = substr($0, 51, 15); if (z[$1 + 0] == zmin) ring += fz }
END {
  neck = 1e300
  for (p in x) { r = sqrt(x[p] ^ 2 + y[p] ^ 2); if (r < neck) neck = r }
  for (e = 1; e <= ne; e++) {
    ux = x[b[e]] - x[a[e]]; uy = y[b[e]] - y[a[e]]; uz = z[b[e]] - z[a[e]]
    vx = x[c[e]] - x[a[e]]; vy = y[c[e]] - y[a[e]]; vz = z[c[e]] - z[a[e]]
    area += 0.5 * sqrt((uy * vz - uz * vy) ^ 2 + (uz * vx - ux * vz) ^ 2 + (ux * vy - uy * vx) ^ 2)
  }
  printf "%.6f %.6f %.6f\n", neck, area, (ring < 0 ? -ring : ring)
}
