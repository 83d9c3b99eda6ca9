#!/usr/bin/env bash
# Renders padcom.svg into the sizes desktops look for. Run after changing the drawing; the
# pictures are kept beside it, so that building needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
bash ../../scripts/deps.sh librsvg2-bin
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" padcom.svg -o "padcom-$size.png"
done
