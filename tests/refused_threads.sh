#!/usr/bin/env bash
# A solver whose worker threads cannot start (every pthread_create fails, as
# in a container at its task limit) still solves, on the calling thread, and
# writes the same bytes as a run with its threads.
#   refused_threads.sh SOLVER SQUARE PRELOAD
set -u
solver=$1
square=$2
preload=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/threads" "$dir/refused"
# 64 divisions: 16,384 elements, the fewest that run in parallel.
printf ':\n64 1.0\n:\n1000.0 0.3\n:\n0.01\n' >"$dir/threads/square.txt"
(cd "$dir/threads" && "$square") || exit 1
# A short run is enough: 100 line searches, two major iterations.
awk 'NR == 3 { $5 = 100; $7 = 2 } { print }' "$dir/threads/input.txt" >"$dir/threads/input.short" &&
  mv "$dir/threads/input.short" "$dir/threads/input.txt"
cp "$dir/threads/input.txt" "$dir/refused/"
(cd "$dir/threads" && "$solver" 2>stderr.txt) || { echo "run with threads failed"; cat "$dir/threads/stderr.txt"; exit 1; }
(cd "$dir/refused" && ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" LD_PRELOAD="$preload" \
  "$solver" 2>stderr.txt)
status=$?
if [ $status -ne 0 ]; then
  echo "exit status $status with refused threads:"; cat "$dir/refused/stderr.txt"; exit 1
fi
[ -s "$dir/refused/stderr.txt" ] && { echo "unexpected standard error:"; cat "$dir/refused/stderr.txt"; exit 1; }
for f in output.txt autocad.scr; do
  cmp -s "$dir/threads/$f" "$dir/refused/$f" || { echo "$f differs with refused threads"; exit 1; }
done
echo "same files with refused threads"
