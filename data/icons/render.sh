#!/usr/bin/env bash
# Regenerates the committed PNG icons from the SVG drawings, so that building
# the player needs no SVG converter. Needs rsvg-convert (package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for n in 16 32 48 64 128 256; do
    # The full drawing blurs at 16 px; that size has its own pixel-grid drawing.
    src=kinolite.svg
    [ "$n" -eq 16 ] && src=kinolite-16.svg
    mkdir -p "hicolor/${n}x${n}/apps"
    rsvg-convert -w "$n" -h "$n" "$src" -o "hicolor/${n}x${n}/apps/kinolite.png"
done
