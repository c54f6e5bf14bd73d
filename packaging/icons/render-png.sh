#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from its SVG (needs rsvg-convert from
# librsvg2-bin). The PNGs are checked in, so building never needs this.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert -w "$size" -h "$size" io.github.sonabi.Sonabi.svg \
        -o "${size}x${size}/io.github.sonabi.Sonabi.png"
done
