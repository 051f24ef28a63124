#!/usr/bin/env bash
# Renders an SVG file to a PNG with headless chromium, as a browser shows it.
#   render_svg.sh picture.svg picture.png [width height]
# Exit status 77 when chromium is not installed.
set -euo pipefail
svg=$(realpath "$1")
png=$2
width=${3:-800}
height=${4:-600}
browser=$(command -v chromium || true)
if [ -z "$browser" ]; then
  echo "chromium is not installed: not rendering $1"
  exit 77
fi
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
"$browser" --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update \
  --disable-sync --no-first-run --hide-scrollbars --user-data-dir="$profile" --screenshot="$png" \
  --window-size="$width,$height" "file://$svg" >/dev/null 2>&1
[ -s "$png" ] || { echo "chromium wrote no picture for $1"; exit 1; }
