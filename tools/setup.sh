#!/usr/bin/env bash
# Installs the Debian packages that velora needs, when they are missing.
#
#   tools/setup.sh          what the build needs
#   tools/setup.sh --test   also what the optional checks of the test suite
#                           use (fuzzing, VTK's reader, a headless browser,
#                           the gmsh program)
#
# Runs apt-get directly as root, through sudo when sudo works without a
# password, and otherwise prints the command to run and fails (only when a
# package the build needs is missing; a missing optional tool only skips
# the checks that use it).
set -euo pipefail

# The build: compiler, CMake, GoogleTest, Google Benchmark, CLI11 (command
# line), SuiteSparse's CHOLMOD with OpenBLAS (the sparse Cholesky of the
# second-order method), Gmsh's library (mesh import), and pybind11 with
# Python's headers and numpy (the Python module).
build=(g++ cmake libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libsuitesparse-dev libopenblas-dev
       libgmsh-dev pkg-config dpkg-dev file pybind11-dev python3-dev python3-numpy)
# Optional checks: libFuzzer (clang), VTK's Python reader, a headless
# browser, the gmsh program that meshes the examples' .geo files, and
# CalculiX, which solves the L-shaped example for comparison and the squares
# of bench/ (with scipy, which bench/'s scripts use); pytest, meshio and
# matplotlib for the Python module's tests and its example.
optional=(clang libclang-rt-14-dev python3-vtk9 chromium gmsh calculix-ccx python3-scipy python3-pytest
          python3-meshio python3-matplotlib)

want=("${build[@]}")
[ "${1:-}" = "--test" ] && want+=("${optional[@]}")

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  apt=(apt-get)
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  apt=(sudo -n apt-get)
else
  echo "velora needs these Debian packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  for p in "${missing[@]}"; do
    for b in "${build[@]}"; do [ "$p" = "$b" ] && exit 1; done
  done
  exit 0
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${apt[@]}" update -qq
if ! "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  # One unavailable optional package must not stop the others.
  for p in "${missing[@]}"; do "${apt[@]}" install -y -qq --no-install-recommends "$p" >/dev/null || true; done
  for p in "${build[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || {
      echo "could not install $p, which the build needs" >&2
      exit 1
    }
  done
fi
