#!/usr/bin/env bash
# The real viewer in a real window: start-up console output, title, the
# Escape key, the sphere hook, resizing and the command-line refusals.
source "$(dirname "$0")/lib.sh"
start_xvfb

head_dir="$SCRATCH/head"
mkdir -p "$head_dir"
make_phantom "$head_dir"

# Start-up on the head: the console tells the whole story in order, even
# with both streams in one file.
start_viewer "$head_dir"
wait_images "$head_dir" 2
win=$(window_id "^Crane$")
title=$(bounded "$X_LIMIT" xdotool getwindowname "$win")
[ "$title" = "Crane" ] || fail "title is '$title'"
read -r w h < <(bounded "$X_LIMIT" xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
[ "$w x $h" = "256 x 256" ] || fail "window is $w x $h"
max=$(head -c 2000 "$head_dir/console" | sed -n '2p' | tr -d '.')
expected=$(printf 'Chargement du crane\n%s%s\n1100.000000\n\nCalcul d'"'"'image fini\n1100.000000\n\nCalcul d'"'"'image fini' \
  "$(printf '%.0s.' $(seq 94))" "$max")
[ "$(cat "$head_dir/console")" = "$expected" ] || fail "start-up console differs: $(cat -A "$head_dir/console")"

# A resized window recomputes at its new size and keeps answering keys.
resize "$win" 300 200
wait_images "$head_dir" 3
press "$win" space
wait_images "$head_dir" 4
capture "$win" "$SCRATCH/resized.png"
size=$(identify -ping -format '%wx%h' "$SCRATCH/resized.png")
[ "$size" = "300x200" ] || fail "capture is $size, not 300x200"

press "$win" Escape
wait_viewer
[ "$VIEWER_STATUS" = 0 ] || fail "Escape ended the viewer with status $VIEWER_STATUS"

# The sphere hook: an empty volume in a window titled "Sphère" (Latin-1).
sphere_dir="$SCRATCH/sphere"
mkdir -p "$sphere_dir"
start_viewer "$sphere_dir" 1 extra
wait_images "$sphere_dir" 2
win=$(window_id "^Sph")
title=$(bounded "$X_LIMIT" xprop -id "$win" WM_NAME | sed 's/^WM_NAME([A-Z_]*) = //')
[ "$title" = '"Sphère"' ] || [ "$title" = "\"$(printf 'Sph\xe8re')\"" ] || fail "sphere title is $title"
[ "$(head -n 1 "$sphere_dir/console")" = "Calcul d'une sphere" ] || fail "sphere console: $(cat "$sphere_dir/console")"
# Black once drawn; until then the capture may show what lay beneath.
black() { [ "$(convert "$1" -format '%[fx:maxima.r+maxima.g+maxima.b]' info:)" = 0 ]; }
capture_until "$win" "$SCRATCH/sphere.png" "the black sphere image" black "$SCRATCH/sphere.png"
press "$win" Escape
wait_viewer
[ "$VIEWER_STATUS" = 0 ] || fail "Escape from the sphere: status $VIEWER_STATUS"

# Refusals end at once with status 1 and open no window.
for arg in 2 0 abc; do
  (cd "$sphere_dir" && bounded "$X_LIMIT" "$BUILD/crane" "$arg" >out 2>err) && fail "argument $arg succeeded" || status=$?
  [ "$status" = 1 ] || fail "argument $arg gave status $status"
  [ "$(cat "$sphere_dir/err")" = "$(printf ' Utilisation : %s [n]\nn = 1 : sphere , defaut : face' "$BUILD/crane")" ] ||
    fail "usage for $arg: $(cat "$sphere_dir/err")"
  [ ! -s "$sphere_dir/out" ] || fail "argument $arg wrote to standard output"
done
(cd "$sphere_dir" && bounded "$X_LIMIT" "$BUILD/crane" >out 2>err) && fail "a missing head loaded" || status=$?
[ "$status" = 1 ] || fail "missing head gave status $status"
[ "$(cat "$sphere_dir/out")" = "erreur d'ouverture du fichier fullHead/headsq.1" ] || fail "missing head: $(cat "$sphere_dir/out")"
[ "$(cat "$sphere_dir/err")" = "Chargement du crane" ] || fail "missing head stderr: $(cat "$sphere_dir/err")"
# The server closes a client's windows once it sees the connection end,
# which may come a moment after the process has.
no_window() { [ -z "$(timeout 10 xdotool search --name '.' 2>/dev/null)" ]; }
wait_for "$X_LIMIT" no_window || fail "a window was left open: $(timeout 10 xdotool search --name '.' getwindowname %@ 2>&1)"
echo "window test passed"
