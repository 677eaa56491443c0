#!/usr/bin/env bash
# Writes the icon's PNG sizes from its SVG (rsvg-convert, Debian package librsvg2-bin). The PNG
# files are kept in the repository, so that building and packaging need no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" xr4000-nova-updater.svg -o "xr4000-nova-updater-$size.png"
done
