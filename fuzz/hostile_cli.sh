#!/usr/bin/env bash
# Hostile input files through the real programs, each in a scratch folder
# that holds the files of an earlier run. A refused file must give exactly
# one failure report on standard error, exit status 1, nothing on standard
# output, and leave the earlier files as they were; an accepted one must
# solve with status 0.
#   hostile_cli.sh VELORA1 VELORA2 SQUARE
set -u
shopt -s lastpipe  # the checks below run at the end of pipelines and count failures
velora1=$(realpath "$1")
velora2=$(realpath "$2")
square=$(realpath "$3")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
count=0

# refused NAME PROGRAM FILE EXPECTED_REPORT [ARGUMENTS...]: FILE's content
# on stdin, the program run with the arguments.
refused() {
  local name=$1 program=$2 file=$3 report=$4
  shift 4
  local dir=$scratch/$name
  mkdir -p "$dir"
  cat >"$dir/$file"
  local earlier
  if [ "$file" = square.txt ]; then earlier="input.txt autocad.scr ansys.txt"; else earlier="output.txt autocad.scr"; fi
  for f in $earlier; do echo "earlier $f" >"$dir/$f"; done
  # A hang is a failure of its own, long before CTest's timeout.
  (cd "$dir" && timeout 60 "$program" "$@" >stdout.txt 2>stderr.txt)
  local status=$? fail=0
  count=$((count + 1))
  [ "$status" -eq 124 ] && echo "$name: did not end within 60 s"
  [ "$status" -eq 1 ] || { echo "$name: exit status $status, expected 1"; fail=1; }
  if [ "$(cat "$dir/stderr.txt"; echo x)" != "$(printf '\nraised %s\n' "$report"; echo x)" ]; then
    echo "$name: standard error was:"; cat -A "$dir/stderr.txt" | cut -c1-300
    echo "$name: expected:"; printf '\nraised %s\n' "$report"
    fail=1
  fi
  [ -s "$dir/stdout.txt" ] && { echo "$name: unexpected standard output"; fail=1; }
  for f in $earlier; do
    [ "$(cat "$dir/$f")" = "earlier $f" ] || { echo "$name: $f was changed"; fail=1; }
  done
  local left
  left=$(cd "$dir" && ls | sort | tr '\n' ' ')
  local want
  want=$(printf '%s\n' $earlier "$file" stderr.txt stdout.txt | sort | tr '\n' ' ')
  [ "$left" = "$want" ] || { echo "$name: files left: $left"; fail=1; }
  [ $fail -eq 0 ] || failures=$((failures + 1))
}

# solved NAME PROGRAM: input.txt on stdin; status 0, both result files.
solved() {
  local name=$1 program=$2
  local dir=$scratch/$name
  mkdir -p "$dir"
  cat >"$dir/input.txt"
  (cd "$dir" && "$program" >stdout.txt 2>stderr.txt)
  local status=$? fail=0
  count=$((count + 1))
  [ "$status" -eq 0 ] || { echo "$name: exit status $status"; cat "$dir/stderr.txt"; fail=1; }
  [ -s "$dir/output.txt" ] && [ -s "$dir/autocad.scr" ] || { echo "$name: result files missing"; fail=1; }
  [ $fail -eq 0 ] || failures=$((failures + 1))
}

# A model of three nodes and one element; $1 the parameters record, $2 the
# material record, $3 the constraints section's content, $4 the loads
# section's, $5 the pressures section's.
model() {
  printf ':\n%s\n:\n%s\n:\n    3\n\n 1 0 0 0\n 2 1 0 0\n 3 0 1 0\n:\n    1\n\n 1 1 2 3\n:\n%b:\n%b:\n%b' \
    "$1" "$2" "$3" "$4" "$5"
}
P=' 0.1 20 0.001 0.0 120 3 20'
M=' 1000 0.3 0'
FIXED='    6\n\n 1 1 0\n 1 2 0\n 1 3 0\n 2 2 0\n 2 3 0\n 3 3 0\n'
LOAD='    1\n\n 2 1 1.0\n'
NONE='    0\n'

model "$P" ' 1.0E400 0.3 0' "$FIXED" "$LOAD" "$NONE" | refused overflow "$velora1" input.txt \
  'DATA_ERROR : input.txt:4: the real number "1.0E400" (young of the material record) is too large for a double'
model "$P" ' nan 0.3 0' "$FIXED" "$LOAD" "$NONE" | refused nan "$velora1" input.txt \
  'DATA_ERROR : input.txt:4: expected a real number (young of the material record), found "nan"'
model "$P" ' 1000 0.3 -inf' "$FIXED" "$LOAD" "$NONE" | refused inf "$velora2" input.txt \
  'DATA_ERROR : input.txt:4: expected a real number (density of the material record), found "-inf"'
model "$P" ' 1000 0.3o 0' "$FIXED" "$LOAD" "$NONE" | refused run_into_letter "$velora1" input.txt \
  'DATA_ERROR : input.txt:4: expected a real number (poisson of the material record), found "0.3o": the number runs into other text'
model "$P" "$(printf ' 1000 0.3 \001')" "$FIXED" "$LOAD" "$NONE" | tr '\001' '\000' | refused nul_byte "$velora1" input.txt \
  'DATA_ERROR : input.txt:4: expected a real number (density of the material record), found "\x00"'
printf '   \n\t\n   ' | refused only_blanks "$velora1" input.txt \
  "END_ERROR : input.txt:3: the file ends before the marker line (a line beginning with ':') of the parameters section"
model "$P" "$M" ' 2147483647\n\n 1 3 0\n' "$LOAD" "$NONE" | refused huge_count "$velora1" input.txt \
  'END_ERROR : input.txt:16: the constraints section announces 2147483647 records, but the rest of the file (35 characters) cannot hold them'
model "$P" "$M" "$FIXED" '    2\n\n 2 1 1.0\n' "$NONE" | refused records_missing "$velora1" input.txt \
  'DATA_ERROR : input.txt:28: expected an integer (node number of load record 2), found ":"'
model "$P" "$M" "$FIXED" "$LOAD" "$NONE" | sed 's/^ 1 1 2 3$/ 1 1 3 3/' | refused node_twice "$velora1" input.txt \
  'DATA_ERROR : input.txt:14: element 1 (nodes 1, 3, 3) is degenerate: side 1 has length zero'
# Coordinates whose squares the doubles cannot hold, either way, for both
# laws: the element's record and the unit that helps, before any iteration.
scaled() { model "$P" "$M" "$FIXED" "$LOAD" "$NONE" | sed "s/^ 2 1 0 0\$/ 2 $1 0 0/; s/^ 3 0 1 0\$/ 3 0 $1 0/"; }
SIDE='DATA_ERROR : input.txt:14: element 1 (nodes 1, 2, 3) is degenerate: side 1 has length about'
scaled 1E300 | refused coordinates_1e300 "$velora1" input.txt \
  "$SIDE 1E+300, whose square is beyond the range of double precision; give the coordinates in a larger unit of length"
scaled 1E-200 | refused coordinates_1e-200 "$velora2" input.txt \
  "$SIDE 1E-200, whose square is below the range of double precision; give the coordinates in a smaller unit of length"

# No minimum: a pressure on a model without supports is refused before the
# first major iteration (nothing holds it along Z, and the pressure adds up
# to a force along Z). The worst case found for the minimiser: a loaded node
# that no element holds (its gradient stays finite, so the minimiser's
# convergence test never stops a NaN state) with every iteration limit at
# its largest; it ends in the first major iteration, in about a thousand
# evaluations, the line search's doublings up to overflow.
UNHELD='DATA_ERROR : no equilibrium: no node is held along Z, but the loads along Z add up to 2.5 (the membrane would move away without limit); add supports; no results written'
DIVERGED='DATA_ERROR : the solution diverged in major iteration 1: the energy or a displacement is no longer finite (the energy may have no minimum because the model lacks supports, or the allowable residue is below what double precision resolves); no results written'
model "$P" "$M" "$NONE" "$NONE" '    1\n\n 1 5.0\n' | refused pressure_without_supports "$velora1" input.txt "$UNHELD"
worst() {
  printf ':\n 0.1 2147483647 0.001 0.0 2147483647 2147483647 2147483647\n:\n 1000 0.3 0\n'
  printf ':\n    4\n\n 1 0 0 0\n 2 1 0 0\n 3 0 1 0\n 4 5 5 5\n:\n    1\n\n 1 1 2 3\n'
  printf ':\n    9\n\n 1 1 0\n 1 2 0\n 1 3 0\n 2 1 0\n 2 2 0\n 2 3 0\n 3 1 0\n 3 2 0\n 3 3 0\n'
  printf ':\n    1\n\n 4 3 -1.0\n:\n    0\n'
}
worst | refused unbounded_worst_case_velora1 "$velora1" input.txt "$DIVERGED"
worst | refused unbounded_worst_case_velora2 "$velora2" input.txt "$DIVERGED"

# No equilibrium the doubles can hold, for both methods and both laws: four
# triangles around a centre node, the corners held on all axes, young $1 and
# every pressure $2. Under 1e300 the default method's line search
# overflows and the second-order method finds no shift that gives it a
# step; under 1e307 with young 1e295 its steps run the energy to the end of
# the doubles. A sheet of young 1e-300 under pressure 1 is too soft for any
# shift up to the ceiling (the second-order method wrote its start as the
# result); the default method diverges with the engineering strain and finds
# the equilibrium about 1e100 away with the Green strain.
four() {
  printf ':\n%s\n:\n %s 0.3 0\n:\n    5\n\n 1 0 0 0\n 2 1 0 0\n 3 1 1 0\n 4 0 1 0\n 5 0.5 0.5 0\n' "$P" "$1"
  printf ':\n    4\n\n 1 1 2 5\n 2 2 3 5\n 3 3 4 5\n 4 4 1 5\n:\n   12\n\n'
  printf ' %s 0\n' '1 1' '1 2' '1 3' '2 1' '2 2' '2 3' '3 1' '3 2' '3 3' '4 1' '4 2' '4 3'
  printf ':\n    0\n:\n    4\n\n 1 %s\n 2 %s\n 3 %s\n 4 %s\n' "$2" "$2" "$2" "$2"
}
STALLED='DATA_ERROR : the solution diverged in major iteration 1: no shift of the tangent up to 1e+12 gives the second-order method a step that lowers the energy (the energy may have no minimum, or the model'"'"'s stiffness or the allowable residue is below what double precision resolves); no results written'
EDGE='DATA_ERROR : the solution diverged in major iteration 1: the energy has reached -1.79769e+308, the end of the range of double precision (the energy may have no minimum because the model lacks supports, or its loads are beyond what double precision resolves); no results written'
for law in 1 2; do
  program=$velora1
  [ $law = 2 ] && program=$velora2
  four 1000 1e300 | refused "pressure_1e300_velora${law}" "$program" input.txt "$DIVERGED"
  four 1000 1e300 | refused "pressure_1e300_velora${law}_newton" "$program" input.txt "$STALLED" --method newton
  four 1e295 1e307 | refused "end_of_doubles_velora${law}" "$program" input.txt "$DIVERGED"
  four 1e295 1e307 | refused "end_of_doubles_velora${law}_newton" "$program" input.txt "$EDGE" --method newton
  four 1e-300 1 | refused "young_1e-300_velora${law}_newton" "$program" input.txt "$STALLED" --method newton
done
four 1e-300 1 | refused young_1e-300_velora2 "$velora2" input.txt "$DIVERGED"
four 1e-300 1 | solved young_1e-300_velora1 "$velora1"

# Accepted: a line of ten million characters as a label, records over
# several lines, one node and no elements, every component constrained.
{ head -c 10000000 /dev/zero | tr '\0' 'x'; echo; model "$P" "$M" "$FIXED" "$LOAD" "$NONE"; } | solved long_label "$velora1"
model "$P" "$(printf ' 1000\n\n 0.3\n 0')" "$FIXED" "$LOAD" "$NONE" | solved split_record "$velora1"
printf ':\n%s\n:\n%s\n:\n    1\n\n 1 0 0 0\n:\n    0\n\n:\n    0\n:\n    0\n:\n    0\n' "$P" "$M" | solved one_node "$velora1"
model "$P" "$M" '    9\n\n 1 1 0\n 1 2 0\n 1 3 0\n 2 1 0.1\n 2 2 0\n 2 3 0\n 3 1 0\n 3 2 0\n 3 3 0\n' "$NONE" "$NONE" |
  solved all_constrained "$velora2"

# The generator's parameters.
printf ':\n 10 1.0E400\n:\n 1.0E+05 0.3\n:\n 1.0\n' | refused square_overflow "$square" square.txt \
  'DATA_ERROR : square.txt:2: the real number "1.0E400" (halfside of the mesh record) is too large for a double'
printf ':\n 10 1.0\n:\n inf 0.3\n:\n 1.0\n' | refused square_inf "$square" square.txt \
  'DATA_ERROR : square.txt:4: expected a real number (young of the material record), found "inf"'
printf ':\n 10x 1.0\n:\n 1.0E+05 0.3\n:\n 1.0\n' | refused square_run_into_letter "$square" square.txt \
  'DATA_ERROR : square.txt:2: expected an integer (ndiv of the mesh record), found "10x": the number runs into other text'
printf ':\n 10 1.0\n:\n 1.0E+05 0.3\n:\n \0\n' | refused square_nul_byte "$square" square.txt \
  'DATA_ERROR : square.txt:6: expected a real number (pressure of the pressure record), found "\x00"'
printf ' \n\n \t ' | refused square_only_blanks "$square" square.txt \
  "END_ERROR : square.txt:3: the file ends before the marker line (a line beginning with ':') of the mesh section"
printf ':\n -4 1.0\n:\n 1.0E+05 0.3\n:\n 1.0\n' | refused square_negative "$square" square.txt \
  'DATA_ERROR : square.txt:2: ndiv is -4; the number of divisions per side must be at least 1'
printf ':\n 99999999999 1.0\n:\n 1.0E+05 0.3\n:\n 1.0\n' | refused square_huge "$square" square.txt \
  'DATA_ERROR : square.txt:2: the integer "99999999999" (ndiv of the mesh record) is outside the range -2147483648..2147483647'
printf ':\n 10 1.0\n:\n 1.0E+05 0.3\n:\n' | refused square_no_pressure "$square" square.txt \
  'END_ERROR : square.txt:6: the file ends where a real number (pressure of the pressure record) was expected'

# A gas chamber whose elements' normals point into the gas: refused before
# any step, naming the file and the chamber.
octant=$(dirname "$0")/../tests/testdata/gas/octant_n2.txt
awk '/^element nodes$/ {e = NR} e && NR > e + 3 && NF == 4 {t = $3; $3 = $4; $4 = t} NF == 0 && NR > e + 3 {e = 0} {print}' \
  "$octant" | refused chamber_inside_out "$velora1" input.txt \
  'DATA_ERROR : input.txt: chamber 1 encloses a volume of -0.367851 at the reference shape; expected a positive one: the normals (P2 - P1) x (P3 - P1) of its elements point out of the gas, its closing planes pass through its origin, and a chamber that is flat there is given its reference volume'

echo "$count cases, $failures failed"
[ $failures -eq 0 ]
