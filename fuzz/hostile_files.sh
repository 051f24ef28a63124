#!/usr/bin/env bash
# Hostile files through every program, each case in a scratch folder that
# holds the files of an earlier run: input files that are no regular files
# (a device that never ends, a FIFO nobody writes, a directory), damaged
# Gmsh meshes (a corrupt count, the other byte order, a file cut short) and
# meshes in extreme units. A refused file must give exactly one failure
# report on standard error naming the file (and the line or byte), exit
# status 1 within seconds, nothing on standard output, and leave the earlier
# files as they were with no temporary file beside them.
#   hostile_files.sh BUILD_PROGRAMS_DIR GMSH_EXAMPLES_DIR [VELORAMESH]
# Without VELORAMESH (Gmsh's library missing) the mesh cases are left out.
set -u
bin=$(realpath "$1")
examples=$(realpath "$2")
vm=${3:+$(realpath "$3")}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
count=0

# The files each program writes, which a failed run must leave alone.
results() {
  case $1 in
    velora1 | velora2) echo "autocad.scr output.txt" ;;
    square) echo "input.txt autocad.scr ansys.txt" ;;
    circle | veloramesh) echo "input.txt" ;;
    veloraview) echo "result.vtu result.svg" ;;
  esac
}

# refused NAME PROGRAM SETUP EXPECTED_REPORT [ARGUMENTS...]: SETUP (shell
# code) makes the inputs in the case's folder, after the earlier results.
refused() {
  local name=$1 program=$2 setup=$3 report=$4
  shift 4
  local dir=$scratch/$name f
  mkdir -p "$dir"
  for f in $(results "$program"); do echo "earlier $f" >"$dir/$f"; done
  (cd "$dir" && eval "$setup")
  local before
  before=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
  local exe=$bin/$program
  [ "$program" = veloramesh ] && exe=$vm
  (cd "$dir" && timeout 20 "$exe" "$@" >../"$name".out 2>../"$name".err)
  local status=$? fail=0
  count=$((count + 1))
  [ "$status" -eq 124 ] && echo "$name: did not end within 20 s"
  [ "$status" -eq 1 ] || { echo "$name: exit status $status, expected 1"; fail=1; }
  if [ "$(cat "$scratch/$name.err"; echo x)" != "$(printf '\nraised %s\n' "$report"; echo x)" ]; then
    echo "$name: standard error was:"; cut -c1-400 "$scratch/$name.err"
    echo "$name: expected:"; printf '\nraised %s\n' "$report"
    fail=1
  fi
  [ -s "$scratch/$name.out" ] && { echo "$name: unexpected standard output"; fail=1; }
  for f in $(results "$program"); do
    [ "$(cat "$dir/$f" 2>/dev/null)" = "earlier $f" ] || { echo "$name: $f was changed"; fail=1; }
  done
  [ "$(cd "$dir" && ls -A | sort | tr '\n' ' ')" = "$before" ] || { echo "$name: files left: $(ls -A "$dir")"; fail=1; }
  [ $fail -eq 0 ] || failures=$((failures + 1))
}

# A model for velora1 and veloraview: square's of 2 divisions.
model_dir=$scratch/model
mkdir -p "$model_dir"
printf ':\n 2 1.0\n:\n 1000.0 0.3\n:\n 1.0\n' >"$model_dir/square.txt"
(cd "$model_dir" && "$bin/square" && "$bin/velora1") || { echo "the model for the cases cannot be made"; exit 1; }

# Input files that are no regular files: refused at once, before anything
# is read or waited for. See docs/decisions.md, 'Input files are regular files'.
NOT_REGULAR='FILE_ERROR : cannot read "%s": it is %s, not a regular file'
report() { printf "$NOT_REGULAR" "$1" "$2"; }
refused velora1_zero velora1 'ln -s /dev/zero input.txt' "$(report input.txt 'a character device')"
refused velora1_fifo velora1 'mkfifo input.txt' "$(report input.txt 'a FIFO (named pipe)')"
refused velora2_directory velora2 'mkdir input.txt' "$(report input.txt 'a directory')"
refused velora2_fifo velora2 'mkfifo input.txt' "$(report input.txt 'a FIFO (named pipe)')" --method newton
refused square_fifo square 'mkfifo square.txt' "$(report square.txt 'a FIFO (named pipe)')"
refused square_zero square 'ln -s /dev/zero square.txt' "$(report square.txt 'a character device')"
refused circle_directory circle 'mkdir circle.txt' "$(report circle.txt 'a directory')"
refused circle_fifo circle 'mkfifo circle.txt' "$(report circle.txt 'a FIFO (named pipe)')"
refused veloraview_model_fifo veloraview "cp '$model_dir/output.txt' . && mkfifo input.txt" \
  "$(report input.txt 'a FIFO (named pipe)')"
refused veloraview_report_zero veloraview "cp '$model_dir/input.txt' . && ln -s /dev/zero output.txt" \
  "$(report output.txt 'a character device')"

if [ -n "$vm" ]; then
  refused mesh_zero veloramesh : "$(report /dev/zero 'a character device')" /dev/zero
  refused mesh_fifo veloramesh 'mkfifo mesh.msh' "$(report mesh.msh 'a FIFO (named pipe)')" mesh.msh
  refused mesh_directory veloramesh 'mkdir mesh.msh' "$(report mesh.msh 'a directory')" mesh.msh

  # Damaged meshes: the check before Gmsh names the file and the line or
  # byte. See docs/decisions.md, 'Mesh files are checked before Gmsh reads them'.
  c41=$examples/circle_41.msh
  c41b=$examples/circle_41_bin.msh
  c22b=$examples/circle_22_bin.msh
  refused mesh_other_byte_order veloramesh \
    "python3 -c 'import sys; d=open(sys.argv[1],\"rb\").read(); i=d.index(b\"4.1 1 8\\n\")+8; open(\"mesh.msh\",\"wb\").write(d[:i]+b\"\\0\\0\\0\\1\"+d[i+4:])' '$c41b'" \
    'DATA_ERROR : mesh.msh: byte 155: the $Entities section announces 360287970189639680 points, but the rest of the file (28024 bytes) cannot hold them (is the count corrupt, or the file cut short?)' \
    mesh.msh
  refused mesh_two_billion_nodes veloramesh \
    "sed 's/^10 286 1 286\$/10 2000000000 1 2000000000/' '$c41' >mesh.msh" \
    'DATA_ERROR : mesh.msh:24: the $Nodes section announces 2000000000 nodes, but the rest of the file (21565 bytes) cannot hold them (is the count corrupt, or the file cut short?)' \
    mesh.msh
  refused mesh_ascii41_cut veloramesh "head -c 20000 '$c41' >mesh.msh" \
    'DATA_ERROR : mesh.msh:1058: the file ends where a tag or node of element block 6 of 6 of the $Elements section was expected (is it cut short?)' \
    mesh.msh
  refused mesh_ascii41_cut_between_sections veloramesh "sed '/^\$Elements\$/,\$d' '$c41' >mesh.msh" \
    'DATA_ERROR : mesh.msh:608: the file ends without an $Elements section: a mesh file holds $Nodes and $Elements (is it cut short?)' \
    mesh.msh
  refused mesh_binary41_cut veloramesh "head -c 12000 '$c41b' >mesh.msh" \
    'DATA_ERROR : mesh.msh: byte 10205: the $Elements section announces 571 elements, but the rest of the file (1795 bytes) cannot hold them (is the count corrupt, or the file cut short?)' \
    mesh.msh
  refused mesh_binary22_cut veloramesh "head -c 20000 '$c22b' >mesh.msh" \
    'DATA_ERROR : mesh.msh: byte 19977: the block of element 335 of 571 announces 1 elements, but the rest of the file (23 bytes) cannot hold them (is the count corrupt, or the file cut short?)' \
    mesh.msh

  # Meshes in extreme units keep their nodes apart: the circle scaled by
  # 1e300 and 1e-300 and stretched to +-1e308 gives the circle's model,
  # triangles turned the same way.
  # See docs/decisions.md, 'Geometric tolerances in any unit'.
  scale() {
    awk -v f="$1" '/^\$EndNodes/ { n = 0 } n && NF == 4 { printf "%s %.17g %.17g %.17g\n", $1, $2 * f, $3 * f, $4 * f; next }
                   { print } /^\$Nodes/ { n = 1 }' "$examples/circle_22.msh"
  }
  # The model file without its nodes section (the third).
  elements() { awk '/^:/ { s++ } s != 3' "$1"; }
  dir=$scratch/units
  mkdir -p "$dir"
  scale 1 >"$dir/plain.msh"
  (cd "$dir" && "$vm" --orient +z --output plain.txt plain.msh) || { echo "units: the plain circle is refused"; failures=$((failures + 1)); }
  for f in 1e300 1e-300 1e308; do
    count=$((count + 1))
    scale "$f" >"$dir/scaled_$f.msh"
    if ! (cd "$dir" && "$vm" --orient +z --output "scaled_$f.txt" "scaled_$f.msh" 2>"err_$f.txt"); then
      echo "units: the circle scaled by $f is refused: $(cat "$dir/err_$f.txt")"
      failures=$((failures + 1))
    elif [ "$(elements "$dir/scaled_$f.txt")" != "$(elements "$dir/plain.txt")" ]; then
      echo "units: the circle scaled by $f gives another model than the circle"
      failures=$((failures + 1))
    fi
  done
fi

echo "$count cases, $failures failed"
[ $failures -eq 0 ]
