# The coordinates, in the second file, of the node that stands at (X, Y) in the first.
#   awk -v x=0.5 -v y=0.5 -f node_at.awk input.txt formed.txt
FNR == 1 { file++; s = 0 }
/^:/ { s++; next }
s == 3 && NF == 4 && $1 ~ /^[0-9]+$/ {
  if (file == 1 && ($2 - x) ^ 2 + ($3 - y) ^ 2 < 1e-12) p = $1
  if (file == 2 && $1 == p) printf "%.6f %.6f %.6f\n", $2, $3, $4
}
