#!/usr/bin/env bash
# F1's help panel and the legend on the real window. F1 changes only the
# panel's rectangle (and, in the accumulation view, the threshold label's),
# prints nothing and computes no image; F1 again restores the picture
# exactly. crane-snapshot --legend --overlay paints the same pixels as the
# window in every view and at sizes that clip the legend and the panel.
source "$(dirname "$0")/lib.sh"
start_xvfb

dir="$SCRATCH/head"
mkdir -p "$dir"
make_phantom "$dir"
start_viewer "$dir"
wait_images "$dir" 2
win=$(window_id "^Crane$")
images=2
keys=""

resize() {
  xdotool windowsize --sync "$win" "${1%x*}" "${1#*x}"
  size=$1
  images=$((images + 1))
  wait_images "$dir" "$images"
}

press_key() {
  press "$win" "$1"
  keys+=$1
  images=$((images + 1))
  wait_images "$dir" "$images"
}

# The bounding box, as WxH+X+Y from the top-left corner, of the pixels that
# differ between two pictures.
changed_box() {
  compare "$1" "$2" -compose src -highlight-color white -lowlight-color black "$SCRATCH/changed.png" 2>/dev/null || true
  convert "$SCRATCH/changed.png" -format '%@' info:
}

# F1 on: only the panel (and label) rectangle changes; off: back exactly.
# The panel is 10 lines of 14 rows and 5 pixels of padding, 4 pixels from
# the bottom-left corner, as wide as its widest line (227 pixels) and 10.
toggle_panel() {
  local label=$1 expected_box=$2 console_before
  console_before=$(cat "$dir/console")
  # The console line of the last image comes before the window shows it:
  # wait for the picture itself, or F1's redraw would show that image too.
  snapshot_in "$dir" "$SCRATCH/want-off.png" --size "$size" --keys "$keys" --legend
  wait_for_picture "$win" "$SCRATCH/off.png" "$SCRATCH/want-off.png" "$label, panel off, against crane-snapshot"
  press "$win" F1
  for _ in $(seq 50); do
    capture "$win" "$SCRATCH/on.png"
    same_pixels "$SCRATCH/on.png" "$SCRATCH/off.png" || break
    sleep 0.1
  done
  local box
  box=$(changed_box "$SCRATCH/off.png" "$SCRATCH/on.png")
  [ "$box" = "$expected_box" ] || fail "$label: F1 changed the pixels in $box, not $expected_box"
  snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --keys "$keys" --legend --overlay
  wait_for_picture "$win" "$SCRATCH/got.png" "$SCRATCH/want.png" "$label, panel on, against crane-snapshot"
  press "$win" F1
  for _ in $(seq 50); do
    capture "$win" "$SCRATCH/off-again.png"
    same_pixels "$SCRATCH/off-again.png" "$SCRATCH/off.png" && break
    sleep 0.1
  done
  same_pixels "$SCRATCH/off-again.png" "$SCRATCH/off.png" || fail "$label: F1 twice does not restore the picture"
  sleep 0.3
  [ "$(cat "$dir/console")" = "$console_before" ] || fail "$label: F1 printed or computed something"
  echo "ok: $label"
}

resize 360x270
toggle_panel "surface at 360 x 270" "237x150+4+116"
press_key r
# In the accumulation view the panel and the threshold label next to the
# legend's red end: one box from the label's top to the panel's bottom.
toggle_panel "accumulation at 360 x 270" "237x248+4+18"

# The legend and the panel against crane-snapshot, panel on, at sizes that
# move the legend (it hangs from the top edge) and clip both.
press "$win" F1
for s in 257x30 31x20 600x17 83x29 640x120 1024x700 200x333; do
  resize "$s"
  for k in "" r r r r; do
    [ -n "$k" ] && press_key "$k"
    snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --keys "$keys" --legend --overlay
    wait_for_picture "$win" "$SCRATCH/got.png" "$SCRATCH/want.png" "panel on at $size, keys '$keys'"
  done
  echo "ok: every view with the panel at $size"
done
# And the legend alone, panel off, at the same sizes.
press "$win" F1
for s in 257x30 83x29 640x120 200x333; do
  resize "$s"
  snapshot_in "$dir" "$SCRATCH/want.png" --size "$size" --keys "$keys" --legend
  wait_for_picture "$win" "$SCRATCH/got.png" "$SCRATCH/want.png" "legend at $size"
  echo "ok: the legend at $size"
done

press "$win" Escape
wait_viewer
[ "$VIEWER_STATUS" = 0 ] || fail "Escape: status $VIEWER_STATUS"
echo "overlay test passed"
