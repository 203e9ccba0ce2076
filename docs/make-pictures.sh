#!/usr/bin/env bash
# Regenerates the pictures of the README from the phantom head:
#   bash docs/make-pictures.sh [BUILD]
# The accumulation view is captured from the real window under a private
# Xvfb, since only the window draws the legend; the others come from
# crane-snapshot. The window is driven with the end-to-end tests' helpers:
# the same private server and the same bounded waits.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD=$(realpath "${1:-build}")
DOCS=$PWD/docs
source tests/e2e/lib.sh

cd "$SCRATCH"
make_phantom "$SCRATCH"
shot() { bounded 300 "$BUILD/crane-snapshot" --size 384x384 --keys "$1" --out "$DOCS/$2" >/dev/null 2>&1; }
shot "" surface.png
shot rr split.png
shot rrr slice.png
shot mmmoo turned.png
shot qqqqqqqqq bone.png
shot qqqqqqqqqmmmmmmmmmmmmmmm bone-side.png
# The help panel (F1) over the accumulation view and its legend, and over
# the surface, as crane-snapshot paints them: the window's very pixels.
"$BUILD/crane-snapshot" --size 384x384 --keys rmmmoo --legend --overlay --out "$SCRATCH/panel-1.png" >/dev/null 2>&1
"$BUILD/crane-snapshot" --size 384x384 --keys mmmoo --legend --overlay --out "$SCRATCH/panel-0.png" >/dev/null 2>&1
convert "$SCRATCH/panel-1.png" "$SCRATCH/panel-0.png" +append "$DOCS/overlay.png"

start_xvfb
start_viewer "$SCRATCH"
wait_images "$SCRATCH" 2
win=$(window_id '^Crane$')
resize "$win" 384 384
wait_images "$SCRATCH" 3
press "$win" r
wait_images "$SCRATCH" 4
# The legend's swatches are drawn with the accumulation image, in the same
# frame: once they show, so does the image.
legend_shown() { [ "$(pixel "$1" 17 11)" = "0,0,255" ] && [ "$(pixel "$1" 17 26)" = "255,0,0" ]; }
capture_until "$win" "$DOCS/accumulation.png" "the accumulation view with its legend" \
  legend_shown "$DOCS/accumulation.png"
press "$win" Escape
wait_viewer

# A real scan, where Debian's mricron-data provides one: the Colin 27 MR head.
colin=/usr/share/mricron/templates/ch2.nii.gz
if [ -f "$colin" ] && [ -x "$BUILD/crane-import" ]; then
  mkdir -p "$SCRATCH/colin" && cd "$SCRATCH/colin"
  bounded 300 "$BUILD/crane-import" "$colin" >/dev/null 2>&1
  bounded 300 "$BUILD/crane-snapshot" --size 384x384 --out front.png >/dev/null 2>&1
  bounded 300 "$BUILD/crane-snapshot" --size 384x384 --keys mmmmmmmmmmmmmmm --out side.png >/dev/null 2>&1
  convert front.png side.png +append "$DOCS/imported.png"
fi
echo "pictures written to $DOCS"
