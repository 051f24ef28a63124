#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a user gets:
#   install.sh BUILD_DIR SOURCE_DIR
# the programs (run from the prefix; veloramesh when it was built), one man
# page per program (formatted by man without warnings), the docs, and the
# minimiser library as a CMake package and a pkg-config file, both used by
# the consumer project of tests/consumer to minimise the Rosenbrock function.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail=0
bad() { echo "FAIL: $*"; fail=1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

programs=(velora1 velora2 veloraform square veloraview circle)
# veloramesh is built (and installed) only where Gmsh's library is found.
if [ -x "$build/programs/veloramesh" ]; then
  programs+=(veloramesh)
else
  if [ -e "$prefix/bin/veloramesh" ] || [ -e "$prefix/share/man/man1/veloramesh.1" ]; then
    bad "veloramesh or its man page installed by a build without it"
  fi
fi
for program in "${programs[@]}"; do
  [ -x "$prefix/bin/$program" ] || bad "bin/$program missing"
  [ -f "$prefix/share/man/man1/$program.1" ] || bad "man page of $program missing"
  "$prefix/bin/$program" --version | grep -q "^$program (velora) " || bad "$program --version from the prefix"
  # man resolves velora2's ".so man1/velora1.1" from the man folder.
  warnings=$(cd "$prefix/share/man" && LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "man1/$program.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || bad "man page of $program: $warnings"
  page=$(cd "$prefix/share/man" && LC_ALL=C.UTF-8 MANWIDTH=80 man -l "man1/$program.1" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES; do
    grep -q "^$section$" <<<"$page" || bad "man page of $program has no $section"
  done
  # Every option the program's --help lists is described under OPTIONS.
  options=$(awk '/^[A-Z]/ { in_options = ($0 == "OPTIONS") } in_options' <<<"$page")
  for option in $("$prefix/bin/$program" --help | grep -oE '^ +(-[A-Za-z],)?--?[A-Za-z][A-Za-z-]*' | tr ',' ' '); do
    grep -qE -- "(^|[^A-Za-z-])$option([^A-Za-z-]|$)" <<<"$options" || bad "man page of $program: no $option under OPTIONS"
  done
done
for doc in README.md VERIFICATION.md examples/square.txt examples/circle.txt docs/example.svg; do
  [ -f "$prefix/share/doc/velora/$doc" ] || bad "share/doc/velora/$doc missing"
done
for header in nlp/nlp.h nlp/qn.h terms/terms.h platform/failure.h; do
  [ -f "$prefix/include/velora/$header" ] || bad "include/velora/$header missing"
done
for f in veloraConfig.cmake veloraConfigVersion.cmake veloraTargets.cmake; do
  [ -f "$prefix/share/cmake/velora/$f" ] || bad "share/cmake/velora/$f missing"
done

# The shipped example, solved with the installed programs.
mkdir "$work/run"
cp "$prefix/share/doc/velora/examples/square.txt" "$work/run/"
(cd "$work/run" && "$prefix/bin/square" && "$prefix/bin/velora1" && "$prefix/bin/veloraview") || bad "example run"
for f in input.txt output.txt autocad.scr result.vtu result.svg; do
  [ -s "$work/run/$f" ] || bad "example run wrote no $f"
done

# python3 is not instrumented: under the sanitizers it loads their runtime
# first (VELORA_PYTHON_PRELOAD, set by the sanitizer build's tests).
python3=(/usr/bin/python3)
if [ -n "${VELORA_PYTHON_PRELOAD:-}" ]; then
  python3=(env LD_PRELOAD="$VELORA_PYTHON_PRELOAD" ASAN_OPTIONS=detect_leaks=0 /usr/bin/python3)
fi
# The Python module from the prefix, when the build has it.
if ls "$build"/python/velora/_velora*.so >/dev/null 2>&1; then
  PYTHONPATH="$prefix/lib/python3/dist-packages" "${python3[@]}" -c \
    'import velora, sys; sys.exit(0 if velora.__file__.startswith(sys.argv[1]) else 1)' "$prefix" ||
    bad "the Python module does not import from the prefix"
fi

# The consumer project through find_package(velora).
if cmake -S "$source/tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
     -DCMAKE_BUILD_TYPE=Release >"$work/consumer.log" 2>&1 &&
   cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1; then
  "$work/consumer/rosenbrock" || bad "the consumer did not find the minimum"
else
  cat "$work/consumer.log"
  bad "the consumer project does not build against the install"
fi
# A version the install cannot satisfy is refused.
mkdir "$work/newer"
cat >"$work/newer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(newer LANGUAGES CXX)
find_package(velora 99 REQUIRED)
CMAKE
cmake -S "$work/newer" -B "$work/newer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1 &&
  bad "find_package(velora 99) accepted version $(grep -o 'PACKAGE_VERSION "[^"]*"' "$prefix/share/cmake/velora/veloraConfigVersion.cmake")"

# The same program through pkg-config, from the relocated prefix.
flags=$(PKG_CONFIG_PATH="$prefix/share/pkgconfig" pkg-config --cflags velora) || bad "pkg-config knows no velora"
[ "$(PKG_CONFIG_PATH="$prefix/share/pkgconfig" pkg-config --modversion velora)" = "$(sed -n 's/^project(velora VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")" ] ||
  bad "pkg-config version differs from the project's"
# shellcheck disable=SC2086
if g++ -std=c++20 -O2 $flags "$source/tests/consumer/rosenbrock.cpp" -o "$work/rosenbrock_pc" 2>"$work/pc.log"; then
  "$work/rosenbrock_pc" >/dev/null || bad "the pkg-config build did not find the minimum"
else
  cat "$work/pc.log"
  bad "the consumer does not build with pkg-config's flags"
fi

[ $fail -eq 0 ] && echo "install complete: programs, man pages, docs, CMake package and pkg-config file"
exit $fail
