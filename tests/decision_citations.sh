#!/usr/bin/env bash
# Every test that cites docs/decisions.md by an entry's title ("See
# docs/decisions.md, 'Numbers that run into text'.") must name an entry that
# exists, so that renaming or dropping an entry cannot leave a test pointing
# at nothing.
#   tests/decision_citations.sh SOURCE_DIR
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
           "$root/platform" "$root/solver" "$root/generator" "$root/square" "$root/examples" "$root/viewer" \
           "$root/tests" "$root/fuzz" | sort -u)
if [ "$cited" -eq 0 ]; then
  echo "no test cites docs/decisions.md" >&2
  status=1
fi
exit $status
