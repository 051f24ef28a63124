#!/usr/bin/env bash
# A full disk through every program that writes result files: on a small
# tmpfs that holds the inputs and the files of an earlier run, filled so
# that every new file but the last fits (and half of the last), a run must
# fail with status 1 and "No space left on device" naming a result file,
# and leave every earlier file as it was, with no temporary file beside
# them.
# See docs/decisions.md, 'The result files of a run are replaced together'.
#   full_disk.sh BUILD_PROGRAMS_DIR [VELORAMESH GMSH_EXAMPLES_DIR]
# The tmpfs is mounted in a mount namespace of the test's own (unshare),
# which goes with it; where none can be made (no root, no user namespaces)
# the test says so and exits 77, which CTest reports as skipped.
set -u
if [ -z "${FULL_DISK_NAMESPACE:-}" ]; then
  if unshare --mount --map-root-user true 2>/dev/null; then
    FULL_DISK_NAMESPACE=1 exec unshare --mount --map-root-user bash "$0" "$@"
  fi
  echo "skipped: no mount namespace can be made here (unshare --mount --map-root-user), so no small disk to fill"
  exit 77
fi
bin=$(realpath "$1")
vm=${2:+$(realpath "$2")}
examples=${3:+$(realpath "$3")}
scratch=$(mktemp -d)
trap 'umount "$scratch/disk" 2>/dev/null; rm -rf "$scratch"' EXIT
disk=$scratch/disk
mkdir -p "$disk"
if ! mount -t tmpfs -o size=2m tmpfs "$disk" 2>"$scratch/mount.txt"; then
  echo "skipped: no tmpfs can be mounted here: $(cat "$scratch/mount.txt")"
  exit 77
fi
page=$(getconf PAGESIZE)
pages() { echo $((($(stat -c %s "$1") + page - 1) / page)); }
failures=0
count=0

# The inputs of every case and the new files each program writes, made on
# an ordinary disk, a folder for each program.
fresh=$scratch/fresh
mkdir -p "$fresh/square" "$fresh/solve" "$fresh/circle" "$fresh/mesh"
printf ':\n 10 1.0\n:\n 1000.0 0.3\n:\n 1.0\n' >"$fresh/square/square.txt"
printf ':\n 8 1.0\n:\n 1000.0 0.3\n:\n 0.448\n' >"$fresh/circle/circle.txt"
(cd "$fresh/square" && "$bin/square") && cp "$fresh/square/input.txt" "$fresh/solve" &&
  (cd "$fresh/solve" && "$bin/velora1" >/dev/null && "$bin/veloraview") && (cd "$fresh/circle" && "$bin/circle") ||
  { echo "the inputs of the cases cannot be made"; exit 1; }
if [ -n "$vm" ]; then
  cp "$examples/circle_41.msh" "$fresh/mesh/circle.msh"
  (cd "$fresh/mesh" && "$vm" --fix rim=xyz circle.msh) || { echo "veloramesh cannot build the circle's model"; exit 1; }
fi

# full NAME INPUTS NEW_FILES [COMMAND...]: INPUTS copied from the fresh
# folder (paths below it), then the files of an earlier run, of the names
# of NEW_FILES, the new texts in the fresh folder in the order the program
# writes them.
full() {
  local name=$1 inputs=$2 new=$3 f
  shift 3
  rm -rf "${disk:?}"/*
  local dir=$disk/$name
  mkdir -p "$dir"
  for f in $inputs; do cp "$fresh/$f" "$dir"; done
  local results=""
  for f in $new; do results="$results ${f##*/}"; done
  for f in $results; do echo "earlier $f" >"$dir/$f"; done
  # Room for every new file but the last, and for half of the last.
  local keep=0 last=0
  for f in $new; do
    last=$(pages "$fresh/$f")
    keep=$((keep + last))
  done
  keep=$((keep - last + last / 2))
  cat /dev/zero >"$disk/fill" 2>/dev/null
  truncate -s $(($(stat -c %s "$disk/fill") / page * page - keep * page)) "$disk/fill"
  (cd "$dir" && timeout 60 "$@" >"$scratch/$name.out" 2>"$scratch/$name.err")
  local status=$? fail=0
  count=$((count + 1))
  [ "$status" -eq 1 ] || { echo "$name: exit status $status, expected 1"; fail=1; }
  grep -qE '^raised FILE_ERROR : cannot write "[a-z.]+": No space left on device$' "$scratch/$name.err" ||
    { echo "$name: standard error was: $(cat "$scratch/$name.err")"; fail=1; }
  for f in $results; do
    [ "$(cat "$dir/$f")" = "earlier $f" ] || { echo "$name: $f was changed"; fail=1; }
  done
  local left want
  left=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
  want=$(for f in $inputs $results; do echo "${f##*/}"; done | sort -u | tr '\n' ' ')
  [ "$left" = "$want" ] || { echo "$name: files left: $left"; fail=1; }
  [ $fail -eq 0 ] || failures=$((failures + 1))
}

full velora1 solve/input.txt "solve/autocad.scr solve/output.txt" "$bin/velora1"
full velora2_newton solve/input.txt "solve/autocad.scr solve/output.txt" "$bin/velora2" --method newton
full square square/square.txt "square/input.txt square/autocad.scr square/ansys.txt" "$bin/square"
full circle circle/circle.txt circle/input.txt "$bin/circle"
full veloraview "solve/input.txt solve/output.txt" "solve/result.vtu solve/result.svg" "$bin/veloraview"
if [ -n "$vm" ]; then
  full veloramesh mesh/circle.msh mesh/input.txt "$vm" --fix rim=xyz circle.msh
fi

echo "$count cases, $failures failed"
[ $failures -eq 0 ]
