#!/usr/bin/env bash
# Regenerates the pictures of the README from the phantom head:
#   bash docs/make-pictures.sh [BUILD]
# The accumulation view is captured from the real window under a private
# Xvfb, since only the window draws the legend; the others come from
# crane-snapshot.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build}")
DOCS=$PWD/docs
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cd "$work"
"$BUILD/crane-phantom" fullHead 2>/dev/null
shot() { "$BUILD/crane-snapshot" --size 384x384 --keys "$1" --out "$DOCS/$2" >/dev/null 2>&1; }
shot "" surface.png
shot rr split.png
shot rrr slice.png
shot mmmoo turned.png
shot qqqqqqqqq bone.png
# The help panel (F1) over the accumulation view and its legend, and over
# the surface, as crane-snapshot paints them: the window's very pixels.
"$BUILD/crane-snapshot" --size 384x384 --keys rmmmoo --legend --overlay --out "$work/panel-1.png" >/dev/null 2>&1
"$BUILD/crane-snapshot" --size 384x384 --keys mmmoo --legend --overlay --out "$work/panel-0.png" >/dev/null 2>&1
convert "$work/panel-1.png" "$work/panel-0.png" +append "$DOCS/overlay.png"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display >/dev/null 2>&1 &
for _ in $(seq 50); do [ -s display ] && break; sleep 0.1; done
export DISPLAY=":$(cat display)"
"$BUILD/crane" >/dev/null 2>&1 &
for _ in $(seq 100); do win=$(xdotool search --onlyvisible --name '^Crane$' 2>/dev/null | head -n 1) && [ -n "$win" ] && break; sleep 0.1; done
xdotool windowsize --sync "$win" 384 384
xdotool windowfocus --sync "$win"
xdotool key r
sleep 1
import -window "$win" "$DOCS/accumulation.png"
xdotool key Escape


# A real scan, where Debian's mricron-data provides one: the Colin 27 MR head.
colin=/usr/share/mricron/templates/ch2.nii.gz
if [ -f "$colin" ] && [ -x "$BUILD/crane-import" ]; then
  mkdir -p "$work/colin" && cd "$work/colin"
  "$BUILD/crane-import" "$colin" >/dev/null 2>&1
  "$BUILD/crane-snapshot" --size 384x384 --out front.png >/dev/null 2>&1
  "$BUILD/crane-snapshot" --size 384x384 --keys mmmmmmmmmmmmmmm --out side.png >/dev/null 2>&1
  convert front.png side.png +append "$DOCS/imported.png"
fi
echo "pictures written to $DOCS"
