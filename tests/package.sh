#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks it as a user would:
#   package.sh BUILD_DIR SOURCE_DIR
# its name (velora_<version>_amd64.deb), its control fields (the library
# dependencies found by dpkg-shlibdeps), its contents, and the shipped
# example solved with the programs unpacked from it, whose files must be the
# bytes the build folder's programs write.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

version=$(sed -n 's/^project(velora VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
deb=velora_${version}_amd64.deb
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
[ -f "$work/out/$deb" ] || { ls "$work/out"; bad "no $deb"; exit 1; }

control=$(dpkg-deb -f "$work/out/$deb")
grep -q "^Package: velora$" <<<"$control" || bad "package name"
grep -q "^Version: $version$" <<<"$control" || bad "version"
grep -q "^Architecture: amd64$" <<<"$control" || bad "architecture"
depends=$(dpkg-deb -f "$work/out/$deb" Depends)
for lib in libc6 libstdc++6 libgcc-s1 libcholmod3; do
  grep -q "$lib" <<<"$depends" || bad "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb -c "$work/out/$deb" | awk '{print $6}')
for f in ./usr/bin/velora1 ./usr/bin/velora2 ./usr/bin/square ./usr/bin/veloraview ./usr/bin/circle \
         ./usr/share/man/man1/velora1.1 ./usr/share/man/man1/velora2.1 ./usr/share/man/man1/square.1 \
         ./usr/share/man/man1/veloraview.1 ./usr/share/man/man1/circle.1 \
         ./usr/share/doc/velora/README.md ./usr/share/doc/velora/examples/square.txt \
         ./usr/include/velora/nlp/qn.h ./usr/share/cmake/velora/veloraConfig.cmake \
         ./usr/share/pkgconfig/velora.pc; do
  grep -qx "$f" <<<"$contents" || bad "package lacks $f"
done
# veloramesh and its page when the build has it (it needs Gmsh's library).
if [ -x "$build/programs/veloramesh" ]; then
  for f in ./usr/bin/veloramesh ./usr/share/man/man1/veloramesh.1; do
    grep -qx "$f" <<<"$contents" || bad "package lacks $f"
  done
fi
# The Python module when the build has it, importable from the package's
# folder without numpy's help for the import itself.
if ls "$build"/python/velora/_velora*.so >/dev/null 2>&1; then
  grep -qx ./usr/lib/python3/dist-packages/velora/__init__.py <<<"$contents" || bad "package lacks the Python module"
  grep -q '^./usr/lib/python3/dist-packages/velora/_velora.*\.so$' <<<"$contents" || bad "package lacks _velora"
  grep -q "python3-numpy" <<<"$(dpkg-deb -f "$work/out/$deb" Recommends)" || bad "Recommends lacks python3-numpy"
fi
# Nothing of the build or the tests is shipped.
grep -E '_test$|\.a$|/build/' <<<"$contents" && bad "package ships build or test files"

dpkg-deb -x "$work/out/$deb" "$work/root"
bin=$work/root/usr/bin
"$bin/velora1" --version | grep -q "^velora1 (velora) $version$" || bad "velora1 --version from the package"
if [ -x "$bin/veloramesh" ]; then
  "$bin/veloramesh" --version | grep -q "^veloramesh (velora) $version$" || bad "veloramesh --version from the package"
fi

# The shipped example with the packaged programs, and with the build's.
for side in package build; do
  mkdir "$work/$side"
  cp "$work/root/usr/share/doc/velora/examples/square.txt" "$work/$side/"
done
(cd "$work/package" && "$bin/square" && "$bin/velora1" && "$bin/veloraview") || bad "the packaged programs failed"
(cd "$work/build" && "$build/programs/square" && "$build/programs/velora1" && "$build/programs/veloraview") ||
  bad "the build's programs failed"
for f in input.txt autocad.scr ansys.txt output.txt result.vtu result.svg; do
  cmp -s "$work/package/$f" "$work/build/$f" || bad "$f differs between the package and the build"
done
# python3 is not instrumented: under the sanitizers it loads their runtime
# first (VELORA_PYTHON_PRELOAD, set by the sanitizer build's tests).
python3=(/usr/bin/python3)
if [ -n "${VELORA_PYTHON_PRELOAD:-}" ]; then
  python3=(env LD_PRELOAD="$VELORA_PYTHON_PRELOAD" ASAN_OPTIONS=detect_leaks=0 /usr/bin/python3)
fi
# The same model solved by the packaged module.
if [ -d "$work/root/usr/lib/python3/dist-packages/velora" ] && [ -x /usr/bin/python3 ]; then
  mkdir "$work/python"
  (cd "$work/python" && PYTHONPATH="$work/root/usr/lib/python3/dist-packages" "${python3[@]}" -c \
     'import velora; velora.solve(velora.Model.read("../package/input.txt")).write(".")') || bad "the packaged module failed"
  for f in output.txt autocad.scr; do
    cmp -s "$work/python/$f" "$work/build/$f" || bad "$f of the packaged module differs from velora1's"
  done
fi
head -6 "$work/package/output.txt"

[ $fail -eq 0 ] && echo "$deb: control, contents and the shipped example as expected"
exit $fail
