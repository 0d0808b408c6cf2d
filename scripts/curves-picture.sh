#!/bin/bash
# Renders docs/curves.png with the preview tool: three stages with three
# different curves (docs/curves/settings.json), one a row, each zooming in
# from the idle view, as seen every 0.2 s from the key's press on.
# Usage: scripts/curves-picture.sh PREVIEW [OUTPUT.png]
set -euo pipefail
preview=${1:?the tavimore-preview program}
out=${2:-docs/curves.png}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for n in 1 2 3; do
  printf '0 tap tavimore.stage_%s\n1.5 end\n' "$n" >"$work/timeline-$n.txt"
  "$here/tests/with-display.sh" "$preview" --settings "$here/docs/curves/settings.json" \
    --timeline "$work/timeline-$n.txt" --size 320x180 --fps 10 --no-gif --quiet \
    --output "$work/stage-$n"
  # frames 0, 2, ... 12: the press, then every 0.2 s until the stage is reached
  ffmpeg -loglevel error -y -framerate 10 -i "$work/stage-$n/frame-%04d.png" -vf \
    "select='not(mod(n\,2))',scale=144:81,tile=7x1:padding=4:margin=4:color=white" \
    -frames:v 1 "$work/row-$n.png"
done
ffmpeg -loglevel error -y -i "$work/row-1.png" -i "$work/row-2.png" -i "$work/row-3.png" \
  -filter_complex "[0][1][2]vstack=inputs=3,split[a][b];[a]palettegen=max_colors=64[p];[b][p]paletteuse=dither=none" \
  -frames:v 1 "$out"
