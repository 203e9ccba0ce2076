#!/usr/bin/env bash
# Drives the real viewer through all four views with real key presses and
# checks that the window shows exactly what crane-snapshot computes for the
# same keys and size, and the legend only in the accumulation view.
source "$(dirname "$0")/lib.sh"
start_xvfb

dir="$SCRATCH/head"
mkdir -p "$dir"
make_phantom "$dir"
start_viewer "$dir"
wait_images "$dir" 2
win=$(window_id "^Crane$")

keys=""      # every key pressed so far, as crane-snapshot replays them
images=2     # images computed so far
size=256x256

# The legend's swatches, counted from the top-left corner: 8 to 15 and 23
# to 30 pixels below the top edge, columns 10 to 25.
legend_mask="rectangle 0,0 140,40"

# Presses the keys of a crane-snapshot key string, one by one.
press_keys() {
  local k name
  for ((i = 0; i < ${#1}; i++)); do
    k=${1:i:1}
    case "$k" in
      +) name=plus ;; -) name=minus ;; " ") name=space ;; *) name=$k ;;
    esac
    press "$win" "$name"
    images=$((images + 1))
    wait_images "$dir" "$images"
  done
  keys+=$1
}

# Compares the window with crane-snapshot; in the accumulation view the
# legend's corner is left out of the comparison and its swatches checked.
check_view() {
  local label=$1 mode=$2
  (cd "$dir" && bounded "$IMAGE_LIMIT" "$BUILD/crane-snapshot" --size "$size" --keys "$keys" --out "$SCRATCH/want.png" >/dev/null 2>"$SCRATCH/snapshot.err") ||
    fail "$label: crane-snapshot failed: $(cat "$SCRATCH/snapshot.err")"
  local diff=unknown
  # The window draws an image after it is computed: capture until it shows.
  capture_matches() {
    capture "$win" "$SCRATCH/got.png"
    if [ "$mode" = 1 ]; then
      convert "$SCRATCH/got.png" -fill black -draw "$legend_mask" "$SCRATCH/got-masked.png"
      convert "$SCRATCH/want.png" -fill black -draw "$legend_mask" "$SCRATCH/want-masked.png"
      diff=$(differing_pixels "$SCRATCH/got-masked.png" "$SCRATCH/want-masked.png")
    else
      diff=$(differing_pixels "$SCRATCH/got.png" "$SCRATCH/want.png")
    fi
    [ "$diff" = 0 ]
  }
  wait_for "$X_LIMIT" capture_matches ||
    fail "$label: $diff pixels differ from crane-snapshot after $X_LIMIT s (keys '$keys', size $size)"
  local blue red
  blue=$(pixel "$SCRATCH/got.png" 17 11)
  red=$(pixel "$SCRATCH/got.png" 17 26)
  if [ "$mode" = 1 ]; then
    [ "$blue" = "0,0,255" ] || fail "$label: low-density swatch is $blue"
    [ "$red" = "255,0,0" ] || fail "$label: high-density swatch is $red"
  else
    [ "$blue" = "$(pixel "$SCRATCH/want.png" 17 11)" ] || fail "$label: legend drawn outside the accumulation view"
  fi
  echo "ok: $label"
}

check_view "surface" 0
press_keys r;     check_view "accumulation" 1
press_keys xxx;   check_view "accumulation, threshold 3700" 1
press_keys r;     check_view "split" 2
press_keys rcc;   check_view "slice 88" 3
press_keys r++qw; check_view "surface from layer 20" 0
press_keys om;    check_view "turned surface" 0

resize "$win" 385 200
size=385x200
images=$((images + 1)); wait_images "$dir" "$images"
check_view "surface at 385 x 200" 0
press_keys rr;    check_view "split at an odd width" 2
press_keys rrr;   check_view "accumulation at 385 x 200" 1

press "$win" Escape
wait_viewer
[ "$VIEWER_STATUS" = 0 ] || fail "Escape: status $VIEWER_STATUS"
echo "views test passed"
