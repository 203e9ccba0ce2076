#!/usr/bin/env bash
# Measures, under a private Xvfb, how long after the last of 30 presses of m
# sent at 30 a second (a held key) the window shows the final image, and
# the same for a drag of 30 steps leftwards at 30 steps a second:
#   bash docs/measure-lag.sh [BUILD] [RUNS]
# Prints, for each run, the time from the moment xdotool has sent the last
# press to the moment the 30th image's "Calcul d'image fini" is on the
# console, and to the moment a capture of the window shows the picture of
# 30 presses (a capture takes some 50 ms itself); for the drag, how many
# images it computed and when the capture shows the same picture. Not a
# test: the figures depend on the machine and its load.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD=$(realpath "${1:-build}")
runs=${2:-5}
source tests/e2e/lib.sh
start_xvfb
dir=$SCRATCH/head
mkdir -p "$dir"
make_phantom "$dir"
keys=$(printf 'm%.0s' {1..30})
snapshot_in "$dir" "$SCRATCH/want.png" --size 256x256 --keys "$keys"
now() { echo $(($(date +%s%N) / 1000000)); }  # milliseconds
# The milliseconds from $1 to $2 as seconds.
seconds() { printf '%d.%03d' $((($2 - $1) / 1000)) $((($2 - $1) % 1000)); }
for run in $(seq "$runs"); do
  start_viewer "$dir"
  wait_images "$dir" 2
  win=$(window_id "^Crane$")
  xdotool windowfocus --sync "$win"
  sent_from=$(now)
  xdotool key --delay 33 $(printf 'm %.0s' {1..30})
  sent=$(now)
  for _ in $(seq 6000); do [ "$(image_count "$dir")" -ge 32 ] && break; sleep 0.005; done
  [ "$(image_count "$dir")" -ge 32 ] || fail "the 30th image did not come within 30 s"
  computed=$(now)
  for _ in $(seq 300); do
    capture "$win" "$SCRATCH/got.png"
    [ "$(differing_pixels "$SCRATCH/got.png" "$SCRATCH/want.png")" = 0 ] && break
  done
  shown=$(now)
  printf 'run %d, keys: presses sent in %s s; last image computed %s s and seen %s s after the last press\n' \
    "$run" "$(seconds "$sent_from" "$sent")" "$(seconds "$sent" "$computed")" "$(seconds "$sent" "$shown")"
  press "$win" Escape
  wait_viewer

  start_viewer "$dir"
  wait_images "$dir" 2
  win=$(window_id "^Crane$")
  xdotool windowmove --sync "$win" 400 100  # room on the screen for 300 pixels leftwards
  xdotool mousemove --window "$win" 250 100 mousedown 1
  moves=()
  for i in $(seq 30); do moves+=(mousemove --window "$win" -- $((250 - 10 * i)) 100 sleep 0.033); done
  sent_from=$(now)
  xdotool "${moves[@]}"
  sent=$(now)
  for _ in $(seq 300); do
    capture "$win" "$SCRATCH/got.png"
    [ "$(differing_pixels "$SCRATCH/got.png" "$SCRATCH/want.png")" = 0 ] && break
  done
  shown=$(now)
  printf 'run %d, drag: motion sent in %s s; %d images; the last seen %s s after the last motion\n' \
    "$run" "$(seconds "$sent_from" "$sent")" "$(($(image_count "$dir") - 2))" "$(seconds "$sent" "$shown")"
  xdotool mouseup 1
  press "$win" Escape
  wait_viewer
done
