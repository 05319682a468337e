#!/usr/bin/env bash
# Renders the PNG sizes of the program's icon from kelvano.svg (needs rsvg-convert, Debian
# package librsvg2-bin). The PNGs are kept in the tree so that building needs no renderer;
# run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" kelvano.svg -o "kelvano-$size.png"
done
