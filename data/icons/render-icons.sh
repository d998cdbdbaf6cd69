#!/usr/bin/env bash
# Renders the program's icon at every size the desktop asks for, from the SVG beside this script.
# The PNGs are committed, so a build needs no converter; run this again after editing the SVG
# (needs rsvg-convert, Debian's librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
name=org.example.tallyweave.Tallyweave
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$name.svg" -o "hicolor/${size}x${size}/apps/$name.png"
done
