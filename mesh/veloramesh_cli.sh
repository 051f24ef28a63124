#!/usr/bin/env bash
# veloramesh as a program: usage errors (status 2, one line naming the
# option, then the usage line), failure reports (status 1, no file
# written, an earlier file untouched), help, version, -C and --output, and
# one model file from all four formats of each shipped mesh.
#   veloramesh_cli.sh VELORAMESH EXAMPLES_DIR
set -u
vm=$1
examples=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# expect STATUS PATTERN ARGS...: run, check the status and that stderr
# (or stdout, for help and version) matches the pattern.
expect() {
  local status=$1 pattern=$2
  shift 2
  "$vm" "$@" >out.txt 2>err.txt
  local got=$?
  [ "$got" -eq "$status" ] || bad "veloramesh $*: status $got, expected $status"
  grep -q -- "$pattern" out.txt err.txt || bad "veloramesh $*: no \"$pattern\" in: $(cat out.txt err.txt)"
}

circle=$examples/circle_41.msh
# Usage errors, as every program reports them (tests/cli.sh): status 2,
# one line naming the option, the usage line, nothing written.
echo "earlier" >input.txt
usage() {
  local named=$1
  shift
  expect 2 "^veloramesh: .*$named" "$@"
  [ "$(wc -l <err.txt)" -eq 2 ] || bad "veloramesh $*: a usage error takes more than two lines: $(cat err.txt)"
  [ "$(sed -n 2p err.txt)" = "Usage: veloramesh [OPTIONS] MESH" ] || bad "veloramesh $*: usage line $(sed -n 2p err.txt)"
  [ -s out.txt ] && bad "veloramesh $*: stdout not empty"
  [ "$(cat input.txt)" = "earlier" ] || bad "veloramesh $*: a usage error changed input.txt"
}
usage "MESH is required" --fix rim=xyz
usage "MESH is required"
usage "not expected: --bogus" "$circle" --bogus
usage "--output" "$circle" --output
usage "not expected: extra.msh" "$circle" extra.msh
usage "-C" "$circle" -C
usage "-C: Directory does not exist: no/such/dir" "$circle" -C no/such/dir
# Help and version, as every program gives them.
for option in --help -h; do
  expect 0 "--pressure GROUP=P" "$option"
  for part in "Usage: veloramesh [OPTIONS] MESH" "Reads (in the working directory):" "Writes (in the working directory):" \
              "-h,--help" "--version" "-C DIR" "Exit status: 0 success; 1 failure"; do
    grep -qF -- "$part" out.txt || bad "--help lacks \"$part\""
  done
done
# --version: the first line as every program prints it, the compiler, then
# Gmsh's version.
expect 0 "^gmsh: [0-9]" --version
head -1 out.txt | grep -q "^veloramesh (velora) [0-9][0-9.]*$" || bad "--version starts with: $(head -1 out.txt)"
grep -q '^compiler: ' out.txt || bad "--version has no compiler line"

# Failure reports: status 1, "raised", the option or file; nothing written.
expect 1 "raised DATA_ERROR : --fix rim=xq: axis 'q' is not x, y or z" "$circle" --fix rim=xq
expect 1 "raised DATA_ERROR : --young: \"ten\" is not a number" "$circle" --young ten
expect 1 "raised DATA_ERROR : --pressure rim=1: group \"rim\" of .* holds curves" "$circle" --pressure rim=1
expect 1 "raised DATA_ERROR : --fix edge=xyz: .* has no physical group \"edge\"" "$circle" --fix edge=xyz
expect 1 "raised DATA_ERROR : --load centre=z:1: node 1 (Gmsh node 1) is also held along z" \
  "$circle" --fix centre=z --load centre=z:1
expect 1 "raised DATA_ERROR : --param maxiter=3: unknown parameter" "$circle" --param maxiter=3
expect 1 "raised DATA_ERROR : --prestress membrane=1,2: expected GROUP=N1,N2:X,Y,Z" "$circle" --prestress membrane=1,2
expect 1 "raised FILE_ERROR : cannot open \"nothing.msh\" for reading" nothing.msh
[ "$(cat input.txt)" = "earlier" ] || bad "a failed run changed input.txt"
[ -z "$(ls ./*.part 2>/dev/null)" ] || bad "a failed run left a temporary file"
# A value that does not parse fails before the mesh is read.
expect 1 "--poisson: \"0.3.1\" is not a number" nothing.msh --poisson 0.3.1

# The same model file from every format of every mesh.
for m in circle:membrane:rim saddle:roof:edge lshape:sheet:edge; do
  IFS=: read -r name surface edge <<<"$m"
  for v in 41 41_bin 22 22_bin; do
    "$vm" "$examples/${name}_$v.msh" --fix "$edge=xyz" --pressure "$surface=1.5" --orient +z \
      --output "$name.$v.txt" || bad "$name $v: status $?"
  done
  for v in 41_bin 22 22_bin; do
    cmp -s "$name.41.txt" "$name.$v.txt" || bad "$name: MSH $v gives another model file than MSH 4.1"
  done
done

# -C: the mesh and the output are taken relative to the directory.
mkdir sub
cp "$circle" sub/c.msh
"$vm" c.msh -C sub --fix rim=xyz --output m.txt || bad "-C: status $?"
"$vm" "$circle" --fix rim=xyz --output m.txt
cmp -s sub/m.txt m.txt || bad "-C gives another file"
# The defaults: 30 minor iterations per node, those of `square` otherwise.
head -3 sub/m.txt | tail -1 | grep -q '^ 1.000000E-01        20      1.000000E-03      0.000000E+00      8580         3        20$' ||
  bad "parameter defaults: $(head -3 sub/m.txt | tail -1)"
# --param takes what the solvers take from the model file, maxmajor 0 too.
"$vm" "$circle" --fix rim=xyz --param maxmajor=0 --param lstol=2 --param maxminor=0 --output p.txt ||
  bad "--param maxmajor=0: status $?"
sed -n 3p p.txt | grep -q '^ 2.000000E+00        20      1.000000E-03      0.000000E+00         0         3         0$' ||
  bad "--param values: $(sed -n 3p p.txt)"

# --prestress: a :prestress record the solvers read, one for the whole
# membrane, and the orthotropic form with its direction.
"$vm" "$circle" --fix rim=xyz --prestress membrane=2,1:1,0,0 --output s.txt || bad "--prestress: status $?"
tail -1 s.txt | grep -q '^    1       518      2.000000E+00      1.000000E+00      1.000000E+00      0.000000E+00      0.000000E+00$' ||
  bad "--prestress record: $(tail -1 s.txt)"

[ $fail -eq 0 ] && echo "veloramesh: usage errors, failure reports and formats as expected"
exit $fail
