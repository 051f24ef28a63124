#!/usr/bin/env bash
# veloraform as a user runs it: the catenoid between two rings found and
# written to formed.txt (or --output), read back by velora1 in equilibrium;
# -C; usage errors (status 2, nothing written); the rings set too far apart
# (status 1, an earlier file untouched).
#   veloraform_cli.sh VELORAFORM VELORA1 TESTDATA_DIR
set -u
form=$1
solver=$2
data=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

cp "$data/catenoid.txt" input.txt
"$form" >out.txt 2>err.txt || bad "status $?: $(cat err.txt)"
grep -q '^veloraform: shape found in [0-9]* steps; largest residual force across the surface' out.txt ||
  bad "summary line: $(cat out.txt)"
[ -s formed.txt ] || bad "no formed.txt"
# Read back by the solver: the formed model, unloaded, stays where it is.
mkdir back && cp formed.txt back/input.txt
(cd back && "$solver") || bad "velora1 on formed.txt: status $?"
awk '/Displ X/ { on = 1; next } /Coord X/ { exit } on && NF == 4 {
       for (i = 2; i <= 4; i++) if ($i > 1e-6 || $i < -1e-6) { print "node " $1 " moves " $i; bad = 1 } }
     END { exit bad }' back/output.txt || bad "velora1 moves the formed catenoid"
# --output and -C.
mkdir sub && cp input.txt sub/
"$form" -C sub --output other.txt >/dev/null || bad "-C --output: status $?"
cmp -s formed.txt sub/other.txt || bad "-C --output gives another file"

# Usage errors: status 2, nothing written.
rm -f formed.txt
for args in "--method fast" "--tolerance -1" "--steps 0" "--stiffness 0" "--threads x" "--bogus"; do
  # shellcheck disable=SC2086
  "$form" $args >out.txt 2>err.txt
  status=$?
  [ $status -eq 2 ] || bad "$args: status $status, expected 2"
  [ -e formed.txt ] && bad "$args: formed.txt written"
done

# No catenoid joins rings this far apart: a failure, the earlier file stays.
cp "$data/catenoid_too_high.txt" input.txt
echo earlier >formed.txt
"$form" >out.txt 2>err.txt
status=$?
[ $status -eq 1 ] || bad "rings too far apart: status $status, expected 1"
grep -q "^raised DATA_ERROR : form finding step [0-9]*: .*no equilibrium shape between these supports" err.txt ||
  bad "rings too far apart: $(cat err.txt)"
[ "$(cat formed.txt)" = earlier ] || bad "a failed run changed formed.txt"
[ -z "$(ls ./*.part 2>/dev/null)" ] || bad "a failed run left a temporary file"

[ $fail -eq 0 ] && echo "veloraform: the catenoid found and read back, usage errors and failures as expected"
exit $fail
