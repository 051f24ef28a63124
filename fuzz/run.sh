#!/usr/bin/env bash
# Fuzzes one reader for a bounded time with libFuzzer.
#   fuzz/run.sh TARGET SECONDS      TARGET: model ("input.txt") or square ("square.txt")
#
# libFuzzer comes with clang, not with the g++ that builds the project, so
# the target is compiled here from the project sources, outside CMake, with
# AddressSanitizer and UndefinedBehaviorSanitizer, into build/fuzz/. Needs
# the Debian packages clang and libclang-rt-14-dev (or a clang++ whose
# -fsanitize=fuzzer links).
#
# The corpus starts each run from the seeds fuzz/seeds.txt lists for TARGET
# and from fuzz/regressions/TARGET/, in a scratch folder under build/fuzz/. An input
# that crashes, leaks, times out or escapes with anything but a
# platform::Failure is written there by libFuzzer as crash-*, leak-*,
# timeout-* or oom-*; this script copies it into fuzz/regressions/TARGET/,
# where the normal test suite replays it, and exits with status 1.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 model|square SECONDS" >&2
  exit 2
fi
target=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
case "$target" in
  model)
    define=ROBUST_TARGET_MODEL
    # The solver's model steps with the Green law: the reader, set-up (with
    # the prestress) and loads, the energy evaluator with its element loops,
    # the law, and the gas of the chambers.
    sources=("$root/fuzz/entry_model.cpp")
    for f in model/input model/setup model/prestress model/loads energy/evaluator energy/kernel_path energy/law_green \
             energy/gas; do
      sources+=("$root/$f.cpp")
    done
    max_len=16384
    ;;
  square)
    define=ROBUST_TARGET_SQUARE
    # The generator's reader and what it links: generators/ without tests
    # and benchmarks, and the model library's writer they describe their
    # models to.
    sources=("$root/fuzz/entry_square.cpp" "$root/model/model_writer.cpp")
    for f in "$root"/generators/*.cpp; do
      case "$(basename "$f")" in
        *_test.cpp | *_benchmark.cpp) ;;
        *) sources+=("$f") ;;
      esac
    done
    max_len=4096
    ;;
  *)
    echo "$0: unknown target \"$target\" (model or square)" >&2
    exit 2
    ;;
esac
cxx=${CXX_FUZZ:-clang++}
if ! command -v "$cxx" >/dev/null; then
  echo "$0: $cxx not found; install the Debian packages clang and libclang-rt-14-dev" >&2
  exit 2
fi

out=$root/build/fuzz
mkdir -p "$out"
binary=$out/fuzz_$target
# The platform sources, without their tests.
platform=()
for f in "$root"/platform/*.cpp; do
  case "$f" in *_test.cpp) ;; *) platform+=("$f") ;; esac
done
"$cxx" -std=c++20 -g -O1 -pthread -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -ffp-contract=off -Wno-psabi -D"$define" -I"$root" \
  "$root/fuzz/fuzz_target.cpp" "${sources[@]}" "${platform[@]}" -o "$binary"

# A fresh corpus each run: what earlier runs found interesting is not kept
# (only seeds and regressions are part of the project).
work=$out/$target
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
while read -r seed_target seed_file; do
  case "$seed_target" in "#"* | "") continue ;; esac
  if [ "$seed_target" = "$target" ]; then
    cp "$root/$seed_file" "$work/corpus/$(printf '%s' "$seed_file" | tr / _)"
  fi
done <"$root/fuzz/seeds.txt"
if compgen -G "$root/fuzz/regressions/$target/*" >/dev/null; then
  cp "$root/fuzz/regressions/$target/"* "$work/corpus/"
fi

status=0
(cd "$work" && ASAN_OPTIONS=detect_leaks=1 "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -timeout=10 -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$work/artifacts/" corpus) \
  >"$work/log.txt" 2>&1 || status=$?
grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE' "$work/log.txt" || true

found=0
for f in "$work/artifacts/"*; do
  [ -e "$f" ] || continue
  name=$(basename "$f")
  cp "$f" "$root/fuzz/regressions/$target/$name"
  echo "$target: libFuzzer found $name; kept as fuzz/regressions/$target/$name"
  found=1
done
if [ $status -ne 0 ] || [ $found -ne 0 ]; then
  echo "$target: fuzzing failed (status $status); the log is $work/log.txt" >&2
  tail -40 "$work/log.txt" >&2
  exit 1
fi
echo "$target: no failure in $seconds s"
