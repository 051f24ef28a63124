#!/usr/bin/env bash
# The examples' .geo files meshed by the gmsh program at test time, in MSH
# 4.1 and 2.2, read by veloramesh. Both give one model file; with the Gmsh
# that meshed the shipped files (4.8.4) it is also the model file of the
# shipped meshes. Skipped (status 77) without the gmsh program.
#   from_geo.sh VELORAMESH EXAMPLES_DIR GMSH
set -u
vm=$1
examples=$2
gmsh=${3:-}
if [ -z "$gmsh" ] || ! [ -x "$gmsh" ]; then
  echo "the gmsh program is missing: install the Debian package gmsh to mesh the examples at test time"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
version=$("$gmsh" --version 2>&1 | tail -1)
fail=0
for m in circle:membrane:rim saddle:roof:edge lshape:sheet:edge; do
  IFS=: read -r name surface edge <<<"$m"
  args=(--fix "$edge=xyz" --pressure "$surface=1" --orient +z)
  "$gmsh" -2 -format msh41 "$examples/$name.geo" -o "$name.41.msh" >/dev/null 2>&1 &&
    "$gmsh" -2 -format msh22 -bin "$examples/$name.geo" -o "$name.22.msh" >/dev/null 2>&1 ||
    { echo "gmsh cannot mesh $name.geo"; fail=1; continue; }
  "$vm" "$name.41.msh" "${args[@]}" --output "$name.41.txt" &&
    "$vm" "$name.22.msh" "${args[@]}" --output "$name.22.txt" || { echo "$name: veloramesh failed"; fail=1; continue; }
  cmp -s "$name.41.txt" "$name.22.txt" || { echo "$name: MSH 4.1 and 2.2 give different model files"; fail=1; }
  "$vm" "$examples/${name}_41.msh" "${args[@]}" --output "$name.shipped.txt"
  if cmp -s "$name.41.txt" "$name.shipped.txt"; then
    echo "$name: the mesh made now gives the model file of the shipped mesh"
  elif [ "$version" = "4.8.4" ]; then
    echo "$name: Gmsh $version meshes differently from the shipped mesh"
    fail=1
  else
    echo "$name: Gmsh $version meshes differently from 4.8.4 (accepted)"
  fi
done
exit $fail
