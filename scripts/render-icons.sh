#!/usr/bin/env bash
# Renders the window's icon (app/icons/amazon-sqs.svg) into the fixed hicolor sizes that are
# installed beside the scalable one. Run it after changing the SVG and commit the PNGs; the
# build itself does not need an SVG renderer. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../app/icons"
for size in 16 22 24 32 48 64 128; do
  mkdir -p "hicolor/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" amazon-sqs.svg -o "hicolor/${size}x${size}/amazon-sqs.png"
done
