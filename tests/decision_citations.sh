#!/usr/bin/env bash
# Tests and docs/decisions.md point at each other, and neither may point at
# nothing:
# - every test that cites an entry by its title ("See docs/decisions.md,
#   'Numbers that run into text'.") names an entry that exists;
# - every GoogleTest name an entry gives as holding it (`Suite.Case`,
#   `Prefix/Suite.*`) is a test of the build.
#   tests/decision_citations.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$1
doc=$root/docs/decisions.md
status=0
cited=0
while IFS= read -r title; do
  cited=$((cited + 1))
  if ! grep -qxF "### $title" "$doc"; then
    echo "cited but not an entry of docs/decisions.md: '$title'" >&2
    status=1
  fi
done < <(grep -rhoP "See docs/decisions\.md, '\K[^']+" --include='*.cpp' --include='*.h' --include='*.sh' \
           "$root/platform" "$root/model" "$root/energy" "$root/newton" "$root/solver" "$root/programs" \
           "$root/generators" "$root/mesh" "$root/viewer" \
           "$root/tests" "$root/fuzz" | sort -u)
tests=$(ctest --test-dir "$2" -N)
while IFS= read -r name; do
  [ "$name" = "Suite.Case" ] && continue  # the form, in the introduction
  pattern=$(printf '%s' "$name" | sed 's/\./\\./; s/\*/.*/g')
  if ! grep -qE ": ([A-Za-z]+/)?$pattern(/[0-9]+)?\$" <<<"$tests"; then
    echo "docs/decisions.md names $name, which is no test of the build" >&2
    status=1
  fi
done < <(grep -oP '`\K[A-Za-z_/]+\.[A-Za-z_*]+(?=`)' "$doc" | sort -u)
if [ "$cited" -eq 0 ]; then
  echo "no test cites docs/decisions.md" >&2
  status=1
fi
exit $status
