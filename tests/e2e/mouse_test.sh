#!/usr/bin/env bash
# The mouse on the real window. A left drag turns the head by the keys' own
# steps, 10 pixels a step (leftwards m, rightwards k, downwards o, upwards
# l): the window then equals crane-snapshot with those keys, and a drag back
# to the press point restores the first picture byte for byte. A burst of
# motion renders far fewer images than events and ends on the latest
# angles. The wheel acts as the keys of the view's own value, with the
# same console lines.
source "$(dirname "$0")/lib.sh"
start_xvfb

dir="$SCRATCH/head"
mkdir -p "$dir"
make_phantom "$dir"
start_viewer "$dir"
wait_images "$dir" 2
win=$(window_id "^Crane$")
xdotool windowsize --sync "$win" 300 220
wait_images "$dir" 3
size=300x220
images=3

# Waits for one more image, then for the window to show what crane-snapshot
# computes for keys $1.
expect_view() {
  images=$((images + 1))
  wait_images "$dir" "$images"
  snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --keys "$1" --legend
  wait_for_picture "$win" "$SCRATCH/got.png" "$SCRATCH/want.png" "$2 (keys '$1')"
  echo "ok: $2"
}

# Drags of whole steps from (150, 110), the button held throughout.
snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --legend
wait_for_picture "$win" "$SCRATCH/start.png" "$SCRATCH/want.png" "the first picture"
xdotool mousemove --window "$win" 150 110 mousedown 1
xdotool mousemove --window "$win" 120 110
expect_view mmm "30 pixels leftwards"
xdotool mousemove --window "$win" 150 139
expect_view oo "29 pixels downwards"
xdotool mousemove --window "$win" 171 100
expect_view kkl "21 pixels rightwards, 10 upwards"
xdotool mousemove --window "$win" 150 110
images=$((images + 1))
wait_images "$dir" "$images"
for _ in $(seq 50); do
  capture "$win" "$SCRATCH/back.png"
  same_pixels "$SCRATCH/back.png" "$SCRATCH/start.png" && break
  sleep 0.1
done
same_pixels "$SCRATCH/back.png" "$SCRATCH/start.png" || fail "the drag back does not restore the first picture"
echo "ok: back at the press point, the first picture"
xdotool mouseup 1
sleep 0.5
[ "$(image_count "$dir")" = "$images" ] || fail "the release at the press point computed an image"

# A burst: the viewer is stopped while 200 motion events, each one a step
# from the last, reach its queue; once it runs again they cost one image,
# not 200, and the picture is that of the last pointer: 16 steps
# rightwards, 5 downwards.
xdotool mousemove --window "$win" 20 20 mousedown 1
sleep 0.5
moves=()
for i in $(seq 200); do moves+=(mousemove --window "$win" $((20 + 10 * (i % 23))) $((20 + 10 * (i % 13)))); done
kill -STOP "$VIEWER_PID"
timeout 60 xdotool "${moves[@]}" || { kill -CONT "$VIEWER_PID"; fail "xdotool could not send the burst"; }
before=$(image_count "$dir")
kill -CONT "$VIEWER_PID"
keys=kkkkkkkkkkkkkkkkooooo
snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --keys "$keys" --legend
wait_for_picture "$win" "$SCRATCH/got.png" "$SCRATCH/want.png" "after a burst of 200 motion events"
sleep 0.5
burst=$(($(image_count "$dir") - before))
echo "a burst of 200 motion events: $burst image(s)"
[ "$burst" -ge 1 ] && [ "$burst" -le 3 ] || fail "a burst of 200 motion events computed $burst images"
xdotool mouseup 1
images=$(image_count "$dir")

# The wheel in each view: up twice and down once, each step the key of the
# view's value, with that key's console lines.
wheel() {
  local mode=$1 keys=$2 expected=$3 before
  before=$(wc -c <"$dir/console")
  xdotool mousemove --window "$win" 100 100
  for button in 4 4 5; do xdotool click "$button"; done
  images=$((images + 3))
  wait_images "$dir" "$images"
  local lines
  lines=$(tail -c +$((before + 1)) "$dir/console")
  [ "$lines" = "$(printf "$expected")" ] || fail "wheel in mode $mode printed: $(printf '%s' "$lines" | cat -A)"
  all_keys+=$keys
  snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --keys "$all_keys" --legend
  wait_for_picture "$win" "$SCRATCH/got.png" "$SCRATCH/want.png" "wheel in mode $mode (keys '$all_keys')"
  echo "ok: wheel in mode $mode acts as $keys"
}
all_keys=$keys
done_line='\nCalcul d'"'"'image fini\n'
wheel 0 qqw "1200.000000\n$done_line""1300.000000\n$done_line""1200.000000\n$done_line"
press "$win" r
images=$((images + 1)); wait_images "$dir" "$images"; all_keys+=r
wheel 1 ssx "Seuil de densite = 4100.000000$done_line""Seuil de densite = 4200.000000$done_line""Seuil de densite = 4100.000000$done_line"
press "$win" r
images=$((images + 1)); wait_images "$dir" "$images"; all_keys+=r
wheel 2 qqw "1300.000000\n$done_line""1400.000000\n$done_line""1300.000000\n$done_line"
press "$win" r
images=$((images + 1)); wait_images "$dir" "$images"; all_keys+=r
wheel 3 ddc "numero de couche = 91$done_line""numero de couche = 92$done_line""numero de couche = 91$done_line"

press "$win" Escape
wait_viewer
[ "$VIEWER_STATUS" = 0 ] || fail "Escape: status $VIEWER_STATUS"
echo "mouse test passed"
